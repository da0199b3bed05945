// The IR builder's host side: the text core's builder on a reading's lines,
// each record's settings evaluated where the builder reaches them, and the
// replaceable steps adapted to it.
//
// Where nobody can tell the difference (see `settling`), each element also
// goes into the instances and placements of its netlist as it is read, while
// its line is at hand: the assembly then only connects the terminals.
//
// While a step is the module's own, the text core does it on UTF-8 views; a
// replaced step is called with host objects, and what it returns is read
// back into views here, at this one boundary.
#include "spiceread/ir_build.hpp"

#include <utility>

#include "common/args.hpp"
#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/unpack.hpp"
#include "common/utf8.hpp"
#include "spiceread/location.hpp"
#include "spiceread/module.hpp"
#include "spiceread/process.hpp"
#include "spiceread/settings.hpp"
#include "spiceread/strings.hpp"
#include "spiceread/values.hpp"

namespace tessel::spiceread {

namespace {

// The builder's own steps, evaluating the settings of each record.
class Evaluator : public text::Steps {
public:
    // `settle`: the keymap of the netlist that element settings are patched
    // for as they are read, or null.
    Evaluator(Ir &ir, Route &route, nb::handle kwargs, const nb::dict *settle = nullptr)
        : ir_(ir), route_(route), kwargs_(kwargs), settle_(settle) {}

    bool is_identifier(std::string_view word) override { return tessel::is_identifier(word); }

    void subckt_opened(const text::Netlist &netlist, std::uint32_t index, const text::Words &words) override {
        ir_.subckt_settings.push_back(evaluate(words, kwargs_, {&ir_.source, netlist.subckts[index].where}));
        ir_.subckt_records.emplace_back();
        ir_.parent_ids.emplace_back();
        overlays_.emplace_back();
        ir_.parent_ids[index] = parent_id(netlist, index);
        if (settle_) ir_.ready.emplace_back();
    }

    void element_read(const text::Netlist &netlist, std::uint32_t index, const text::Words &words) override {
        const text::Element &element = netlist.elements[index];
        nb::handle kwargs = element_kwargs(element.parent);
        SettingsRef ref = evaluate(words, kwargs, {&ir_.source, element.where});
        if (!settle_) return ir_.element_settings.push_back(std::move(ref));
        // Made ready for the netlist while they are at hand; the items are spent then.
        make_ready(element, settle(ir_.items(ref), ref.size, *settle_));
        ir_.settings.resize(ref.begin);
    }

    void subckt_closed(const text::Netlist &, std::uint32_t index) override {
        if (settle_) ir_.ready[index] = std::exchange(pending_, {});
    }

protected:
    nb::list list_of(const text::Words &words) {
        return list_of_words(words.data(), words.size(), [this](std::string_view w) { return ir_.str(w); });
    }

    Ir &ir_;
    Route &route_;

private:
    // `_get_parent_id(parents)`: invalid while the builder's own id stands.
    nb::object parent_id(const text::Netlist &netlist, std::uint32_t index) {
        if (route_.own(Name::_get_parent_id)) return {};
        // The open subcircuits, outermost first, as records.
        nb::list parents;
        for (std::uint32_t k = 0; k < index; ++k)
            if (!netlist.subckts[k].closed) parents.append(ir_.subckt_record(k));
        return call(route_.get(Name::_get_parent_id), parents);
    }

    // Enters `element` in the instances of the children read since the last
    // close, and its placement in theirs while each comment reads ahead.
    void make_ready(const text::Element &element, nb::object settings) {
        const Interned &keys = process().names;
        ReadySubckt &ready = pending_;
        if (!ready.instances.is_valid()) ready = {new_dict(), new_dict()};
        nb::object name = ir_.element_names.emplace_back(ir_.str(element.name));
        set_item(ready.instances, name,
                 new_dict({{keys.component, ir_.component(element.component)}, {keys.settings, settings}}));
        ready.commas = ready.commas || may_hold_comma(name.ptr());
        if (element.comment.empty() || !ready.placements.is_valid()) return;
        nb::object placement = ready_placement(element.comment, route_);
        if (!placement.is_valid())
            ready.placements.reset();  // this one waits for the assembly, and so do the others
        else if (!placement.is_none())
            set_item(ready.placements, name, placement);
    }

    // `_get_ir_settings(words, **kwargs)`.
    SettingsRef evaluate(const text::Words &words, nb::handle kwargs, const Where &where) {
        if (!route_.own(Name::_get_ir_settings))
            return {.dict = call_with_kwargs(route_.get(Name::_get_ir_settings), {list_of(words)}, kwargs)};
        SettingsRef ref;
        ref.begin = static_cast<std::uint32_t>(ir_.settings.size());
        read_settings(
            words, kwargs, route_, where,
            [this](std::string_view key, Value value) { ir_.settings.push_back({ir_.str(key), std::move(value)}); },
            &ir_.strings);
        ref.size = static_cast<std::uint32_t>(ir_.settings.size()) - ref.begin;
        return ref;
    }

    // The caller's keyword values overlaid with the settings of the
    // innermost subcircuit, made once per subcircuit.
    nb::handle element_kwargs(std::uint32_t parent) {
        nb::object &overlay = overlays_[parent];
        nb::object record = ir_.subckt_records[parent];
        if (overlay.is_valid() && !record.is_valid()) return overlay;
        // A record handed to a replaced step may have been changed: read it afresh.
        nb::object settings = record.is_valid() ? get_attr(record, process().names.settings)
                                                : ir_.settings_dict(ir_.subckt_settings[parent]);
        overlay = checked(PyDict_Copy(kwargs_.ptr()));
        checked(PyDict_Update(overlay.ptr(), settings.ptr()));
        return overlay;
    }

    nb::handle kwargs_;
    const nb::dict *settle_;
    std::vector<nb::object> overlays_;  // by subcircuit index
    ReadySubckt pending_;  // the children read since the last close, while settling
};

// Whether every key of `dict` is an exact str: a look-up in it runs no Python code.
bool str_keys_only(const nb::dict &dict) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict.ptr(), &pos, &key, &value))
        if (!PyUnicode_CheckExact(key)) return false;
    return true;
}

// The keymap to settle element settings with as they are read (see
// `settles_while_reading`), or null.  Only while nothing the builder calls
// runs Python code: the assembly's names are looked up before their first
// use then, and nobody can tell.  A settled element is entered in the
// instances of its netlist (`ReadySubckt`), its component looked up in
// `component_map`.
const nb::dict *settling(const nb::dict *netlist_keymap, const nb::dict &component_map, nb::handle kwargs,
                         Route &route) {
    if (!netlist_keymap ||
        !route.own({Name::_get_ir_settings, Name::_get_parent_id, Name::_parse_value, Name::_eval, Name::ast}) ||
        !route.own({Name::_recursive_netlist_from_ir, Name::_netlist_from_subckt}) ||
        !str_keys_only(component_map))
        return nullptr;
    return settles_while_reading(*netlist_keymap, kwargs, route) ? netlist_keymap : nullptr;
}

// The adapters of replaced steps: each step is the module's own, or the
// replacement called with host objects and read back into views.
class HostSteps final : public Evaluator {
public:
    using Evaluator::Evaluator;

    // Whether a step the builder takes on each line is replaced.
    static bool needed(Route &route) {
        return !route.own({Name::_split_comments, Name::_split_words, Name::_filter_empty,
                           Name::_handle_sources, Name::_get_ir_ports});
    }

    // `_split_comments(line)`: of the host `line` when the lines come as
    // host objects, else of `text`.
    text::CommentSplit split_comments(nb::handle line, std::string_view text) {
        statement_.reset();
        if (route_.own(Name::_split_comments)) {
            if (line.is_valid()) text = utf8_kept(exact_str(line, "_split_comments", "line"), ir_.keep);
            return text::split_comments(text);
        }
        nb::handle object = line.is_valid() ? line : keep(str_from_utf8(text));
        auto [statement, comment] = unpack_pair(call(route_.get(Name::_split_comments), object));
        statement_ = statement;
        return {text_of(statement), text_of(comment), true};
    }
    text::CommentSplit split_comments(std::string_view text) override { return split_comments(nb::handle(), text); }

    // `_filter_empty(_split_words(statement))`.
    void split_words(std::string_view statement, text::Words &out) override {
        if (route_.own({Name::_split_words, Name::_filter_empty})) {
            if (statement_.is_valid()) exact_str(statement_, "_split_words", "line");
            return text::split_words(statement, out);
        }
        nb::handle object = statement_.is_valid() ? nb::handle(statement_) : keep(str_from_utf8(statement));
        nb::object words = call(route_.get(Name::_split_words), object);
        views_of(call(route_.get(Name::_filter_empty), words), "_split_words", out);
    }

    void handle_sources(text::Words &words, text::Arena &arena) override {
        if (route_.own(Name::_handle_sources)) return text::Steps::handle_sources(words, arena);
        nb::object result = call(route_.get(Name::_handle_sources), list_of(words));
        words.clear();
        views_of(result, "_handle_sources", words);
    }

    void ir_ports(const text::Words &words, text::Words &out) override {
        if (route_.own(Name::_get_ir_ports)) return text::Steps::ir_ports(words, out);
        views_of(call(route_.get(Name::_get_ir_ports), list_of(words)), "_get_ir_ports", out);
    }

private:
    nb::handle keep(nb::object object) {
        ir_.keep.push_back(std::move(object));
        return ir_.keep.back();
    }

    // A statement or comment: empty when false, as the builder tests them.
    std::string_view text_of(nb::handle item) {
        if (!truthy(item)) return {};
        require_str_item(item, "_split_comments");
        return utf8_kept(item, ir_.keep);
    }

    void views_of(nb::handle iterable, const char *step, text::Words &out) {
        for (nb::handle item : iterable) {
            require_str_item(item, step);
            out.push_back(utf8_kept(item, ir_.keep));
        }
    }

    nb::object statement_;  // what a replaced `_split_comments` gave for the line at hand
};

// The host error for a statement the builder refused.
nb::python_error build_error(const text::BuildError &error) {
    using Kind = text::BuildError::Kind;
    PyObject *type = PyExc_ValueError;
    switch (error.kind) {
        case Kind::EndsBeforeBegin:
        case Kind::UnsupportedCommand: type = process().parse_error.ptr(); break;
        case Kind::SubcktWithoutName: type = PyExc_ValueError; break;
        case Kind::ElementWithoutComponent: type = PyExc_IndexError; break;
    }
    PyErr_SetObject(type, str_from_utf8(error.message).ptr());
    return nb::python_error();
}

// Feeds one line (`feed(builder)`); an error on the way out says where its
// statement stands.
template <typename Feed>
void feeding(const Source &source, text::Position where, Feed &&feed) {
    try {
        feed();
    } catch (const text::BuildError &refused) {
        nb::python_error error = build_error(refused);
        source.note(error, where);
        throw error;
    } catch (nb::python_error &error) {
        source.note(error, where);
        throw;
    }
}

bool within(std::string_view outer, std::string_view inner) {
    return inner.data() >= outer.data() && inner.data() + inner.size() <= outer.data() + outer.size();
}

// Feeds the lines of `scanner` (over the IR's text) to the builder.  Lines
// the scanner rebuilt are kept in the IR's arena; the others are views of
// the text, which the IR keeps alive.
template <typename Scanner>
void feed_scanned(Scanner &scanner, Ir &ir, text::NetlistBuilder &builder) {
    const std::string_view content = ir.source.text;
    text::RelevantLine line;
    while (scanner.next(line)) {
        std::string_view stable = within(content, line.text) ? line.text : ir.netlist.arena.store(line.text);
        feeding(ir.source, line.where, [&] { builder.feed(stable, line.where); });
    }
}

// Feeds the items of a host iterable of lines, whose positions are unknown.
void feed_items(nb::handle iterable, Ir &ir, HostSteps &steps, text::NetlistBuilder &builder) {
    nb::object iterator = checked(PyObject_GetIter(iterable.ptr()));
    while (nb::object item = nb::steal(PyIter_Next(iterator.ptr())))
        feeding(ir.source, {}, [&] { builder.feed_split(steps.split_comments(item, {}), {}); });
    if (PyErr_Occurred()) throw nb::python_error();
}

// The text a build scans, or the stream's: kept alive with the IR.
std::string_view keep_text(Ir &ir, nb::handle text, nb::handle stream) {
    if (stream.is_valid()) {
        ir.keep.push_back(nb::borrow(stream));
        return as_relevant_line_stream(stream)->content();
    }
    if (!PyBytes_CheckExact(text.ptr())) return utf8_kept(text, ir.keep);
    ir.keep.push_back(nb::borrow(text));  // plain ASCII: its bytes are its UTF-8
    return {PyBytes_AS_STRING(text.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(text.ptr()))};
}

}  // namespace

LineSource LineSource::of_lines(nb::handle name, nb::handle lines) {
    LineSource source{name, {}, {}, {}};
    (as_relevant_line_stream(lines) ? source.stream : source.iterable) = lines;
    return source;
}

LineSource LineSource::of(nb::handle name, const RelevantLines &lines) {
    if (lines.text.is_valid()) return {name, lines.text, {}, {}};
    return of_lines(name, lines.lines);
}

std::unique_ptr<Ir> build_ir(const LineSource &lines, nb::dict component_map, nb::handle kwargs, Route &route,
                             const nb::dict *netlist_keymap) {
    auto ir = std::make_unique<Ir>();
    ir->component_map = std::move(component_map);
    ir->source.name = lines.name.is_valid() ? nb::borrow(lines.name) : nb::object(nb::str("<stream>"));
    if (lines.iterable.is_valid()) {
        HostSteps steps(*ir, route, kwargs);
        text::NetlistBuilder builder(ir->netlist, steps);
        feed_items(lines.iterable, *ir, steps, builder);
        return ir;
    }
    ir->source.text = keep_text(*ir, lines.text, lines.stream);
    const bool host_steps = HostSteps::needed(route);
    const nb::dict *settle = host_steps ? nullptr : settling(netlist_keymap, ir->component_map, kwargs, route);
    ir->settled = settle != nullptr;
    ir->reserve_for(ir->source.text);
    auto scan = [&](text::Steps &steps) {
        text::NetlistBuilder builder(ir->netlist, steps);
        if (lines.stream.is_valid()) return feed_scanned(*as_relevant_line_stream(lines.stream), *ir, builder);
        text::RelevantLineScanner scanner(ir->source.text);
        feed_scanned(scanner, *ir, builder);
    };
    if (host_steps) {
        HostSteps steps(*ir, route, kwargs);
        scan(steps);
    } else {
        Evaluator steps(*ir, route, kwargs, settle);
        scan(steps);
    }
    return ir;
}

namespace {

nb::object parse_into_ir(nb::args args, nb::kwargs kwargs) {
    BoundArgs bound = bind_args("_parse_into_ir", args, kwargs, {"lines", "component_map"});
    nb::dict component_map = exact_dict(bound.params[1], "_parse_into_ir", "component_map");
    Route route;
    return build_ir(LineSource::of_lines({}, bound.params[0]), component_map, bound.kwargs, route)->to_python();
}

}  // namespace

void def_parse_into_ir(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &parse_into_ir, nb::sig(signature));
}

}  // namespace tessel::spiceread

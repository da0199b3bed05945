// The IR builder's host side: the replaceable steps adapted to the text
// core's builder, and the settings of each record evaluated where the
// builder reaches them.
//
// While a step is the module's own, the text core does it on UTF-8 views; a
// replaced step is called with host objects, and what it returns is read
// back into views here, at this one boundary.
#include "spiceread/ir.hpp"

#include "common/args.hpp"
#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/unpack.hpp"
#include "common/utf8.hpp"
#include "spiceread/lines.hpp"
#include "spiceread/module.hpp"

namespace tessel::spiceread {

namespace {

class HostSteps final : public text::Steps {
public:
    HostSteps(Ir &ir, Route &route, nb::handle kwargs)
        : ir_(ir), route_(route), kwargs_(kwargs),
          native_comments_(route.original(Name::_split_comments)),
          native_words_(route.native_words()),
          native_sources_(route.original(Name::_handle_sources)),
          native_ports_(route.original(Name::_get_ir_ports)),
          native_settings_(route.original(Name::_get_ir_settings)),
          native_parent_(route.original(Name::_get_parent_id)) {}

    // The host object of the line being fed, for a replaced `_split_comments`.
    nb::handle line;

    text::CommentSplit split_comments(std::string_view text) override {
        if (native_comments_) return text::split_comments(text);
        nb::handle object = line.is_valid() ? line : nb::handle(keep(str_from_utf8(text)));
        auto [statement, comment] = unpack_pair(call(route_.get(Name::_split_comments), object));
        statement_ = statement;
        return {text_of(statement, "_split_comments"), text_of(comment, "_split_comments"), true};
    }

    void split_words(std::string_view statement, text::Words &out) override {
        if (native_words_) {
            if (statement_.is_valid()) exact_str(statement_, "_split_words", "line");
            text::split_words(statement, out);
            return;
        }
        nb::handle object = statement_.is_valid() ? nb::handle(statement_)
                                                  : nb::handle(keep(str_from_utf8(statement)));
        nb::object words = call(route_.get(Name::_split_words), object);
        views_of(call(route_.get(Name::_filter_empty), words), "_split_words", out);
    }

    void handle_sources(text::Words &words, text::Arena &arena) override {
        if (native_sources_) return text::Steps::handle_sources(words, arena);
        nb::object result = call(route_.get(Name::_handle_sources), list_of(words));
        words.clear();
        views_of(result, "_handle_sources", words);
    }

    bool is_identifier(std::string_view word) override {
        int result = PyUnicode_IsIdentifier(ir_.str(word).ptr());
        if (result < 0) throw nb::python_error();
        return result == 1;
    }

    void ir_ports(const text::Words &words, text::Words &out) override {
        if (native_ports_) return text::Steps::ir_ports(words, out);
        views_of(call(route_.get(Name::_get_ir_ports), list_of(words)), "_get_ir_ports", out);
    }

    void subckt_opened(const text::Netlist &netlist, std::uint32_t index,
                       const text::Words &words) override {
        ir_.subckt_settings.push_back(evaluate(words, kwargs_, {&ir_.source, netlist.subckts[index].where}));
        ir_.subckt_records.emplace_back();
        ir_.parent_ids.emplace_back();
        overlays_.emplace_back();
        if (native_parent_) return;
        // The open subcircuits, outermost first, as records.
        nb::list parents;
        for (std::uint32_t k = 0; k < index; ++k)
            if (!netlist.subckts[k].closed) parents.append(ir_.subckt_record(k));
        ir_.parent_ids[index] = call(route_.get(Name::_get_parent_id), parents);
    }

    void element_read(const text::Netlist &netlist, std::uint32_t index,
                      const text::Words &words) override {
        const text::Element &element = netlist.elements[index];
        ir_.element_settings.push_back(evaluate(words, element_kwargs(element.parent), {&ir_.source, element.where}));
    }

private:
    nb::handle keep(nb::object object) {
        ir_.keep.push_back(std::move(object));
        return ir_.keep.back();
    }

    // The UTF-8 of a str a replaced step returned, kept alive with the IR.
    std::string_view view_of(nb::handle item, const char *step) {
        if (!PyUnicode_Check(item.ptr())) {
            PyErr_Format(PyExc_TypeError, "%s() must give str items, not %s", step,
                         Py_TYPE(item.ptr())->tp_name);
            throw nb::python_error();
        }
        return utf8_kept(item, ir_.keep);
    }

    // A statement or comment: empty when false, as the builder tests them.
    std::string_view text_of(nb::handle item, const char *step) {
        return truthy(item) ? view_of(item, step) : std::string_view();
    }

    void views_of(nb::handle iterable, const char *step, text::Words &out) {
        for (nb::handle item : iterable) out.push_back(view_of(item, step));
    }

    nb::list list_of(const text::Words &words) {
        nb::list list = nb::steal<nb::list>(checked(PyList_New(static_cast<Py_ssize_t>(words.size()))).release());
        for (std::size_t i = 0; i < words.size(); ++i)
            PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), ir_.str(words[i]).release().ptr());
        return list;
    }

    // `_get_ir_settings(words, **kwargs)`.
    SettingsRef evaluate(const text::Words &words, nb::handle kwargs, const Where &where) {
        if (!native_settings_)
            return {0, 0, call_with_kwargs(route_.get(Name::_get_ir_settings), {list_of(words)}, kwargs)};
        SettingsRef ref{static_cast<std::uint32_t>(ir_.settings.size()), 0, {}};
        for (std::string_view word : words) {
            text::SettingWord setting = text::split_setting(word);
            if (setting.parts == 1) continue;
            if (setting.parts != 2) raise_unpack(2, setting.parts);
            nb::object key = ir_.str(setting.key);
            ir_.settings.push_back({std::move(key), resolve_value(setting.value, kwargs, route_, where)});
        }
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
        nb::object settings = record.is_valid() ? record.attr("settings")
                                                : ir_.settings_dict(ir_.subckt_settings[parent]);
        overlay = checked(PyDict_Copy(kwargs_.ptr()));
        if (PyDict_Update(overlay.ptr(), settings.ptr()) < 0) throw nb::python_error();
        return overlay;
    }

    Ir &ir_;
    Route &route_;
    nb::handle kwargs_;
    const bool native_comments_, native_words_, native_sources_, native_ports_, native_settings_,
        native_parent_;
    nb::object statement_;             // what a replaced `_split_comments` gave
    std::vector<nb::object> overlays_;  // by subcircuit index
};

// The host error for a statement the builder refused.
nb::python_error build_error(const text::BuildError &error) {
    using Kind = text::BuildError::Kind;
    PyObject *type = PyExc_ValueError;
    switch (error.kind) {
        case Kind::EndsBeforeBegin:
        case Kind::UnsupportedCommand: type = parse_error_type().ptr(); break;
        case Kind::SubcktWithoutName: type = PyExc_ValueError; break;
        case Kind::ElementWithoutComponent: type = PyExc_IndexError; break;
    }
    PyErr_SetObject(type, str_from_utf8(error.what()).ptr());
    return nb::python_error();
}

// Feeds one line; an error on the way out says where its statement stands.
void feed(text::NetlistBuilder &builder, const Source &source, std::string_view line,
          text::Position where) {
    try {
        builder.feed(line, where);
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

// Feeds the lines of `scanner` (over `content`) to the builder.  Lines the
// scanner rebuilt are kept in the IR's arena; the others are views of the
// content, which the IR keeps alive.
template <typename Scanner>
void feed_scanned(Scanner &scanner, Ir &ir, text::NetlistBuilder &builder) {
    const std::string_view content = ir.source.text;
    text::RelevantLine line;
    while (scanner.next(line)) {
        std::string_view stable = within(content, line.text) ? line.text : ir.netlist.arena.store(line.text);
        feed(builder, ir.source, stable, line.where);
    }
}

}  // namespace

std::unique_ptr<Ir> build_ir(const LineSource &lines, nb::dict component_map, nb::handle kwargs,
                             Route &route) {
    auto ir = std::make_unique<Ir>();
    ir->component_map = std::move(component_map);
    HostSteps steps(*ir, route, kwargs);
    text::NetlistBuilder builder(ir->netlist, steps);
    ir->source.name = lines.name.is_valid() ? nb::borrow(lines.name) : nb::object(nb::str("<stream>"));
    {
        if (lines.text.is_valid()) {
            Utf8Text content = utf8_of(lines.text);
            ir->keep.push_back(nb::borrow(lines.text));
            if (content.keep.is_valid()) ir->keep.push_back(content.keep);
            ir->source.text = content.view;
            ir->reserve_for(content.view);
            text::RelevantLineScanner scanner(content.view);
            feed_scanned(scanner, *ir, builder);
        } else if (lines.stream.is_valid()) {
            RelevantLineStream &stream = *as_relevant_line_stream(lines.stream);
            ir->keep.push_back(nb::borrow(lines.stream));
            ir->source.text = stream.content();
            ir->reserve_for(stream.content());
            feed_scanned(stream, *ir, builder);
        } else {
            const bool native_comments = route.original(Name::_split_comments);
            nb::object iterator = checked(PyObject_GetIter(lines.iterable.ptr()));
            while (nb::object item = nb::steal(PyIter_Next(iterator.ptr()))) {
                std::string_view text;
                if (native_comments) exact_str(item, "_split_comments", "line");
                if (PyUnicode_Check(item.ptr())) text = utf8_kept(item, ir->keep);
                steps.line = item;
                feed(builder, ir->source, text, {});
            }
            if (PyErr_Occurred()) throw nb::python_error();
        }
    }
    return ir;
}

namespace {

nb::object parse_into_ir(nb::args args, nb::kwargs kwargs) {
    BoundArgs bound = bind_args("_parse_into_ir", args, kwargs, {"lines", "component_map"});
    nb::dict component_map = exact_dict(bound.params[1], "_parse_into_ir", "component_map");
    Route route;
    LineSource source;
    if (as_relevant_line_stream(bound.params[0]))
        source.stream = bound.params[0];
    else
        source.iterable = bound.params[0];
    return build_ir(source, component_map, bound.kwargs, route)->to_python();
}

}  // namespace

void def_parse_into_ir(nb::module_ &m) { m.def("_parse_into_ir", &parse_into_ir); }

}  // namespace tessel::spiceread

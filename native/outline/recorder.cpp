#include "outline/recorder.hpp"

#include <algorithm>

#include "common/objects.hpp"
#include "common/utf8.hpp"
#include "outline/facts.hpp"
#include "outline/records.hpp"

namespace tessel::outline {

namespace {

nb::object tuple_of(const nb::list &list) { return untracked(checked(PyList_AsTuple(list.ptr()))); }

const char *refusal_kind(text::BuildError::Kind kind) {
    switch (kind) {
        case text::BuildError::Kind::EndsBeforeBegin: return "ends_before_begin";
        case text::BuildError::Kind::UnsupportedCommand: return "unsupported_command";
        case text::BuildError::Kind::SubcktWithoutName: return "subckt_without_name";
        case text::BuildError::Kind::ElementWithoutComponent: return "element_without_component";
    }
    return "";
}

const char *command_name(text::CommandKind kind) {
    switch (kind) {
        case text::CommandKind::Subckt: return "subckt";
        case text::CommandKind::Ends: return "ends";
        case text::CommandKind::Global: return "global";
        case text::CommandKind::Unsupported: return "unsupported";
    }
    return "";
}

std::string lowered(std::string_view word) {
    std::string out(word);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

nb::object boolean(bool value) { return nb::borrow(value ? Py_True : Py_False); }

}  // namespace

nb::object Recorder::word(std::string_view text) {
    nb::object str = shared_.text(text);
    const char *base = line_.data();
    if (text.data() >= base && text.data() + text.size() <= base + line_.size()) {
        const auto offset = static_cast<std::size_t>(text.data() - base);
        text::RawPoint start = places_.start(offset);
        text::RawPoint end = text.empty() ? start : places_.end(offset + text.size());
        if (marked_ && start.line == 1) ++start.col;
        if (marked_ && end.line == 1) ++end.col;
        return record(Type::Word, {str, shared_.number(start.line), shared_.number(start.col),
                                   shared_.number(end.line), shared_.number(end.col)});
    }
    // A word the builder made up (a controlled source's setting, a
    // resistor's component): the place of its statement.
    if (statement_.is_valid())
        return record(Type::Word, {str, statement_[1], statement_[2], statement_[3], statement_[4]});
    nb::object zero = shared_.number(0);
    return record(Type::Word, {str, zero, zero, zero, zero});
}

nb::object Recorder::words(const std::string_view *items, std::uint32_t size) {
    nb::object tuple = checked(PyTuple_New(size));
    for (std::uint32_t k = 0; k < size; ++k)
        PyTuple_SET_ITEM(tuple.ptr(), k, word(items[k]).release().ptr());
    return untracked(std::move(tuple));
}

void Recorder::begin_line(const text::RelevantLine &line, std::string_view stored) {
    places_.place(line);
    line_ = stored;
    where_ = line.where;
    id_ = netlist_.lines + 1;
    id_int_ = shared_.number(id_);
    statement_ = nb::object();
    comment_ = nb::object();
    ends_ = nb::object();
    refused_ = false;
    source_ = false;
}

void Recorder::refused(const text::BuildError &error) {
    refused_ = true;
    nb::object at = statement_.is_valid() ? statement_ : word(line_);
    refusals_.append(record(Type::Refusal, {constant(refusal_kind(error.kind)), str_from_utf8(error.what()), at,
                                            shared_.number(error.id)}));
}

void Recorder::end_line() {
    if (refused_ || !ends_.is_valid() || open_.empty()) return;
    subckts_[open_.back()].end = ends_;
    open_.pop_back();
}

text::CommentSplit Recorder::split_comments(std::string_view line) {
    text::CommentSplit split = text::split_comments(line);
    if (!split.statement.empty()) statement_ = word(split.statement);
    if (!split.found) return split;
    const std::size_t at = static_cast<std::size_t>(split.comment.data() - line.data());
    // The marker stands inside a word when a non-blank comes right before it.
    if (at > 0 && line[at - 1] != ' ') {
        std::size_t begin = line.rfind(' ', at);
        begin = begin == std::string_view::npos ? 0 : begin + 1;
        std::size_t end = line.find(' ', at);
        cuts_.append(record(Type::Cut, {word(line.substr(begin, end - begin)), word(line.substr(at, 1))}));
    }
    if (!split.comment.empty()) {
        comment_ = word(split.comment);
        comments_.append(record(Type::Comment, {comment_, shared_.number(where_.first_line),
                                                shared_.number(where_.last_line), id_int_,
                                                constant(location_facts(split.comment).status)}));
    }
    return split;
}

void Recorder::split_words(std::string_view statement, text::Words &out) {
    text::split_words(statement, out);
    if (out.empty()) return;
    const text::QuoteMode mode = text::quote_mode_after(out.back());
    if (mode != text::QuoteMode::Char)
        quotes_.append(record(Type::Quote, {word(out.back()), nb::str(mode == text::QuoteMode::Eval ? "'" : "\"")}));
    const std::string_view first = out.front();
    if (first.empty() || first.front() != '.') return;
    const text::CommandKind kind = text::command_kind(first);
    const text::CommandKind lower = text::command_kind(lowered(first));
    nb::object command_word = word(first);
    if (kind == text::CommandKind::Ends) ends_ = command_word;
    commands_.append(record(Type::Command, {command_word, constant(command_name(kind)),
                                            constant(lower == text::CommandKind::Unsupported ? "" : command_name(lower)),
                                            id_int_, statement_}));
}

bool Recorder::is_identifier(std::string_view word) {
    int result = PyUnicode_IsIdentifier(str_from_utf8(word).ptr());
    if (result < 0) throw nb::python_error();
    return result == 1;
}

void Recorder::handle_sources(text::Words &words, text::Arena &arena) {
    source_ = text::detail::find_source_keyword(words) != words.size();
    text::Steps::handle_sources(words, arena);
}

nb::object Recorder::settings(const text::Words &items) {
    nb::list list;
    for (std::string_view item : items) {
        text::SettingWord s = text::split_setting(item);
        if (s.parts == 1) continue;
        if (s.parts != 2) {
            nb::object whole = word(item);
            nb::object message = unpack_message(2, s.parts);
            refusals_.append(record(Type::Refusal, {constant("several_equals"), message, whole, id_int_}));
            nb::object none = nb::none();
            list.append(record(Type::Setting, {whole, word(item.substr(item.size())), new_int(s.parts),
                                               constant("refused"), constant(""), none, constant(""), boolean(false),
                                               constant(""), constant(""), message, none}));
            continue;
        }
        nb::object value = word(s.value);
        ValueFacts facts = value_facts(s.value, value[0], evaluations_);
        if (facts.kind == std::string_view("invalid"))
            refusals_.append(record(Type::Refusal, {constant("invalid_literal"), facts.error, word(item), id_int_}));
        const char *bracket = facts.bracket == '(' ? "(" : facts.bracket == '[' ? "[" : facts.bracket == '{' ? "{" : "";
        auto real = [&](std::optional<double> number) { return number ? shared_.real(*number) : nb::none(); };
        list.append(record(Type::Setting, {word(s.key), value, new_int(2), constant(facts.kind), facts.text,
                                           real(facts.number), str_from_utf8(facts.unit), boolean(facts.scaled),
                                           constant(facts.metre), constant(bracket), facts.error,
                                           real(facts.micrometres)}));
    }
    return tuple_of(list);
}

void Recorder::subckt_opened(const text::Netlist &netlist, std::uint32_t index, const text::Words &items) {
    const text::Subckt &s = netlist.subckts[index];
    SubcktParts parts;
    parts.name = word(s.component);
    parts.ports = words(netlist.words_of(s.ports), s.ports.size);
    parts.settings = settings(items);
    parts.statement = statement_;
    parts.end = nb::none();
    subckts_.push_back(std::move(parts));
    open_.push_back(index);
}

void Recorder::element_read(const text::Netlist &netlist, std::uint32_t index, const text::Words &items) {
    const text::Element &e = netlist.elements[index];
    nb::object name = word(e.name);
    const char *base = line_.data();
    const bool written = e.component.data() >= base && e.component.data() + e.component.size() <= base + line_.size();
    // An R... or C... line's component is no word of it: placed on the name.
    nb::object component = written ? word(e.component)
                                   : record(Type::Word, {str_from_utf8(e.component), name[1], name[2], name[3],
                                                         name[4]});
    nb::object nets = words(netlist.words_of(e.nets), e.nets.size);
    nb::object settings_of = settings(items);
    nb::object comment = e.comment.empty() ? nb::object(nb::none()) : comment_.is_valid() ? comment_ : word(e.comment);
    LocationFacts location = location_facts(e.comment);
    // Its owner is known once the subcircuit that takes it is closed: none until then.
    elements_.push_back(record(Type::Element, {name, component, nets, settings_of, shared_.number(e.parent),
                                               none_index(), comment, constant(location.status), location.error,
                                               id_int_, statement_, boolean(source_)}));
}

void Recorder::element_ignored(std::uint32_t id, text::Position, const text::Words &items) {
    (void)id;  // the line's, as `id_int_`
    ignored_.append(record(Type::Ignored, {word(items.front()), statement_, id_int_}));
}

nb::object Recorder::none_index() {
    if (!none_index_.is_valid()) none_index_ = new_int(-1);
    return none_index_;
}

nb::object Recorder::outline() {
    const auto &subckts = netlist_.subckts;
    auto index_int = [&](long k) { return k < 0 ? none_index() : shared_.number(static_cast<std::size_t>(k)); };
    nb::object subckt_list = checked(PyTuple_New(static_cast<Py_ssize_t>(subckts.size())));
    for (std::size_t k = 0; k < subckts.size(); ++k) {
        const text::Subckt &s = subckts[k];
        nb::object children = checked(PyTuple_New(s.children.size));
        for (std::uint32_t c = 0; c < s.children.size; ++c) {
            const std::uint32_t child = netlist_.children_of(s.children)[c];
            set_field(elements_[child], kElementOwner, shared_.number(k));
            PyTuple_SET_ITEM(children.ptr(), c, shared_.number(child).release().ptr());
        }
        children = untracked(std::move(children));
        long parent = -1;
        if (s.parent_id) {
            auto it = std::lower_bound(subckts.begin(), subckts.end(), s.parent_id,
                                       [](const text::Subckt &a, std::uint32_t id) { return a.id < id; });
            parent = static_cast<long>(it - subckts.begin());
        }
        const SubcktParts &p = subckts_[k];
        PyTuple_SET_ITEM(subckt_list.ptr(), static_cast<Py_ssize_t>(k),
                         record(Type::Subckt, {p.name, p.ports, p.settings, index_int(parent), p.end, children,
                                               shared_.number(s.id), p.statement})
                             .release()
                             .ptr());
    }
    nb::object element_list = checked(PyTuple_New(static_cast<Py_ssize_t>(elements_.size())));
    for (std::size_t k = 0; k < elements_.size(); ++k)
        PyTuple_SET_ITEM(element_list.ptr(), static_cast<Py_ssize_t>(k), elements_[k].release().ptr());
    elements_.clear();
    return record(Type::Outline, {untracked(std::move(subckt_list)), untracked(std::move(element_list)),
                                  tuple_of(ignored_), tuple_of(commands_), tuple_of(comments_), tuple_of(refusals_),
                                  tuple_of(cuts_), tuple_of(quotes_), shared_.number(netlist_.lines)});
}

}  // namespace tessel::outline

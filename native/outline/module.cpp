// `tessel.core._outline`: the structure of an OC spice netlist with the file
// lines of each of its parts, for the tools that check netlists.
//
// It runs the reader's own text core (line scanner, statement rules, IR
// builder) and hands back plain Python data: subcircuits with their
// elements, nets and setting words as written, the elements left outside
// any subcircuit, the words a comment marker cuts, and the statement the
// builder refused, if any.  Nothing is evaluated and no PDK is asked.
#include <string>
#include <string_view>
#include <vector>

#include <nanobind/nanobind.h>

#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/utf8.hpp"
#include "text/netlist.hpp"

namespace nb = nanobind;
using namespace tessel;
namespace text = tessel::text;

namespace {

// The builder's own steps, keeping the setting words of each record and
// the words a comment marker cuts.
class Recorder final : public text::Steps {
public:
    std::vector<text::Words> subckt_words, element_words;
    std::vector<std::uint32_t> outside;  // file lines of elements outside any subcircuit
    struct Cut {
        std::uint32_t line;
        std::string_view word;
        char marker;
    };
    std::vector<Cut> cuts;

    text::CommentSplit split_comments(std::string_view line) override {
        text::CommentSplit split = text::split_comments(line);
        if (split.found) {
            const std::size_t at = static_cast<std::size_t>(split.comment.data() - line.data());
            // The marker stands inside a word when a non-blank comes right before it.
            if (at > 0 && line[at - 1] != ' ') {
                std::size_t begin = line.rfind(' ', at);
                begin = begin == std::string_view::npos ? 0 : begin + 1;
                std::size_t end = line.find(' ', at);
                cuts.push_back({where_.first_line, line.substr(begin, end - begin), line[at]});
            }
        }
        return split;
    }
    bool is_identifier(std::string_view word) override { return tessel::is_identifier(word); }
    void subckt_opened(const text::Netlist &, std::uint32_t, const text::Words &words) override {
        subckt_words.push_back(words);
    }
    void element_read(const text::Netlist &, std::uint32_t, const text::Words &words) override {
        element_words.push_back(words);
    }
    void line_begun(std::uint32_t, text::Position where) override { where_ = where; }
    void element_ignored(std::uint32_t, text::Position where, const text::Words &) override {
        outside.push_back(where.first_line);
    }

private:
    text::Position where_;  // of the line being read
};

nb::object str(std::string_view text) { return str_from_utf8(text); }

nb::list strs(const std::string_view *words, std::uint32_t size) { return list_of_words(words, size, str); }

// The "key=value" words of a record, as (key, value text) pairs; a word of
// more than one "=" is given whole as its key, with None.
nb::list settings(const text::Words &words) {
    nb::list list;
    for (std::string_view word : words) {
        text::SettingWord s = text::split_setting(word);
        if (s.parts == 1) continue;
        list.append(s.parts == 2 ? nb::make_tuple(str(s.key), str(s.value)) : nb::make_tuple(str(word), nb::none()));
    }
    return list;
}

const char *kind_name(text::BuildError::Kind kind) {
    switch (kind) {
        case text::BuildError::Kind::EndsBeforeBegin: return "ends_before_begin";
        case text::BuildError::Kind::UnsupportedCommand: return "unsupported_command";
        case text::BuildError::Kind::SubcktWithoutName: return "subckt_without_name";
        case text::BuildError::Kind::ElementWithoutComponent: return "element_without_component";
    }
    return "";
}

nb::dict read_outline(nb::handle text_arg) {
    nb::str content = exact_str(text_arg, "read_outline", "text");
    Utf8Text utf8 = utf8_of(content);
    text::Netlist netlist;
    Recorder recorder;
    text::NetlistBuilder builder(netlist, recorder);
    nb::dict out = new_dict();
    set_item(out, nb::str("error"), nb::none());
    {
        text::RelevantLineScanner scanner(utf8.view);
        text::RelevantLine line;
        try {
            while (scanner.next(line)) builder.feed(netlist.arena.store(line.text), line.where);
        } catch (const text::BuildError &error) {
            nb::dict e = new_dict();
            set_item(e, nb::str("kind"), nb::str(kind_name(error.kind)));
            set_item(e, nb::str("message"), str(error.message));
            set_item(e, nb::str("line"), new_int(error.where.first_line));
            set_item(out, nb::str("error"), e);
        }
    }

    nb::list subckts;
    for (std::size_t k = 0; k < netlist.subckts.size(); ++k) {
        const text::Subckt &s = netlist.subckts[k];
        nb::dict d = new_dict();
        set_item(d, nb::str("name"), str(s.component));
        set_item(d, nb::str("line"), new_int(s.where.first_line));
        set_item(d, nb::str("end"), s.closed ? nb::object(new_int(s.end.first_line)) : nb::object(nb::none()));
        set_item(d, nb::str("ports"), strs(netlist.words_of(s.ports), s.ports.size));
        set_item(d, nb::str("settings"), settings(recorder.subckt_words[k]));
        set_item(d, nb::str("elements"), nb::list());
        subckts.append(d);
    }
    for (std::size_t k = 0; k < netlist.elements.size(); ++k) {
        const text::Element &e = netlist.elements[k];
        nb::dict d = new_dict();
        set_item(d, nb::str("name"), str(e.name));
        set_item(d, nb::str("line"), new_int(e.where.first_line));
        set_item(d, nb::str("component"), str(e.component));
        set_item(d, nb::str("nets"), strs(netlist.words_of(e.nets), e.nets.size));
        set_item(d, nb::str("settings"), settings(recorder.element_words[k]));
        nb::list elements = nb::borrow<nb::list>(get_item(subckts[e.parent], nb::str("elements")));
        elements.append(d);
    }
    set_item(out, nb::str("subckts"), subckts);
    nb::list lines;
    for (std::uint32_t line : recorder.outside) lines.append(new_int(line));
    set_item(out, nb::str("outside"), lines);
    nb::list cuts;
    for (const Recorder::Cut &c : recorder.cuts)
        cuts.append(nb::make_tuple(new_int(c.line), str(c.word), nb::str(std::string(1, c.marker).c_str())));
    set_item(out, nb::str("cuts"), cuts);
    return out;
}

}  // namespace

NB_MODULE(_outline, m) {
    m.doc() = "The structure of an OC spice netlist, with the file lines of its parts.";
    m.def("read_outline", &read_outline, nb::arg("text"),
          nb::sig("def read_outline(text: str) -> dict[str, typing.Any]"),
          "The subcircuits (with their elements), the element lines outside any\n"
          "subcircuit, the words a comment marker cuts and the refused statement of\n"
          "a netlist text, each with its file line.");
}

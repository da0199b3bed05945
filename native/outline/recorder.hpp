// The builder's steps as the outline takes them: the reader's own steps,
// with every record, word and refusal kept with where it stands.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include <nanobind/nanobind.h>

#include "outline/facts.hpp"
#include "outline/shared.hpp"
#include "text/netlist.hpp"
#include "text/positions.hpp"

namespace tessel::outline {

namespace nb = nanobind;

class Recorder final : public text::Steps {
public:
    // `content` without the byte-order mark the text may begin with
    // (`marked`): the columns of raw line 1 count it, as the text's own do.
    Recorder(std::string_view content, bool marked, const text::Netlist &netlist)
        : places_(content), marked_(marked), netlist_(netlist) {}

    // The next relevant line, as it is fed to the builder (`stored`: its
    // text where it stays valid).
    void begin_line(const text::RelevantLine &line, std::string_view stored);
    // The builder refused the line's statement.
    void refused(const text::BuildError &error);
    // The builder is done with the line (and did not refuse it).
    void end_line();

    // The outline, once every line is fed.
    nb::object outline();

    text::CommentSplit split_comments(std::string_view line) override;
    void split_words(std::string_view statement, text::Words &out) override;
    bool is_identifier(std::string_view word) override;
    void handle_sources(text::Words &words, text::Arena &arena) override;
    void subckt_opened(const text::Netlist &, std::uint32_t index, const text::Words &words) override;
    void element_read(const text::Netlist &, std::uint32_t index, const text::Words &words) override;
    void element_ignored(std::uint32_t id, text::Position, const text::Words &words) override;

private:
    struct SubcktParts {
        nb::object name, ports, settings, statement, end;
    };

    // The Word of `text`, a view into the line being read (or, for a word
    // the builder made up, the statement's place).
    nb::object word(std::string_view text);
    nb::object words(const std::string_view *items, std::uint32_t size);
    nb::object settings(const text::Words &words);
    nb::object none_index();  // the int -1, for an index that names nothing

    text::LinePlaces places_;
    bool marked_;
    const text::Netlist &netlist_;
    std::string_view line_;       // the line being read
    std::uint32_t id_ = 0;
    text::Position where_;
    nb::object statement_;        // Word of its statement
    nb::object comment_;          // Word of its comment
    nb::object id_int_;           // int of the line's id
    nb::object none_index_;

    nb::object ends_;             // Word of the line's ".ends"
    bool refused_ = false;
    bool source_ = false;         // the line's words were rewritten as a controlled source
    std::vector<std::uint32_t> open_;  // open subcircuits, innermost last

    SharedObjects shared_;
    Evaluations evaluations_;

    std::vector<nb::object> elements_;  // Element records, their owner set at the end
    std::vector<SubcktParts> subckts_;
    nb::list ignored_, commands_, comments_, refusals_, cuts_, quotes_;
};

}  // namespace tessel::outline

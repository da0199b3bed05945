// `tessel.core._outline`: the structure of an OC spice netlist with where
// each of its parts stands in the file, for the tools that check netlists.
//
// It runs the reader's own text core (line scanner, statement rules, IR
// builder) and hands back records of what the reader decides: subcircuits
// with their elements, each word with its raw line and column, each setting
// with what its value becomes, the lines the reader ignores or refuses, the
// words a comment marker cuts and the quotes a line leaves open.  After a
// refused statement the outline goes on, so that one reading shows every
// problem.  No PDK is asked and nothing is imported but `ast`.
#include <string_view>

#include <nanobind/nanobind.h>

#include "common/checks.hpp"
#include "common/collector.hpp"
#include "common/single_phase.hpp"
#include "common/utf8.hpp"
#include "outline/nets.hpp"
#include "outline/recorder.hpp"
#include "outline/records.hpp"
#include "text/netlist.hpp"

namespace nb = nanobind;
using namespace tessel;
namespace text = tessel::text;

namespace {

// The text after a leading byte-order mark, which some editors write at the
// start of a UTF-8 file: as for the reader, it belongs to no statement.
std::string_view without_bom(std::string_view utf8) {
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    return utf8.substr(0, bom.size()) == bom ? utf8.substr(bom.size()) : utf8;
}

bool within(std::string_view outer, std::string_view inner) {
    return inner.data() >= outer.data() && inner.data() + inner.size() <= outer.data() + outer.size();
}

nb::object read_outline(nb::handle text_arg) {
    nb::str content = exact_str(text_arg, "read_outline", "text");
    // Its records cannot form cycles, and a collection every few hundred of
    // them would walk them all.
    CollectorPause paused;
    Utf8Text utf8 = utf8_of(content);
    // The columns still count the mark: the fixes are edits of the text as it is.
    const std::string_view view = without_bom(utf8.view);
    text::Netlist netlist;
    outline::Recorder recorder(view, view.size() != utf8.view.size(), netlist);
    text::NetlistBuilder builder(netlist, recorder);
    text::RelevantLineScanner scanner(view);
    text::RelevantLine line;
    while (scanner.next(line)) {
        // Lines the scanner rebuilt go to the arena; the others are views
        // of the text, which outlives the reading.
        const std::string_view stored = within(view, line.text) ? line.text : netlist.arena.store(line.text);
        recorder.begin_line(line, stored);
        try {
            builder.feed(stored, line.where);
        } catch (const text::BuildError &error) {
            // The builder refuses before it changes anything: go on.
            recorder.refused(error);
            continue;
        }
        recorder.end_line();
    }
    return recorder.outline();
}

}  // namespace

NB_MODULE(_outline_impl, m) {
    m.doc() = "The structure of an OC spice netlist, with where each of its parts stands.";
    outline::def_records(m);
    m.def("read_outline", &read_outline, nb::arg("text"),
          nb::sig("def read_outline(text: str) -> Outline"),
          "The Outline of a netlist text: its subcircuits and elements, the lines\n"
          "the reader ignores or refuses, and the words of each with their raw\n"
          "lines and columns (1-based, code points, end exclusive).");
    m.def("subckt_nets", &outline::subckt_nets, nb::arg("outline"), nb::arg("index"),
          nb::sig("def subckt_nets(outline: Outline, index: int) -> tuple[Net, ...]"),
          "The nets of subcircuit `index` (a position in outline.subckts) as the reader\n"
          "connects them: each with its terminals, in order of first use.");
}

TESSEL_SINGLE_PHASE_MODULE(_outline)

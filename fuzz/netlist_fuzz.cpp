// The IR builder of the text core on any text: it makes a netlist or refuses
// one statement, and what it makes holds together: every record in the IR's
// order exists, children are elements read before their ".ends", elements
// belong to a subcircuit opened before them, and positions are those of the
// lines that made the records.
#include <string_view>

#include "check.hpp"
#include "text/netlist.hpp"

using namespace tessel::text;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size) {
    const std::string_view text = as_text(data, size);
    Netlist netlist;
    Steps steps;
    NetlistBuilder builder(netlist, steps);
    RelevantLineScanner scanner(text);
    RelevantLine line;
    try {
        while (scanner.next(line)) builder.feed(netlist.arena.store(line.text), line.where);
    } catch (const BuildError &error) {
        FUZZ_CHECK(error.where.known() && error.id == netlist.lines);
    }
    for (const Record &r : netlist.order) {
        if (r.is_subckt) {
            FUZZ_CHECK(r.index < netlist.subckts.size() && netlist.subckts[r.index].closed);
        } else {
            FUZZ_CHECK(r.index < netlist.elements.size());
        }
    }
    for (const Element &e : netlist.elements) {
        FUZZ_CHECK(e.parent < netlist.subckts.size() && netlist.subckts[e.parent].id < e.id);
        FUZZ_CHECK(e.where.known() && e.id <= netlist.lines && !e.name.empty());
        FUZZ_CHECK(e.nets.begin + e.nets.size <= netlist.words.size());
    }
    for (const Subckt &s : netlist.subckts) {
        FUZZ_CHECK(s.parent_id < s.id);
        if (!s.closed) continue;
        const std::uint32_t *child = netlist.children_of(s.children);
        for (std::uint32_t k = 0; k < s.children.size; ++k)
            FUZZ_CHECK(child[k] < netlist.elements.size() && netlist.elements[child[k]].where.first_line <= s.end.first_line);
    }
    return 0;
}

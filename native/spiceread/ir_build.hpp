// The IR builder's host side: a reading's IR built from relevant lines,
// with the settings of each record evaluated where the builder reaches them.
#pragma once

#include <memory>

#include <nanobind/nanobind.h>

#include "spiceread/ir.hpp"
#include "spiceread/lines.hpp"
#include "spiceread/route.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// Where the relevant lines of a build come from: one of a text to scan, the
// module's own relevant-line stream, or any other iterable of lines.
struct LineSource {
    nb::handle name;      // the path the text came from, or invalid for a stream
    nb::handle text;
    nb::handle stream;
    nb::handle iterable;

    static LineSource of(nb::handle name, const RelevantLines &lines);
    static LineSource of_lines(nb::handle name, nb::handle lines);
};

// `_parse_into_ir(lines, component_map, **kwargs)`, on the C++ road.
// `kwargs` is only read.  `netlist_keymap`: the settings keymap of the
// netlist the IR is read for, when it goes to the module's own assembly
// and nowhere else (the IR may then hold its element settings patched).
std::unique_ptr<Ir> build_ir(const LineSource &lines, nb::dict component_map, nb::handle kwargs, Route &route,
                             const nb::dict *netlist_keymap = nullptr);

}  // namespace tessel::spiceread

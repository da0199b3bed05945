// Netlist assembly's entries for the reader: the netlist dictionary of a
// reading's own IR, and of an IR given as Python records.
#pragma once

#include <nanobind/nanobind.h>

#include "spiceread/ir.hpp"
#include "spiceread/route.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// `_recursive_netlist_from_ir` on the reading's own IR.
nb::object netlist_of(Ir &ir, const nb::dict &settings_keymap, Route &route);

// `_recursive_netlist_from_ir(ir, settings_keymap, comments)` on records:
// `ir` is a dict of them.
nb::object netlist_of_records(nb::handle ir, const nb::dict &settings_keymap, const nb::dict &comments,
                              Route &route);

}  // namespace tessel::spiceread

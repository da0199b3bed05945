// Port patching: positional port names on instances of the file's own
// subcircuits become the names of those subcircuits' external ports.
#pragma once

#include <nanobind/nanobind.h>

namespace tessel::spiceread {

namespace nb = nanobind;

// `_patch_ports(netlist)`.  `in_place`: the netlists are the reading's own,
// so tables that nothing renames stay as they are instead of being copied.
void patch_ports(nb::handle netlist, bool in_place);

}  // namespace tessel::spiceread

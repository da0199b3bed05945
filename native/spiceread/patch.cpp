// Port patching: positional port names on sub-netlist instances.
#include "spiceread/module.hpp"

namespace tessel::spiceread {

void def_patch_ports(nb::module_ &m) { def_placeholder(m, "_patch_ports"); }

}  // namespace tessel::spiceread

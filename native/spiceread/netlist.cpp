// Netlist assembly: the IR to one netlist per subcircuit.
#include "spiceread/module.hpp"

namespace tessel::spiceread {

void def_recursive_netlist_from_ir(nb::module_ &m) { def_placeholder(m, "_recursive_netlist_from_ir"); }
void def_netlist_from_subckt(nb::module_ &m) { def_placeholder(m, "_netlist_from_subckt"); }

}  // namespace tessel::spiceread

// IR builder: relevant lines to the (ir, comments) pair.
#include "spiceread/module.hpp"

namespace tessel::spiceread {

void def_parse_into_ir(nb::module_ &m) { def_placeholder(m, "_parse_into_ir"); }
void def_handle_sources(nb::module_ &m) { def_placeholder(m, "_handle_sources"); }
void def_get_parent_id(nb::module_ &m) { def_placeholder(m, "_get_parent_id"); }
void def_get_ir_ports(nb::module_ &m) { def_placeholder(m, "_get_ir_ports"); }
void def_get_ir_settings(nb::module_ &m) { def_placeholder(m, "_get_ir_settings"); }

}  // namespace tessel::spiceread

// What the parts of `tessel.core.spiceread` share: the module's namespace,
// its classes, and the binders of its functions.
//
// Each stage file binds its own functions (`def_*`); module.cpp calls the
// binders in the order in which the module defines its names.
#pragma once

#include <nanobind/nanobind.h>

#include "common/names.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

ModuleScope &scope();

// Classes created at load (records.cpp).
nb::handle parse_error_type();
nb::handle parse_warning_type();
void def_classes(nb::module_ &m);

// Function binders, in the module's definition order.
void def_parse_oc_spice(nb::module_ &m);             // entry.cpp
void def_recursive_netlist_from_ir(nb::module_ &m);  // netlist.cpp
void def_netlist_from_subckt(nb::module_ &m);        // netlist.cpp
void def_parse_oc_spice_into_ir(nb::module_ &m);     // entry.cpp
void def_split_comments(nb::module_ &m);             // lines.cpp
void def_split_words(nb::module_ &m);                // lines.cpp
void def_parse_into_ir(nb::module_ &m);              // ir_build.cpp
void def_handle_sources(nb::module_ &m);             // ir_records.cpp
void def_parse_value(nb::module_ &m);                // values.cpp
void def_eval(nb::module_ &m);                       // values.cpp
void def_chain(nb::module_ &m);                      // lines.cpp
void def_strip_lines(nb::module_ &m);                // lines.cpp
void def_join_continuations(nb::module_ &m);         // lines.cpp
void def_standardize_spaces(nb::module_ &m);         // lines.cpp
void def_filter_empty(nb::module_ &m);               // lines.cpp
void def_get_parent_id(nb::module_ &m);              // ir_records.cpp
void def_get_ir_ports(nb::module_ &m);               // ir_records.cpp
void def_get_ir_settings(nb::module_ &m);            // ir_records.cpp
void def_get_ports_from_model(nb::module_ &m);       // ports.cpp
void def_get_ports_from_component(nb::module_ &m);   // ports.cpp
void def_get_ports(nb::module_ &m);                  // ports.cpp (wrapped by lru_cache)
void def_sort_ports(nb::module_ &m);                 // ports.cpp
void def_get_port(nb::module_ &m);                   // ports.cpp
void def_map_settings_keys(nb::module_ &m);          // settings.cpp
void def_convert_um(nb::module_ &m);                 // settings.cpp
void def_is_probably_um(nb::module_ &m);             // settings.cpp
void def_patch_settings(nb::module_ &m);             // settings.cpp
void def_iter_relevant_lines(nb::module_ &m);        // lines.cpp
void def_parse_location_comment(nb::module_ &m);     // location.cpp
void def_patch_ports(nb::module_ &m);                // patch.cpp

}  // namespace tessel::spiceread

// What the parts of `tessel.core.pdk` share: the module's namespace, the
// module-level names its functions read at use time, logging through the host
// logger, and the binders of its functions.
//
// Each unit binds its own functions (`def_*`); module.cpp calls the binders in
// the order in which the module defines its names.
#pragma once

#include <nanobind/nanobind.h>

#include <initializer_list>

#include "common/names.hpp"
#include "common/objects.hpp"

namespace tessel::pdk {

namespace nb = nanobind;

ModuleScope &scope();

// Module-level names, looked up in the module's namespace when used so that
// rebinding one (monkeypatching) takes effect.  Spelt as in the module.
namespace names {
extern ModuleName importlib, sys, defaultdict, copy, deepcopy, Path;
extern ModuleName m, cg, mw, log, settings, frozendict, imports, db,
    register_models;
extern ModuleName get_pdk, get_base_pdk, FrozenPdk, _get_pdk, _sort_paths,
    _error_cell, _import_modules, _handle_import_errors, _find_cells,
    _get_database_updates, _clean_containers_also_in_cells;
}  // namespace names

// Logs `text` through a logger obtained anew from the host's `log` getter, so
// a replaced getter or reconfigured logging is honoured on every message.
void log_debug(nb::handle text);
void log_info(nb::handle text);
void log_warning(nb::handle text);

// Exact-type checks whose TypeError carries a note saying why a subclass
// (a defaultdict, say) is refused.
nb::dict arg_dict(nb::handle value, const char *func, const char *arg);
nb::list arg_list(nb::handle value, const char *func, const char *arg);
nb::str arg_str(nb::handle value, const char *func, const char *arg);

// Function binders, in the module's definition order.
void def_get_pdk(nb::module_ &m);                          // access.cpp
void def_get_base_pdk(nb::module_ &m);                     // access.cpp (cached)
void def_register_cells(nb::module_ &m);                   // register.cpp
void def_activate_pdk_by_name(nb::module_ &m);             // access.cpp
void def_frozen_pdk(nb::module_ &m);                       // frozen.cpp
// The binders of the private functions drop the name's leading underscore.
void def_private_get_pdk(nb::module_ &m);                  // access.cpp (cached)
void def_sort_paths(nb::module_ &m);                       // register.cpp
void def_error_cell(nb::module_ &m);                       // error_cells.cpp
void def_import_modules(nb::module_ &m);                   // register.cpp
void def_handle_import_errors(nb::module_ &m);             // error_cells.cpp
void def_find_cells(nb::module_ &m);                       // error_cells.cpp
void def_get_database_updates(nb::module_ &m);             // records_sync.cpp
void def_clean_containers_also_in_cells(nb::module_ &m);   // records_sync.cpp

}  // namespace tessel::pdk

// The module's namespace, the module-level names read at use time, logging
// through the host logger and the exact-type checks shared by the module's
// functions.
#include "pdk/module.hpp"

#include "common/checks.hpp"

namespace tessel::pdk {

ModuleScope &scope() {
    static ModuleScope instance;
    return instance;
}

namespace names {
ModuleName importlib{scope(), "importlib"}, sys{scope(), "sys"},
    defaultdict{scope(), "defaultdict"}, copy{scope(), "copy"},
    deepcopy{scope(), "deepcopy"}, Path{scope(), "Path"};
ModuleName m{scope(), "m"}, cg{scope(), "cg"}, mw{scope(), "mw"},
    log{scope(), "log"}, settings{scope(), "settings"},
    frozendict{scope(), "frozendict"}, imports{scope(), "imports"},
    db{scope(), "db"}, register_models{scope(), "register_models"};
ModuleName get_pdk{scope(), "get_pdk"}, get_base_pdk{scope(), "get_base_pdk"},
    FrozenPdk{scope(), "FrozenPdk"}, _get_pdk{scope(), "_get_pdk"},
    _sort_paths{scope(), "_sort_paths"}, _error_cell{scope(), "_error_cell"},
    _import_modules{scope(), "_import_modules"},
    _handle_import_errors{scope(), "_handle_import_errors"},
    _find_cells{scope(), "_find_cells"},
    _get_database_updates{scope(), "_get_database_updates"},
    _clean_containers_also_in_cells{scope(),
                                    "_clean_containers_also_in_cells"};
}  // namespace names

namespace {

void log_at(const char *level, nb::handle text) {
    nb::object logger = names::log.get()();
    logger.attr(level)(text);
}

}  // namespace

void log_debug(nb::handle text) { log_at("debug", text); }
void log_info(nb::handle text) { log_at("info", text); }
void log_warning(nb::handle text) { log_at("warning", text); }

namespace {
constexpr const char *kDictNote =
    "Subclasses of built-in types are rejected: pass a plain dict.";
constexpr const char *kListNote =
    "Subclasses of built-in types are rejected: pass a plain list.";
constexpr const char *kStrNote =
    "Subclasses of built-in types are rejected: pass a plain str.";
}  // namespace

nb::dict arg_dict(nb::handle value, const char *func, const char *arg) {
    return exact_dict(value, func, arg, kDictNote);
}
nb::list arg_list(nb::handle value, const char *func, const char *arg) {
    return exact_list(value, func, arg, kListNote);
}
nb::str arg_str(nb::handle value, const char *func, const char *arg) {
    return exact_str(value, func, arg, kStrNote);
}

}  // namespace tessel::pdk

// The face of `tessel.core.pdk`: binds the module's names in the order in
// which the module defines them, and nothing else.
#include <nanobind/nanobind.h>

#include "common/names.hpp"
#include "common/single_phase.hpp"
#include "pdk/module.hpp"

namespace nb = nanobind;
using tessel::bind_from;
using tessel::bind_lazy;
using tessel::bind_modules;
using namespace tessel::pdk;

namespace {

void bind_imports(nb::module_ &m) {
    bind_modules(m, {"importlib", "sys", "warnings"});
    bind_from(m, "collections", {"defaultdict"});
    bind_from(m, "collections.abc", {"Callable", "Iterable"});
    bind_from(m, "copy", {"copy", "deepcopy"});
    bind_from(m, "functools", {"cache"});
    bind_from(m, "pathlib", {"Path"});
    bind_from(m, "types", {"ModuleType"});
    bind_from(m, "typing", {"TYPE_CHECKING", "Any", "cast"});

    bind_lazy(m, {{"m", "tessel.models"},
                  {"cg", "tessel.core.callgraph"},
                  {"mw", "morrow"},
                  {"log", "tessel.logger", "get_logger"},
                  {"settings", "tessel.settings"},
                  {"frozendict", "frozendict", "frozendict"},
                  {"imports", "tessel.core.imports"},
                  {"db", "tessel.core.database"},
                  {"register_models", "tessel.core.models", "register_models"}});
}

}  // namespace

NB_MODULE(pdk_impl, m) {
    scope().attach(m);
    m.attr("__doc__") = "PDK Utilties.";
    bind_imports(m);

    def_get_pdk(m);
    def_get_base_pdk(m);
    def_register_cells(m);
    def_activate_pdk_by_name(m);
    def_frozen_pdk(m);
    def_private_get_pdk(m);
    def_sort_paths(m);
    def_error_cell(m);
    def_import_modules(m);
    def_handle_import_errors(m);
    def_find_cells(m);
    def_get_database_updates(m);
    def_clean_containers_also_in_cells(m);
    m.attr("__test__") = nb::dict();

    scope().snapshot_own();
}

TESSEL_SINGLE_PHASE_MODULE(pdk)

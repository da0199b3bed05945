// The face of `tessel.core.spiceread`: binds the module's names in the order
// in which the module defines them (its functions from the table in
// module.hpp), and nothing else.
#include <nanobind/nanobind.h>

#include "common/names.hpp"
#include "common/single_phase.hpp"
#include "spiceread/module.hpp"
#include "spiceread/records.hpp"

namespace nb = nanobind;
using namespace tessel;
using namespace tessel::spiceread;

namespace {

constexpr const char *kModuleDoc =
    "Parse OC Spice.\n"
    "\n"
    "Note:\n"
    "    This spice parser is experimental and incomplete.\n"
    "    If your file fails to parse, please send it to support@tessel.dev\n"
    "    and we will look into it.\n"
    "\n"
    "`parse_oc_spice` reads a netlist into a dict of netlists, one per\n"
    "subcircuit.  It raises `ParseError` (a RuntimeError) for netlist errors it\n"
    "recognises and warns with `ParseWarning` for values it cannot resolve.\n"
    "The dialect and the result are described in docs/oc-spice.md and\n"
    "docs/netlist-format.md.\n";

void bind_imports(nb::module_ &m) {
    bind_modules(m, {"ast", "re", "warnings"});
    bind_from(m, "collections.abc", {"Callable", "Generator", "Iterable", "Sequence"});
    bind_from(m, "contextlib", {"suppress"});
    bind_from(m, "dataclasses", {"dataclass"});
    bind_from(m, "functools", {"lru_cache"});
    bind_from(m, "io", {"TextIOWrapper"});
    bind_from(m, "pathlib", {"Path"});
    bind_from(m, "typing", {"TYPE_CHECKING", "Any", "Literal"});

    bind_lazy(m, {{"sax", "sax"}, {"ts_pdk", "tessel.core.pdk"}, {"natsorted", "natsort", "natsorted"}});

    nb::list all;
    all.append("parse_oc_spice");
    m.attr("__all__") = all;
}

}  // namespace

NB_MODULE(spiceread_impl, m) {
    scope().attach(m);
    m.attr("__doc__") = kModuleDoc;
    bind_imports(m);
    def_classes(m, start_process());

#define TESSEL_BIND(name, binder, signature) binder(m, #name, signature);
    TESSEL_SPICEREAD_FUNCTIONS(TESSEL_BIND)
#undef TESSEL_BIND

    scope().snapshot_own();
}

TESSEL_SINGLE_PHASE_MODULE(spiceread)

ModuleScope &tessel::spiceread::scope() {
    static ModuleScope instance;
    return instance;
}

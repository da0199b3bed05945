// The face of `tessel.core.spiceread`: binds the module's names in the order
// in which the module defines them, and nothing else.
#include <nanobind/nanobind.h>

#include "common/names.hpp"
#include "common/single_phase.hpp"
#include "spiceread/module.hpp"

namespace nb = nanobind;
using tessel::bind_from;
using tessel::bind_modules;
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

    nb::object lazy_import = nb::module_::import_("tessel.core.lazy").attr("lazy_import");
    m.attr("lazy_import") = lazy_import;
    m.attr("sax") = lazy_import("sax");
    m.attr("ts_pdk") = lazy_import("tessel.core.pdk");
    m.attr("natsorted") = lazy_import("natsort", "natsorted");

    nb::list all;
    all.append("parse_oc_spice");
    m.attr("__all__") = all;
}

}  // namespace

NB_MODULE(spiceread_impl, m) {
    scope().attach(m);
    m.attr("__doc__") = kModuleDoc;
    bind_imports(m);
    def_classes(m);

    def_parse_oc_spice(m);
    def_recursive_netlist_from_ir(m);
    def_netlist_from_subckt(m);
    def_parse_oc_spice_into_ir(m);
    def_split_comments(m);
    def_split_words(m);
    def_parse_into_ir(m);
    def_handle_sources(m);
    def_parse_value(m);
    def_eval(m);
    def_chain(m);
    def_strip_lines(m);
    def_join_continuations(m);
    def_standardize_spaces(m);
    def_filter_empty(m);
    def_get_parent_id(m);
    def_get_ir_ports(m);
    def_get_ir_settings(m);
    def_get_ports_from_model(m);
    def_get_ports_from_component(m);
    def_get_ports(m);
    def_sort_ports(m);
    def_get_port(m);
    def_map_settings_keys(m);
    def_convert_um(m);
    def_is_probably_um(m);
    def_patch_settings(m);
    def_iter_relevant_lines(m);
    def_parse_location_comment(m);
    def_patch_ports(m);

    scope().snapshot_originals();
}

TESSEL_SINGLE_PHASE_MODULE(spiceread)

namespace tessel::spiceread {

ModuleScope &scope() {
    static ModuleScope instance;
    return instance;
}

}  // namespace tessel::spiceread

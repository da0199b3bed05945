// PDK access: importing the project's PDK (`_get_pdk`), the frozen base PDK
// (`get_base_pdk`), the active PDK (`get_pdk`) and the deprecated
// `activate_pdk_by_name`.
//
// `_get_pdk` and `get_base_pdk` are bound wrapped by the module's `cache`, so
// each keeps one value for the life of the process; callers inside the module
// go through the module's names so that they hit (or, via `__wrapped__`,
// bypass) those caches exactly as Python callers do.
#include <string_view>

#include "common/checks.hpp"
#include "common/signatures.hpp"
#include "common/warnings.hpp"
#include "pdk/module.hpp"

namespace tessel::pdk {

namespace {

nb::object get_pdk() {
    names::get_base_pdk.get()();
    nb::object pdk = names::_get_pdk.get()();
    pdk.attr("activate")();
    log_debug(concat({nb::str("Activated PDK: "), format_text(pdk.attr("name"))}));
    return pdk;
}

// Only the instance dictionary's own values are converted: a list nested in
// a dict stays a list.  Dict and list subclasses count as dicts and lists.
nb::dict frozen_attrs(nb::handle instance_dict) {
    nb::object frozendict = names::frozendict.get();
    nb::dict frozen;
    for (nb::handle item : instance_dict.attr("items")()) {
        nb::object key = item[0], value = item[1];
        if (PyDict_Check(value.ptr()))
            frozen[key] = frozendict(value);
        else if (PyList_Check(value.ptr()))
            frozen[key] = nb::tuple(value);
        else
            frozen[key] = value;
    }
    return frozen;
}

nb::object get_base_pdk() {
    nb::object pdk = names::_get_pdk.get()();
    if (truthy(names::settings.get().attr("is_a_pdk")())) return pdk;

    nb::object base_pdk = names::_get_pdk.get().attr("__wrapped__")();
    // A PDK package may hand out one shared object on every import; the
    // active PDK must never be the one frozen.
    if (base_pdk.is(pdk)) base_pdk = names::copy.get()(pdk);
    nb::object instance_dict = base_pdk.attr("__dict__");
    instance_dict.attr("update")(frozen_attrs(instance_dict));
    base_pdk.attr("__class__") = names::FrozenPdk.get();

    // Importing the PDK anew may have activated the copy being frozen.
    pdk.attr("activate")();
    log_debug(concat({nb::str("Froze base PDK: "), format_text(base_pdk.attr("name"))}));
    return base_pdk;
}

nb::object import_module(nb::handle importlib, nb::handle name) {
    return importlib.attr("import_module")(name);
}

nb::object reload(nb::handle importlib, nb::handle module) {
    return importlib.attr("reload")(module);
}

nb::object load_pdk() {
    nb::object import_name = names::settings.get().attr("get_pdk_name")();
    nb::object importlib = names::importlib.get();
    nb::object loaded = names::sys.get().attr("modules");

    if (equals(import_name.attr("lower")(), nb::str("generic"))) {
        nb::str generic_name("morrow.generic_tech");
        bool needs_reload = contains(loaded, generic_name);
        nb::object generic_tech = import_module(importlib, generic_name);
        if (needs_reload) generic_tech = reload(importlib, generic_tech);
        return generic_tech.attr("get_generic_pdk").attr("__wrapped__")();
    }

    bool needs_reload = contains(loaded, import_name);
    nb::object module = import_module(importlib, import_name);
    nb::object submod;
    if (needs_reload) {
        module = reload(importlib, module);
        // The package may take its PDK from a `.pdk` submodule, which the
        // package's reload does not re-execute.  Only a submodule that is
        // already loaded is reloaded; it is never imported here.
        nb::object submod_name = concat({format_text(import_name), nb::str(".pdk")});
        if (contains(loaded, submod_name))
            submod = reload(importlib, loaded[submod_name]);
    }

    nb::object module_pdk = optional_attr(module, "PDK");
    nb::object submod_pdk = submod.is_valid() ? optional_attr(submod, "PDK") : nb::object();
    if (!module_pdk.is_valid() && !submod_pdk.is_valid())
        raise_error(PyExc_ImportError,
                    concat({nb::str("Module '"), format_text(import_name),
                            nb::str("' does not expose a PDK in its __init__.py.")}));
    // The reloaded submodule holds the newly built PDK; the package's
    // attribute may still be the one bound before the reload.
    return submod_pdk.is_valid() ? submod_pdk : module_pdk;
}

nb::object activate_pdk_by_name(nb::handle name_arg) {
    nb::str name = arg_str(name_arg, "activate_pdk_by_name", "name");
    nb::object pdk_name = names::settings.get().attr("get_pdk_name")();
    nb::str extra_msg = concat(
        {nb::str("The given 'name' argument '"), name,
         nb::str("' will be ignored. Using '"), format_text(pdk_name),
         nb::str("' instead (as configured in 'pyproject.toml').")});
    if (equals(pdk_name, name)) extra_msg = nb::str("");
    nb::str msg = concat(
        {nb::str("activate_pdk_by_name is deprecated, use get_pdk() instead. "), extra_msg});

    warn_caller(PyExc_DeprecationWarning, msg);
    return names::get_pdk.get()();
}

void def_cached(nb::module_ &m, const char *name, const char *sig,
                nb::object (*func)(), const char *doc) {
    nb::object function = nb::cpp_function(func, nb::scope(m), nb::name(name), nb::sig(sig), doc);
    m.attr(name) = m.attr("cache")(function);
}

}  // namespace

void def_get_pdk(nb::module_ &m) {
    m.def("get_pdk", &get_pdk, nb::sig("def get_pdk() -> morrow.Pdk"),
          "Return the project's active PDK, activated.\n"
          "\n"
          "The PDK is the one that the project's pyproject.toml names under\n"
          "[tool.tessel] pdk (or $TESSEL_PDK; \"generic\" by default), imported\n"
          "once per process.  The frozen base PDK is built first, once.\n"
          "\n"
          "Returns:\n"
          "    The same `morrow.Pdk` object on every call, activated each time.\n"
          "\n"
          "Raises:\n"
          "    ImportError: The PDK package cannot be imported or exposes no\n"
          "        `PDK`.\n"
          "    tessel.settings.ProjectConfigError: The project's pyproject.toml\n"
          "        cannot be read.");
    publish_signature(m, "get_pdk");
}

void def_get_base_pdk(nb::module_ &m) {
    def_cached(m, "get_base_pdk", "def get_base_pdk() -> morrow.Pdk", &get_base_pdk,
               "Return the PDK as shipped, before the project's cells are registered.\n"
               "\n"
               "Built once per process from a fresh import of the PDK package.\n"
               "\n"
               "Returns:\n"
               "    A `FrozenPdk`, whose attributes cannot be set or deleted (its\n"
               "    dicts and lists are read-only copies), or the active PDK itself\n"
               "    when the project is a PDK ([tool.tessel] is-pdk = true).\n"
               "\n"
               "Raises:\n"
               "    ImportError: As `get_pdk`.");
    publish_signature(m, "get_base_pdk");
}

void def_activate_pdk_by_name(nb::module_ &m) {
    m.def("activate_pdk_by_name", &activate_pdk_by_name, nb::arg("name").none(),
          nb::sig("def activate_pdk_by_name(name: str) -> morrow.Pdk"),
          "Deprecated: use `get_pdk()`.\n"
          "\n"
          "Args:\n"
          "    name: Ignored: the PDK configured in 'pyproject.toml' is used\n"
          "        whatever it says (the warning says so when they differ).\n"
          "\n"
          "Returns:\n"
          "    The result of `get_pdk()`.\n"
          "\n"
          "Raises:\n"
          "    TypeError: `name` is not exactly a str.\n"
          "\n"
          "Warns:\n"
          "    DeprecationWarning: On every call.");
    publish_signature(m, "activate_pdk_by_name");
}

void def_private_get_pdk(nb::module_ &m) {
    def_cached(m, "_get_pdk", "def _get_pdk() -> morrow.Pdk", &load_pdk,
               "Import (or reload) the project's PDK package and return its "
               "PDK.");
}

}  // namespace tessel::pdk

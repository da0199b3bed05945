// `FrozenPdk`: the read-only PDK class of the base PDK.
//
// A real Python subclass of the layout library's `Pdk`, created at load with
// `type(...)` so that existing `Pdk` instances can be switched to it through
// `__class__` (nanobind classes cannot derive from Python classes).  It adds
// no fields; only setting and deleting attributes are refused.
#include "common/checks.hpp"
#include "pdk/module.hpp"

namespace tessel::pdk {

namespace {

constexpr const char *kFrozenMessage = "Frozen PDK cannot be modified.";

[[noreturn]] void refuse_change(const char *method, nb::handle name) {
    arg_str(name, method, "name");
    raise_error(PyExc_AttributeError, nb::str(kFrozenMessage));
}

void frozen_setattr(nb::handle, nb::handle name, nb::handle) {
    refuse_change("__setattr__", name);
}

void frozen_delattr(nb::handle, nb::handle name) {
    refuse_change("__delattr__", name);
}

}  // namespace

void def_frozen_pdk(nb::module_ &m) {
    // Bound as methods (nanobind's method type binds `self` like a Python
    // function does when read from the class).
    nb::dict ns = class_namespace(m, "FrozenPdk", "A frozen PDK that prevents modification of its attributes.");
    ns["__setattr__"] = nb::cpp_function(
        &frozen_setattr, nb::is_method(), nb::name("__setattr__"),
        nb::arg("name").none(), nb::arg("value").none(),
        nb::sig("def __setattr__(self, name: str, value: object) -> None"),
        "Refuse to set any attribute: raises AttributeError.");
    ns["__delattr__"] = nb::cpp_function(
        &frozen_delattr, nb::is_method(), nb::name("__delattr__"),
        nb::arg("name").none(), nb::sig("def __delattr__(self, name: str) -> None"),
        "Refuse to delete any attribute: raises AttributeError.");

    // Resolving `mw.Pdk` here loads the layout library with the module.
    nb::object base = m.attr("mw").attr("Pdk");
    nb::object metaclass = nb::borrow(reinterpret_cast<PyObject *>(Py_TYPE(base.ptr())));
    m.attr("FrozenPdk") = metaclass("FrozenPdk", nb::make_tuple(base), ns);
}

}  // namespace tessel::pdk

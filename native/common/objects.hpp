// Object protocol calls that throw the pending Python error when they fail,
// for code that keeps its references in nb::object.
#pragma once

#include <nanobind/nanobind.h>

namespace tessel {

namespace nb = nanobind;

// `bool(value)`.
inline bool truthy(nb::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0) throw nb::python_error();
    return result == 1;
}

// `container[key]`.
inline nb::object get_item(nb::handle container, nb::handle key) {
    PyObject *value = PyObject_GetItem(container.ptr(), key.ptr());
    if (!value) throw nb::python_error();
    return nb::steal(value);
}

}  // namespace tessel

// The small object-protocol wrappers both modules use: each throws the
// pending Python error when the call fails, and hands back references owned
// by nb::object.
#pragma once

#include <initializer_list>
#include <utility>

#include <nanobind/nanobind.h>

namespace tessel {

namespace nb = nanobind;

// Throws the pending Python error unless `result` holds a reference.
inline nb::object checked(PyObject *result) {
    if (!result) throw nb::python_error();
    return nb::steal(result);
}
// Throws the pending Python error when a call that answers with a number
// failed (a negative answer: PyObject_IsInstance, PyDict_SetItem, ...).
inline int checked(int result) {
    if (result < 0) throw nb::python_error();
    return result;
}
inline Py_ssize_t checked(Py_ssize_t result) {
    if (result < 0) throw nb::python_error();
    return result;
}

// `bool(value)`.
inline bool truthy(nb::handle value) { return checked(PyObject_IsTrue(value.ptr())) == 1; }

// `container[key]`.
inline nb::object get_item(nb::handle container, nb::handle key) {
    return checked(PyObject_GetItem(container.ptr(), key.ptr()));
}

// `d[key] = value` for a dict.
inline void set_item(nb::handle dict, nb::handle key, nb::handle value) {
    checked(PyDict_SetItem(dict.ptr(), key.ptr(), value.ptr()));
}

// `d.get(key)` of a dict: the value, or an invalid object when absent.
inline nb::object dict_get(nb::handle dict, nb::handle key) {
    PyObject *value = PyDict_GetItemWithError(dict.ptr(), key.ptr());
    if (!value && PyErr_Occurred()) throw nb::python_error();
    return value ? nb::borrow(value) : nb::object();
}

// `getattr(obj, name)`.
inline nb::object get_attr(nb::handle obj, nb::handle name) {
    return checked(PyObject_GetAttr(obj.ptr(), name.ptr()));
}

// `getattr(obj, name)`, or an invalid object when the attribute is missing;
// errors other than AttributeError propagate, as with `hasattr`.
nb::object optional_attr(nb::handle obj, nb::handle name);
inline nb::object optional_attr(nb::handle obj, const char *name) {
    return optional_attr(obj, nb::str(name));
}

// `fn()`, `fn(a)`, `fn(a, b)`.
inline nb::object call(nb::handle fn) { return checked(PyObject_CallNoArgs(fn.ptr())); }
inline nb::object call(nb::handle fn, nb::handle a) {
    return checked(PyObject_CallOneArg(fn.ptr(), a.ptr()));
}
inline nb::object call(nb::handle fn, nb::handle a, nb::handle b) {
    PyObject *args[] = {a.ptr(), b.ptr()};
    return checked(PyObject_Vectorcall(fn.ptr(), args, 2, nullptr));
}

// `fn(*positional)`.
nb::object call_with(nb::handle fn, std::initializer_list<nb::handle> positional);

// `fn(*positional, **kwargs)` with a copy of `kwargs`: a callee that is not a
// Python function could otherwise keep or change the caller's mapping.
nb::object call_with_kwargs(nb::handle fn, std::initializer_list<nb::handle> positional,
                            nb::handle kwargs);

// `a == b` taken as a truth value (no identity shortcut, as in Python's `==`).
bool equals(nb::handle a, nb::handle b);
// `key in container`.
bool contains(nb::handle container, nb::handle key);

// `f"{value}"`: text as it is, anything else formatted.
nb::str format_text(nb::handle value);
// `a + b + ...` of texts.
nb::str concat(std::initializer_list<nb::handle> parts);

// Raises `type(message)`.
[[noreturn]] void raise_error(PyObject *type, nb::handle message);

inline nb::object new_int(long long value) { return checked(PyLong_FromLongLong(value)); }
inline nb::object new_float(double value) { return checked(PyFloat_FromDouble(value)); }
inline nb::dict new_dict() { return nb::steal<nb::dict>(checked(PyDict_New()).release()); }
// A new dict with room for `size` items, so that filling it never resizes
// it (CPython's own presizing, in its API from 3.11 to 3.14 at least).
inline nb::dict presized_dict(std::size_t size) {
    return nb::steal<nb::dict>(checked(_PyDict_NewPresized(static_cast<Py_ssize_t>(size))).release());
}
// A new dict of `items`, in their order.
inline nb::dict new_dict(std::initializer_list<std::pair<nb::handle, nb::handle>> items) {
    nb::dict dict = new_dict();
    for (const auto &[key, value] : items) set_item(dict, key, value);
    return dict;
}

// A reference kept for the life of the process, for module-level statics.
// A static nb::object would be released after the interpreter is gone.
inline nb::handle keep_forever(nb::object value) { return value.release(); }

// An interned text kept for the life of the process, for texts compared or
// inserted on every call.
PyObject *interned(const char *text);

}  // namespace tessel

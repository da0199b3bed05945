// Exact-type argument checks.
//
// Arguments declared as dict, list, tuple, str or int must be of exactly that
// built-in type: a subclass (or None where None is not declared) is rejected
// with a TypeError naming the function, the argument, the expected and the
// received type.
#pragma once

#include <nanobind/nanobind.h>

namespace tessel {

namespace nb = nanobind;

// Raises TypeError "<func>() argument '<arg>' must be <expected>, not <type>",
// with `note` attached (BaseException.add_note) when given.
[[noreturn]] void raise_arg_type(const char *func, const char *arg,
                                 const char *expected, nb::handle received,
                                 const char *note = nullptr);

// Checks that `value` is exactly of `type`; `expected` is the type's name as
// shown in the message (for example "dict" or "dict or None").
inline void require_exact(nb::handle value, PyTypeObject *type,
                          const char *func, const char *arg,
                          const char *expected, const char *note = nullptr) {
    if (Py_TYPE(value.ptr()) != type)
        raise_arg_type(func, arg, expected, value, note);
}

inline nb::dict exact_dict(nb::handle value, const char *func, const char *arg,
                           const char *note = nullptr) {
    require_exact(value, &PyDict_Type, func, arg, "dict", note);
    return nb::borrow<nb::dict>(value);
}

inline nb::list exact_list(nb::handle value, const char *func, const char *arg,
                           const char *note = nullptr) {
    require_exact(value, &PyList_Type, func, arg, "list", note);
    return nb::borrow<nb::list>(value);
}

inline nb::tuple exact_tuple(nb::handle value, const char *func,
                             const char *arg, const char *note = nullptr) {
    require_exact(value, &PyTuple_Type, func, arg, "tuple", note);
    return nb::borrow<nb::tuple>(value);
}

inline nb::str exact_str(nb::handle value, const char *func, const char *arg,
                         const char *note = nullptr) {
    require_exact(value, &PyUnicode_Type, func, arg, "str", note);
    return nb::borrow<nb::str>(value);
}

inline nb::int_ exact_int(nb::handle value, const char *func, const char *arg,
                          const char *note = nullptr) {
    require_exact(value, &PyLong_Type, func, arg, "int", note);
    return nb::borrow<nb::int_>(value);
}

// Requires an item of a sequence of texts that `func` takes, or gives back,
// to be text (a str subclass will do): TypeError otherwise.
inline void require_str_item(nb::handle item, const char *func) {
    if (!PyUnicode_Check(item.ptr())) {
        PyErr_Format(PyExc_TypeError, "%s(): items must be str, not %s", func, Py_TYPE(item.ptr())->tp_name);
        throw nb::python_error();
    }
}

// None, or exactly a dict.
inline bool is_none_or_exact_dict(nb::handle value) {
    return value.is_none() || PyDict_CheckExact(value.ptr());
}

}  // namespace tessel

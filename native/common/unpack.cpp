// Unpacking with the interpreter's messages.
#include "common/unpack.hpp"

namespace tessel {

[[noreturn]] void raise_unpack(std::size_t expected, std::size_t got, bool sized) {
    if (got < expected) {
        PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected %zu, got %zu)",
                     expected, got);
        throw nb::python_error();
    }
#if PY_VERSION_HEX >= 0x030E0000
    if (sized) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zu, got %zu)",
                     expected, got);
        throw nb::python_error();
    }
#else
    (void)sized;
#endif
    PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zu)", expected);
    throw nb::python_error();
}

std::pair<nb::object, nb::object> unpack_pair(nb::handle value) {
    PyObject *v = value.ptr();
    if (PyTuple_CheckExact(v) && PyTuple_GET_SIZE(v) == 2)
        return {nb::borrow(PyTuple_GET_ITEM(v, 0)), nb::borrow(PyTuple_GET_ITEM(v, 1))};
    if (PyList_CheckExact(v) && PyList_GET_SIZE(v) == 2)
        return {nb::borrow(PyList_GET_ITEM(v, 0)), nb::borrow(PyList_GET_ITEM(v, 1))};
    nb::object iterator = nb::steal(PyObject_GetIter(v));
    if (!iterator.is_valid()) {
        // The interpreter rewords only the plain "not iterable" failure.
        if (PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(v)->tp_iter == nullptr &&
            !PySequence_Check(v)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                         Py_TYPE(v)->tp_name);
        }
        throw nb::python_error();
    }
    nb::object items[2];
    for (std::size_t i = 0; i < 2; ++i) {
        items[i] = nb::steal(PyIter_Next(iterator.ptr()));
        if (!items[i].is_valid()) {
            if (PyErr_Occurred()) throw nb::python_error();
            raise_unpack(2, i);
        }
    }
    if (nb::object extra = nb::steal(PyIter_Next(iterator.ptr()))) {
        const bool sized = PyList_CheckExact(v) || PyTuple_CheckExact(v) || PyDict_CheckExact(v);
        raise_unpack(2, sized ? static_cast<std::size_t>(PyObject_Length(v)) : 3, sized);
    }
    if (PyErr_Occurred()) throw nb::python_error();
    return {std::move(items[0]), std::move(items[1])};
}

}  // namespace tessel

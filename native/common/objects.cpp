#include "common/objects.hpp"

#include <vector>

namespace tessel {

nb::object optional_attr(nb::handle obj, nb::handle name) {
    PyObject *value = PyObject_GetAttr(obj.ptr(), name.ptr());
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw nb::python_error();
        PyErr_Clear();
        return nb::object();
    }
    return nb::steal(value);
}

nb::object call_with(nb::handle fn, std::initializer_list<nb::handle> positional) {
    std::vector<PyObject *> args;
    args.reserve(positional.size());
    for (nb::handle item : positional) args.push_back(item.ptr());
    return checked(PyObject_Vectorcall(fn.ptr(), args.data(), args.size(), nullptr));
}

nb::object call_with_kwargs(nb::handle fn, std::initializer_list<nb::handle> positional,
                            nb::handle kwargs) {
    nb::object args = checked(PyTuple_New(static_cast<Py_ssize_t>(positional.size())));
    Py_ssize_t i = 0;
    for (nb::handle item : positional)
        PyTuple_SET_ITEM(args.ptr(), i++, nb::borrow(item).release().ptr());
    nb::object copy = checked(PyDict_Copy(kwargs.ptr()));
    return checked(PyObject_Call(fn.ptr(), args.ptr(), copy.ptr()));
}

bool equals(nb::handle a, nb::handle b) {
    return truthy(checked(PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ)));
}

bool contains(nb::handle container, nb::handle key) {
    int result = PySequence_Contains(container.ptr(), key.ptr());
    if (result < 0) throw nb::python_error();
    return result == 1;
}

nb::str format_text(nb::handle value) {
    if (PyUnicode_CheckExact(value.ptr())) return nb::borrow<nb::str>(value);
    return nb::steal<nb::str>(checked(PyObject_Format(value.ptr(), nullptr)).release());
}

nb::str concat(std::initializer_list<nb::handle> parts) {
    nb::object joined = nb::str("");
    for (nb::handle part : parts) joined = checked(PyUnicode_Concat(joined.ptr(), part.ptr()));
    return nb::borrow<nb::str>(joined);
}

void raise_error(PyObject *type, nb::handle message) {
    PyErr_SetObject(type, message.ptr());
    throw nb::python_error();
}

PyObject *interned(const char *text) {
    PyObject *s = PyUnicode_InternFromString(text);
    if (!s) throw nb::python_error();
    return s;
}

}  // namespace tessel

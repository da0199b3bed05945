#include "common/checks.hpp"

#include <string>

namespace tessel {

void raise_arg_type(const char *func, const char *arg, const char *expected,
                    nb::handle received, const char *note) {
    std::string message = std::string(func) + "() argument '" + arg +
                          "' must be " + expected + ", not " +
                          Py_TYPE(received.ptr())->tp_name;
    nb::object error = nb::handle(PyExc_TypeError)(nb::str(message.c_str()));
    if (note) error.attr("add_note")(nb::str(note));
    PyErr_SetObject(PyExc_TypeError, error.ptr());
    throw nb::python_error();
}

}  // namespace tessel

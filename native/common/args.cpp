#include "common/args.hpp"

#include <string>

#include "common/objects.hpp"

namespace tessel {

BoundArgs bind_args(const char *func, const nb::args &args, const nb::kwargs &kwargs,
                    std::initializer_list<const char *> names) {
    const std::size_t given = args.size();
    if (given > names.size()) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zu were given",
                     func, names.size(), names.size() == 1 ? "" : "s", given);
        throw nb::python_error();
    }
    BoundArgs bound{{}, nb::borrow<nb::dict>(kwargs)};
    bool copied = false;
    std::vector<const char *> missing;
    std::size_t i = 0;
    for (const char *name : names) {
        if (i < given) {
            bound.params.push_back(args[i]);
        } else if (PyObject *value = PyDict_GetItemString(bound.kwargs.ptr(), name)) {
            nb::object keep = nb::borrow(value);
            if (!copied) {
                bound.kwargs = nb::steal<nb::dict>(checked(PyDict_Copy(bound.kwargs.ptr())).release());
                copied = true;
            }
            PyDict_DelItemString(bound.kwargs.ptr(), name);
            bound.params.push_back(std::move(keep));
        } else {
            missing.push_back(name);
            bound.params.emplace_back();
        }
        ++i;
    }
    if (!missing.empty()) {
        std::string list;
        for (std::size_t k = 0; k < missing.size(); ++k) {
            if (k > 0)
                list += (k + 1 == missing.size()) ? (missing.size() > 2 ? ", and " : " and ") : ", ";
            list += '\'';
            list += missing[k];
            list += '\'';
        }
        PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", func,
                     missing.size(), missing.size() == 1 ? "" : "s", list.c_str());
        throw nb::python_error();
    }
    return bound;
}

nb::handle only_positional(const char *func, const char *param, const nb::args &args) {
    const std::size_t given = args.size();
    if (given == 1) return args[0];
    if (given == 0)
        PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: '%s'", func,
                     param);
    else
        PyErr_Format(PyExc_TypeError, "%s() takes 1 positional argument but %zu were given", func,
                     given);
    throw nb::python_error();
}

void raise_unexpected_keyword(const char *func, nb::handle kwargs) {
    nb::object keys = checked(PyObject_GetIter(kwargs.ptr()));
    nb::object name = checked(PyIter_Next(keys.ptr()));
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", func, name.ptr());
    throw nb::python_error();
}

}  // namespace tessel

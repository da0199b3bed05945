// Shared texts of netlist assembly: interned dictionary keys, positional port
// names and instance ports ("R1,minus").
#include "spiceread/assembly.hpp"

#include <cstring>
#include <vector>

#include "common/unpack.hpp"

namespace tessel::spiceread {

PyObject *interned(const char *text) {
    PyObject *s = PyUnicode_InternFromString(text);
    if (!s) throw nb::python_error();
    return s;
}

const NetlistKeys &netlist_keys() {
    // Never released: the module lives for the process.
    static const NetlistKeys keys{interned("instances"), interned("connections"),
                                  interned("ports"),     interned("settings"),
                                  interned("placements"), interned("component")};
    return keys;
}

nb::str positional_port(Py_ssize_t i) {
    // Components rarely have more than a handful of terminals; the first
    // few dozen names are made once and shared by every instance port.
    static std::vector<PyObject *> shared;
    constexpr Py_ssize_t kShared = 64;
    if (i < kShared) {
        if (shared.empty()) {
            shared.reserve(kShared);
            for (Py_ssize_t k = 0; k < kShared; ++k) {
                PyObject *s = PyUnicode_FromFormat("o%zd", k + 1);
                if (!s) throw nb::python_error();
                PyUnicode_InternInPlace(&s);
                shared.push_back(s);
            }
        }
        return nb::borrow<nb::str>(shared[static_cast<size_t>(i)]);
    }
    PyObject *s = PyUnicode_FromFormat("o%zd", i + 1);
    if (!s) throw nb::python_error();
    return nb::steal<nb::str>(s);
}

nb::object join_instance_port(PyObject *name, PyObject *port) {
    Py_ssize_t n1 = PyUnicode_GET_LENGTH(name), n2 = PyUnicode_GET_LENGTH(port);
    Py_UCS4 max1 = PyUnicode_MAX_CHAR_VALUE(name), max2 = PyUnicode_MAX_CHAR_VALUE(port);
    PyObject *out = PyUnicode_New(n1 + 1 + n2, max1 > max2 ? max1 : max2);
    if (!out) throw nb::python_error();
    nb::object result = nb::steal(out);
    if (PyUnicode_IS_ASCII(name) && PyUnicode_IS_ASCII(port)) {
        auto *data = static_cast<char *>(PyUnicode_DATA(out));
        std::memcpy(data, PyUnicode_DATA(name), static_cast<size_t>(n1));
        data[n1] = ',';
        std::memcpy(data + n1 + 1, PyUnicode_DATA(port), static_cast<size_t>(n2));
        return result;
    }
    if (PyUnicode_CopyCharacters(out, 0, name, 0, n1) < 0 ||
        PyUnicode_WriteChar(out, n1, ',') < 0 ||
        PyUnicode_CopyCharacters(out, n1 + 1, port, 0, n2) < 0)
        throw nb::python_error();
    return result;
}

bool has_one_comma(PyObject *text) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    if (PyUnicode_IS_ASCII(text)) {
        const char *data = static_cast<const char *>(PyUnicode_DATA(text));
        const void *first = std::memchr(data, ',', static_cast<size_t>(n));
        if (!first) return false;
        const char *after = static_cast<const char *>(first) + 1;
        return !std::memchr(after, ',', static_cast<size_t>(data + n - after));
    }
    Py_ssize_t first = PyUnicode_FindChar(text, ',', 0, n, 1);
    if (first < 0) return false;
    return PyUnicode_FindChar(text, ',', first + 1, n, 1) < 0;
}

std::pair<nb::object, nb::object> split_instance_port(nb::handle text) {
    nb::object parts;
    if (PyUnicode_CheckExact(text.ptr())) {
        static PyObject *comma = interned(",");
        parts = nb::steal(PyUnicode_Split(text.ptr(), comma, -1));
        if (!parts.is_valid()) throw nb::python_error();
    } else {
        parts = text.attr("split")(",");
    }
    return unpack_pair(parts);
}

}  // namespace tessel::spiceread

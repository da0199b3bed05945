#include "common/utf8.hpp"

namespace tessel {

Utf8Text utf8_of(nb::handle str) {
    Py_ssize_t size = 0;
    if (const char *data = PyUnicode_AsUTF8AndSize(str.ptr(), &size))
        return {std::string_view(data, static_cast<std::size_t>(size)), false, {}};
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw nb::python_error();
    PyErr_Clear();
    nb::object encoded =
        nb::steal(PyUnicode_AsEncodedString(str.ptr(), "utf-8", "surrogatepass"));
    if (!encoded.is_valid()) throw nb::python_error();
    std::string_view view(PyBytes_AS_STRING(encoded.ptr()),
                          static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.ptr())));
    return {view, true, std::move(encoded)};
}

std::string_view utf8_kept(nb::handle str, std::vector<nb::object> &keep) {
    Utf8Text text = utf8_of(str);
    keep.push_back(nb::borrow(str));
    if (text.keep.is_valid()) keep.push_back(std::move(text.keep));
    return text.view;
}

nb::str str_from_utf8(std::string_view utf8) {
    // The error handler is consulted only on bytes that strict UTF-8 refuses,
    // so valid text decodes at full speed.
    PyObject *str = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()),
                                         "surrogatepass");
    if (!str) throw nb::python_error();
    return nb::steal<nb::str>(str);
}

bool is_identifier(std::string_view utf8) {
    const int result = PyUnicode_IsIdentifier(str_from_utf8(utf8).ptr());
    if (result < 0) throw nb::python_error();
    return result == 1;
}

// Such a text can hold non-ASCII characters only as white space around it
// and as decimal digits of another script.
bool ascii_number(std::string_view utf8, std::string &out) {
    nb::str source = str_from_utf8(utf8);
    if (!nb::steal(PyFloat_FromString(source.ptr())).is_valid()) {
        PyErr_Clear();
        return false;
    }
    const int kind = PyUnicode_KIND(source.ptr());
    const void *data = PyUnicode_DATA(source.ptr());
    for (Py_ssize_t i = 0, n = PyUnicode_GET_LENGTH(source.ptr()); i < n; ++i) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (Py_UNICODE_ISSPACE(c)) continue;
        const int digit = c < 0x80 ? -1 : Py_UNICODE_TODECIMAL(c);
        out.push_back(digit >= 0 ? static_cast<char>('0' + digit) : static_cast<char>(c));
    }
    return true;
}

}  // namespace tessel

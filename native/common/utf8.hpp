// UTF-8 access to Python strings, and Python strings made from UTF-8.
//
// The compiled text code works on UTF-8 bytes.  A str with lone surrogates
// cannot be encoded strictly; it is then held in its "surrogatepass" form,
// which the text code handles like any other non-ASCII text, and strings
// made from pieces of it are decoded the same way, so every piece cut at
// character boundaries turns back into the same str.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <nanobind/nanobind.h>

namespace tessel {

namespace nb = nanobind;

// The UTF-8 bytes of a str.
struct Utf8Text {
    std::string_view view;
    bool surrogates = false;  // `view` is in surrogatepass form
    nb::object keep;          // owns the bytes of the surrogatepass form
};

// `str` must be an instance of str.
Utf8Text utf8_of(nb::handle str);

// The characters of a str whose PyUnicode_IS_ASCII holds, which are its
// UTF-8 as they stand.
inline std::string_view ascii_view(PyObject *str) {
    return {static_cast<const char *>(PyUnicode_DATA(str)), static_cast<std::size_t>(PyUnicode_GET_LENGTH(str))};
}

// The UTF-8 of `str`, valid while `keep` holds what it points into.
std::string_view utf8_kept(nb::handle str, std::vector<nb::object> &keep);

// The str of UTF-8 bytes (surrogatepass form allowed).
nb::str str_from_utf8(std::string_view utf8);

// `str.isidentifier` of the text of UTF-8 bytes.
bool is_identifier(std::string_view utf8);

// Whether float() takes the text of UTF-8 bytes `utf8`, which holds
// non-ASCII characters; if so, appends to `out` the same number in ASCII
// (digits of any script made ASCII, white space dropped).  A refusal of any
// kind counts as "not a number".
bool ascii_number(std::string_view utf8, std::string &out);

// A tuple, or a list, of the str of each of `size` words, made by
// `make(word)` (str_from_utf8, or a cache of strings).
template <PyObject *(*New)(Py_ssize_t), int (*Set)(PyObject *, Py_ssize_t, PyObject *), typename Make>
nb::object sequence_of_words(const std::string_view *words, std::size_t size, Make &&make) {
    PyObject *sequence = New(static_cast<Py_ssize_t>(size));
    if (!sequence) throw nb::python_error();
    nb::object result = nb::steal(sequence);
    for (std::size_t k = 0; k < size; ++k)
        Set(sequence, static_cast<Py_ssize_t>(k), nb::object(make(words[k])).release().ptr());
    return result;
}
template <typename Make>
nb::tuple tuple_of_words(const std::string_view *words, std::size_t size, Make &&make) {
    return nb::steal<nb::tuple>(sequence_of_words<PyTuple_New, PyTuple_SetItem>(words, size, make).release());
}
template <typename Make>
nb::list list_of_words(const std::string_view *words, std::size_t size, Make &&make) {
    return nb::steal<nb::list>(sequence_of_words<PyList_New, PyList_SetItem>(words, size, make).release());
}

}  // namespace tessel

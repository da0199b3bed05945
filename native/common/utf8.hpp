// UTF-8 access to Python strings, and Python strings made from UTF-8.
//
// The compiled text code works on UTF-8 bytes.  A str with lone surrogates
// cannot be encoded strictly; it is then held in its "surrogatepass" form,
// which the text code handles like any other non-ASCII text, and strings
// made from pieces of it are decoded the same way, so every piece cut at
// character boundaries turns back into the same str.
#pragma once

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

// The UTF-8 of `str`, valid while `keep` holds what it points into.
std::string_view utf8_kept(nb::handle str, std::vector<nb::object> &keep);

// The str of UTF-8 bytes (surrogatepass form allowed).
nb::str str_from_utf8(std::string_view utf8);

}  // namespace tessel

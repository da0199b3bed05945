// Setting values: the text after the "=" of a setting word to a Python value.
//
// The IR builder calls `parse_value_text` once per setting word, so it works
// on the UTF-8 bytes it was handed and makes no Python object it does not
// return: a number becomes its float directly, with no intermediate str.
#pragma once

#include <string_view>

#include <nanobind/nanobind.h>

namespace tessel::spiceread {

namespace nb = nanobind;

// `_parse_value(value, **kwargs)` for `utf8_value`, the value text as UTF-8;
// `kwargs` is a dict (possibly empty) of the parameters a single-quoted value
// may name.  Returns None, a float, a str or what evaluating a single-quoted
// value gives, and issues the ParseWarning for an unresolved value itself
// (attributed to the Python line that called into the module).
nb::object parse_value_text(std::string_view utf8_value, nb::handle kwargs);

}  // namespace tessel::spiceread

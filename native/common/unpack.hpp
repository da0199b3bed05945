// Unpacking into a fixed number of names (`a, b = value`), failing with the
// interpreter's own errors, so a caller sees the same message whether a
// step runs here or as Python.
#pragma once

#include <cstddef>
#include <utility>

#include <nanobind/nanobind.h>

namespace tessel {

namespace nb = nanobind;

// The ValueError of unpacking `got` values into `expected` names.  With too
// many values, `got` is the length when the value is `sized` (an exact list,
// tuple or dict, whose length Python 3.14 started to report), otherwise any
// count above `expected`.
[[noreturn]] void raise_unpack(std::size_t expected, std::size_t got, bool sized = true);

// `a, b = value` for any iterable; consumes at most three items, as the
// interpreter does.
std::pair<nb::object, nb::object> unpack_pair(nb::handle value);

}  // namespace tessel

// Warnings issued from compiled code.
//
// A function written in C++ has no Python frame of its own, so stack level 1
// of PyErr_WarnEx attributes the warning to the innermost Python line that
// called into the module, which is what a Python function's `stacklevel=2`
// means.
#pragma once

#include <nanobind/nanobind.h>

namespace tessel {

namespace nb = nanobind;

// Issues `message` (a str) with `category`, attributed to the calling Python
// line.  Raises (nb::python_error) when the warning filter turns it into an
// error.  Any text will do: one that a C string cannot carry (a NUL, a lone
// surrogate) goes through `warnings.warn`, which names the same line.  A
// valid `note` is added to the warning instance (BaseException.add_note).
void warn_caller(nb::handle category, nb::handle message, nb::handle note = nb::handle());

}  // namespace tessel

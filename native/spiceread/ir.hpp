// The IR builder's entry for the other stages, and argument handling shared
// with the reader entry.
#pragma once

#include <initializer_list>
#include <vector>

#include <nanobind/nanobind.h>

namespace tessel::spiceread {

namespace nb = nanobind;

// `fn(*positional, **kwargs)` with a copy of `kwargs`: a callee that is not
// a Python function could otherwise keep or change the caller's mapping.
nb::object call_with_kwargs_copy(nb::handle fn, nb::handle positional, nb::handle kwargs);

// `_parse_into_ir(lines, component_map, **kwargs)` for a `component_map`
// already checked to be a dict.  `kwargs` is only read.
nb::object parse_into_ir(nb::handle lines, nb::handle component_map, nb::handle kwargs);

// Binds the named parameters of `func(name..., **kwargs)`: positionally, or
// by keyword when not given by position.  A keyword value named like a
// parameter that was given by position stays a keyword value (the callee
// passes it on), instead of colliding with the parameter.
struct BoundArgs {
    std::vector<nb::object> params;
    nb::dict kwargs;
};
BoundArgs bind_args(const char *func, nb::args args, nb::kwargs kwargs,
                    std::initializer_list<const char *> names);

}  // namespace tessel::spiceread

// Binding `*args, **kwargs` to named parameters the way the interpreter binds
// them for `def func(name, ..., **kwargs)`, with its messages.
#pragma once

#include <initializer_list>
#include <vector>

#include <nanobind/nanobind.h>

namespace tessel {

namespace nb = nanobind;

// The named parameters of `func(name..., **kwargs)`: positionally, or by
// keyword when not given by position.  A keyword value named like a
// parameter that was given by position stays a keyword value (the callee
// passes it on), instead of colliding with the parameter.
struct BoundArgs {
    std::vector<nb::object> params;
    nb::dict kwargs;
};
BoundArgs bind_args(const char *func, const nb::args &args, const nb::kwargs &kwargs,
                    std::initializer_list<const char *> names);

// The one positional parameter of `func(param, /, **kwargs)`.
nb::handle only_positional(const char *func, const char *param, const nb::args &args);

// TypeError "func() got an unexpected keyword argument 'k'" for the first
// key of `kwargs`.
[[noreturn]] void raise_unexpected_keyword(const char *func, nb::handle kwargs);

}  // namespace tessel

// The module-level names a reading calls, resolved once per call.
//
// `tessel.core.spiceread` behaves like a Python module: each of its steps is
// looked up in the module's namespace when it is used, so rebinding one
// (monkeypatching) takes effect.  A call of one of the module's functions
// makes one `Route`; the first use of a name looks it up and remembers
// whether it is still the module's own object (not replaced); from then on
// the call takes the direct C++ road for it or calls what it is bound to now.
// A function never consults the binding of its own name: called directly, it
// does its own work (a replacement may well call the one it replaced).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include <nanobind/nanobind.h>

#include "spiceread/module.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// Every name a step of the module calls, spelt as in the module.
enum class Name : std::uint8_t {
#define TESSEL_FUNCTION_NAME(name, binder, signature) name,
#define TESSEL_BINDING_NAME(name) name,
    TESSEL_SPICEREAD_FUNCTIONS(TESSEL_FUNCTION_NAME) TESSEL_SPICEREAD_BINDINGS(TESSEL_BINDING_NAME)
#undef TESSEL_FUNCTION_NAME
#undef TESSEL_BINDING_NAME
    count
};

class Route {
public:
    // The object `name` is bound to now; NameError when it is unbound.
    nb::handle get(Name name) { return slot(name).object; }
    // Whether `name` is still bound to the module's own object (is not
    // replaced).  Only the one function that runs a step asks this of it.
    bool own(Name name) { return slot(name).own; }
    bool own(std::initializer_list<Name> names) {
        for (Name name : names)
            if (!own(name)) return false;
        return true;
    }

private:
    struct Slot {
        nb::object object;
        bool resolved = false;
        bool own = false;
    };
    Slot &slot(Name name) {
        Slot &s = slots_[static_cast<std::size_t>(name)];
        if (!s.resolved) resolve(name, s);
        return s;
    }
    static void resolve(Name name, Slot &s);

    std::array<Slot, static_cast<std::size_t>(Name::count)> slots_;
};

// A step `F(args..., Route &)` as a module function: called from Python, it
// resolves the names it uses in a route of its own.
template <auto F, typename... Args>
nb::object with_own_route(Args... args) {
    Route route;
    return F(args..., route);
}

}  // namespace tessel::spiceread

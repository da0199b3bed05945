// The module-level names a reading calls, resolved once per call.
//
// `tessel.core.spiceread` behaves like a Python module: each of its steps is
// looked up in the module's namespace when it is used, so rebinding one
// (monkeypatching) takes effect.  A call of one of the module's functions
// makes one `Route`; the first use of a name looks it up and remembers
// whether it is still the module's own object, and from then on the call
// takes the direct C++ road for it or calls what it is bound to now.  A
// function never consults the binding of its own name: called directly, it
// does its own work (a replacement may well call the original it replaced).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include <nanobind/nanobind.h>

namespace tessel::spiceread {

namespace nb = nanobind;

// Every name a step of the module calls, spelt as in the module.
#define TESSEL_SPICEREAD_NAMES(X)                                                           \
    X(_parse_oc_spice_into_ir) X(_recursive_netlist_from_ir) X(_netlist_from_subckt)        \
    X(_iter_relevant_lines) X(_chain) X(_strip_lines) X(_join_continuations)                \
    X(_standardize_spaces) X(_filter_empty) X(_parse_into_ir) X(_split_comments)            \
    X(_split_words) X(_handle_sources) X(_get_ir_ports) X(_get_ir_settings)                 \
    X(_get_parent_id) X(_parse_value) X(_eval) X(_get_ports) X(_get_ports_from_model)       \
    X(_get_ports_from_component) X(_sort_ports) X(_get_port) X(_patch_settings)             \
    X(_map_settings_keys) X(_convert_um) X(_is_probably_um) X(_parse_location_comment)      \
    X(_patch_ports) X(ast) X(sax) X(ts_pdk) X(natsorted) X(Subckt)

enum class Name : std::uint8_t {
#define TESSEL_NAME_ENUM(name) name,
    TESSEL_SPICEREAD_NAMES(TESSEL_NAME_ENUM)
#undef TESSEL_NAME_ENUM
    count
};

class Route {
public:
    // The object `name` is bound to now; NameError when it is unbound.
    nb::handle get(Name name) { return slot(name).object; }
    // Whether `name` is still bound to the module's own object.
    bool original(Name name) { return slot(name).original; }
    bool original(std::initializer_list<Name> names) {
        for (Name name : names)
            if (!original(name)) return false;
        return true;
    }

    // `_iter_relevant_lines` may hand out the module's own scanner: `_chain`
    // and the five line stages are the originals.
    bool native_line_stages() {
        return original({Name::_chain, Name::_strip_lines, Name::_join_continuations,
                         Name::_standardize_spaces, Name::_filter_empty});
    }
    // Statements are cut into words by the module's own splitter.
    bool native_words() { return original({Name::_split_words, Name::_filter_empty}); }

private:
    struct Slot {
        nb::object object;
        bool resolved = false;
        bool original = false;
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

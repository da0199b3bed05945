// The texts a reading makes: positional port names and instance ports
// ("R1,minus").
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include <nanobind/nanobind.h>

namespace tessel::spiceread {

namespace nb = nanobind;

// "o" followed by i + 1: the name of terminal i when the component has no
// name for it.  Small positions share one object for the process.
nb::object positional_port(Py_ssize_t i);

// `f"{name},{port}"`, in one allocation when both are exact str.
nb::object join_instance_port(nb::handle name, nb::handle port);

// `join_instance_port` for the terminals of one reading: the instance names
// of one subcircuit (X1, R2, ...) recur in the next with the same port names,
// so a pair of str objects seen lately gets the text made for it then.
class InstancePorts {
public:
    nb::object join(nb::handle name, nb::handle port);

private:
    struct Slot {
        nb::object name, port, joined;  // the pair is held: its addresses stay its own
    };
    // Room for the pairs of subcircuits of some hundreds of instances of
    // several prefixes and up to four ports each: a direct-mapped table about
    // as full as that misses a third of its look-ups at 4096 slots.
    static constexpr std::size_t kSlots = 16384;
    std::unique_ptr<Slot[]> slots_{new Slot[kSlots]};
};

// Python's `a, b = text.split(",")` on an instance port: the two parts, or
// the ValueError (or, for a non-text, the AttributeError) that line raises.
std::pair<nb::object, nb::object> split_instance_port(nb::handle text);

// Whether `text` holds a comma (anything but an exact str might).
bool may_hold_comma(PyObject *text);

// Whether `text` (exact str) holds exactly one comma.
bool has_one_comma(PyObject *text);

}  // namespace tessel::spiceread

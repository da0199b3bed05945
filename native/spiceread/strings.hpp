// The texts a reading makes: host strings for words (one shared object per
// recurring word), positional port names and instance ports ("R1,minus").
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include <nanobind/nanobind.h>

namespace tessel::spiceread {

namespace nb = nanobind;

// A hash of a short text, eight bytes at a time.
std::uint64_t hash_bytes(std::string_view text);

// Associative cache of recently made short strings (one slot per hash), so
// that a net, key or name that recurs within one reading is one object.
class StrCache {
public:
    StrCache();
    nb::object get(std::string_view utf8);

private:
    static constexpr std::size_t kSlots = 4096;
    static constexpr std::size_t kMaxSize = 40;
    struct Slot {
        nb::object str;
        std::uint8_t size = 0;
        char bytes[kMaxSize];
    };
    std::unique_ptr<Slot[]> slots_;
};

// "o" followed by i + 1: the name of terminal i when the component has no
// name for it.  Small positions share one object for the process.
nb::object positional_port(Py_ssize_t i);

// `f"{name},{port}"`, in one allocation when both are exact str.
nb::object join_instance_port(nb::handle name, nb::handle port);

// Python's `a, b = text.split(",")` on an instance port: the two parts, or
// the ValueError (or, for a non-text, the AttributeError) that line raises.
std::pair<nb::object, nb::object> split_instance_port(nb::handle text);

// Whether `text` (exact str) holds exactly one comma.
bool has_one_comma(PyObject *text);

}  // namespace tessel::spiceread

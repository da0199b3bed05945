// Host strings of UTF-8 words, one shared object per recurring word.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include <nanobind/nanobind.h>

namespace tessel {

namespace nb = nanobind;

// Associative cache of recently made short strings (one slot per hash), so
// that a net, key or name that recurs within one netlist is one object.
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

}  // namespace tessel

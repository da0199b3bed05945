// The objects an outline holds many times over, made once each: the str of
// a word that recurs (nets, components, keys, values), the int of a line,
// column or index, and the float of a setting's number.  A large netlist
// asks for them at every word, so the tables are open-addressed arrays
// rather than node-based maps.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include <nanobind/nanobind.h>

namespace tessel::outline {

namespace nb = nanobind;

class SharedObjects {
public:
    SharedObjects();

    // The str of `utf8`; `utf8` must stay valid as long as this table.
    nb::object text(std::string_view utf8);
    nb::object number(std::size_t value);
    nb::object real(double value);

private:
    // A slot is free while its object is invalid.
    struct Text {
        std::uint64_t hash = 0;
        std::string_view utf8;
        nb::object object;
    };
    struct Real {
        std::uint64_t hash = 0;
        std::uint64_t bits = 0;
        nb::object object;
    };
    template <class Slot>
    static void grow(std::vector<Slot> &slots);

    std::vector<Text> texts_;
    std::size_t text_count_ = 0;
    std::vector<Real> reals_;
    std::size_t real_count_ = 0;
    std::vector<nb::object> numbers_;
};

}  // namespace tessel::outline

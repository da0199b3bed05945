// The nets of one subcircuit of an outline, made when asked for.
#pragma once

#include <nanobind/nanobind.h>

namespace tessel::outline {

namespace nb = nanobind;

// The Net records of subcircuit `index` of `outline`: each net its elements
// use, in order of first use, with its terminals (the elements' net Words)
// and the elements they belong to.
nb::object subckt_nets(nb::handle outline, Py_ssize_t index);

}  // namespace tessel::outline

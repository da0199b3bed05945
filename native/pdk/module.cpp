// The face of `tessel.core.pdk`: binds the module's names in the order in
// which the module defines them, and nothing else.
#include <nanobind/nanobind.h>

#include "common/single_phase.hpp"

namespace nb = nanobind;

NB_MODULE(pdk_impl, m) {
    m.attr("__doc__") = "PDK Utilties.";
}

TESSEL_SINGLE_PHASE_MODULE(pdk)

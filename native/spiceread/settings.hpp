// Settings mapping and metre-to-micrometre conversion of the settings that
// enter a netlist.
#pragma once

#include <cstddef>

#include <nanobind/nanobind.h>

#include "spiceread/ir.hpp"
#include "spiceread/route.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// A record's settings as assembly gets them: items of the reading's own IR
// (which the patch may reorder), or whatever object a record holds.
struct SettingsInput {
    Setting *items = nullptr;
    std::size_t size = 0;
    nb::object object;  // used when valid
};

// `_patch_settings(settings, settings_keymap)` through `route`.
nb::object patch_settings(const SettingsInput &settings, const nb::dict &settings_keymap, Route &route);

}  // namespace tessel::spiceread

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

// Whether a reading may patch each element's settings where the builder
// reads them instead of at assembly, which nobody can tell apart: the patch
// and its steps are the module's own, no look-up in `settings_keymap` can
// run Python code (its keys and values are exact str), and neither can the
// conversion of a value: a float among the caller's parameters `kwargs` (a
// dict) multiplies as a float does.
bool settles_while_reading(const nb::dict &settings_keymap, nb::handle kwargs, Route &route);

// The module's own patch of a reading's items (reordered on the way), for
// a reading that settles while it reads.
nb::object settle(Setting *items, std::size_t size, const nb::dict &settings_keymap);

}  // namespace tessel::spiceread

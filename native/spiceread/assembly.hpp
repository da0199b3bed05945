// What the netlist-assembly stages (netlist, ports, settings, locations,
// port patching) share.
#pragma once

#include <cstddef>
#include <string_view>

#include <nanobind/nanobind.h>

#include "spiceread/ir.hpp"
#include "spiceread/route.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// ports.cpp: `_get_port` on an exact tuple and a position >= 0; raises like
// `_get_port` for a name that is not text.
nb::object port_at(PyObject *ports, Py_ssize_t i);

// A record's settings as assembly gets them: items of the reading's own IR
// (which the patch may reorder), or whatever object a record holds.
struct SettingsInput {
    Setting *items = nullptr;
    std::size_t size = 0;
    nb::object object;  // used when valid
};

// settings.cpp: `_patch_settings(settings, settings_keymap)` through `route`.
nb::object patch_settings(const SettingsInput &settings, nb::handle settings_keymap, Route &route);

// location.cpp: `_parse_location_comment(comment)` through `route`, for a
// comment given as UTF-8 (`object` invalid) or as a host object.
nb::object placement_of(std::string_view utf8, nb::handle object, Route &route, const Where &where = {});

// patch.cpp: `_patch_ports(netlist)`.  `in_place`: the netlists are the
// reading's own, so tables that nothing renames stay as they are instead of
// being copied.
void patch_ports(nb::handle netlist, bool in_place);

}  // namespace tessel::spiceread

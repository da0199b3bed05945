// What the netlist-assembly stages (ports, settings, patch, netlist) share:
// the interned keys of the netlist dictionary, instance-port texts, and the
// direct C++ routes the stages take between themselves while the module's
// names are still bound to the original functions.
#pragma once

#include <nanobind/nanobind.h>

#include "common/names.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// Keys of the netlist dictionary, interned once: every netlist and every
// instance of a parse shares these objects instead of making its own.
struct NetlistKeys {
    PyObject *instances;
    PyObject *connections;
    PyObject *ports;
    PyObject *settings;
    PyObject *placements;
    PyObject *component;
};
const NetlistKeys &netlist_keys();

// An interned text kept for the life of the process (for texts compared or
// inserted on every call; a static nb::object would be released after the
// interpreter is gone).
PyObject *interned(const char *text);

// "o" followed by i + 1 (the name of terminal i when the component has no
// name for it); small positions share one object for the process.
nb::str positional_port(Py_ssize_t i);

// `name` + "," + `port` built in one allocation; both must be exact str.
nb::object join_instance_port(PyObject *name, PyObject *port);

// Python's `a, b = text.split(",")` on an instance port: the two parts, or
// the ValueError (or, for a non-text, the AttributeError) that line raises.
std::pair<nb::object, nb::object> split_instance_port(nb::handle text);

// Whether `text` (exact str) holds exactly one comma.
bool has_one_comma(PyObject *text);

// ports.cpp: `_get_port` on an exact tuple and a position >= 0, returning a
// borrowed-or-new reference; raises like `_get_port` for a non-text name.
nb::object port_at(PyObject *ports, Py_ssize_t i);

// settings.cpp: `_patch_settings` as seen through the module namespace,
// resolved once and then applied to every settings dict of a parse.
class SettingsPatcher {
public:
    SettingsPatcher();
    nb::object operator()(nb::handle settings, nb::handle settings_keymap) const;

private:
    nb::object patch_;   // the bound `_patch_settings`, when replaced
    bool fused_ = false; // original map + convert + threshold: one pass
    nb::object map_;     // the bound `_map_settings_keys`, when replaced
    nb::object convert_; // the bound `_convert_um`, when replaced
};

// patch.cpp: `_patch_ports` itself (the argument is checked).
void patch_ports(nb::handle netlist);

}  // namespace tessel::spiceread

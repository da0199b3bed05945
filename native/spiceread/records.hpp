// The module's classes, and fast construction of the IR records.
//
// Construction is equivalent to calling the dataclass with keyword arguments: the generated
// `__init__` only assigns the fields in order, so an instance made by
// `object.__new__` with the same assignments compares and prints the same.
#pragma once

#include <nanobind/nanobind.h>

#include "spiceread/process.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// Defines `ParseError`, `ParseWarning`, `Subckt` and `Conn` in `m`, kept in
// `process`.
void def_classes(nb::module_ &m, Process &process);

nb::object new_subckt(nb::handle id, nb::handle component, nb::handle ports,
                      nb::handle settings, nb::handle parent_id, nb::handle children_ids);
nb::object new_conn(nb::handle id, nb::handle name, nb::handle component,
                    nb::handle ports, nb::handle settings, nb::handle parent_id);

// `record.children_ids = value`
void set_children_ids(nb::handle subckt, nb::handle value);

}  // namespace tessel::spiceread

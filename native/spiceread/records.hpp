// Fast construction of the IR records.
//
// Equivalent to calling the dataclass with keyword arguments: the generated
// `__init__` only assigns the fields in order, so an instance made by
// `object.__new__` with the same assignments compares and prints the same.
#pragma once

#include <nanobind/nanobind.h>

namespace tessel::spiceread {

namespace nb = nanobind;

nb::object new_subckt(nb::handle id, nb::handle component, nb::handle ports,
                      nb::handle settings, nb::handle parent_id, nb::handle children_ids);
nb::object new_conn(nb::handle id, nb::handle name, nb::handle component,
                    nb::handle ports, nb::handle settings, nb::handle parent_id);

// `record.children_ids = value`
void set_children_ids(nb::handle subckt, nb::handle value);

}  // namespace tessel::spiceread

// Port resolution: the port names of a component in canonical order, so that
// terminal i of an element line maps to the i-th name.
#pragma once

#include <cstddef>

#include <nanobind/nanobind.h>

#include "spiceread/route.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// `_get_ports(component)` for the children of one subcircuit: children
// mostly repeat the few components just seen, which the module's own
// (memoised) lookup is asked once for.
class ComponentPorts {
public:
    explicit ComponentPorts(Route &route);
    nb::object of(nb::handle component);

private:
    struct Entry {
        nb::object component, ports;
    };
    Route &route_;
    bool own_;
    Entry recent_[8];
    std::size_t next_ = 0;
};

// `_get_port(ports, i)` for a position i >= 0 through `route`; `named` is
// set when the name is one of `ports` (not a positional name).
nb::object port_name(nb::handle ports, Py_ssize_t i, Route &route, bool &named);

}  // namespace tessel::spiceread

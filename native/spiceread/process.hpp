// Every object the reader keeps for the life of the process.
//
// The module is initialised once per process, in the main interpreter, and
// never unloaded (common/single_phase.hpp), so these references are made at
// load and deliberately never released: a static nb::object would be released
// after the interpreter is gone.  Besides these, the process keeps the
// module's namespace and its own objects as loaded (`scope()`,
// module.cpp), the types of the line streams (lines.cpp), and `warnings.warn`
// with the name "add_note" (common/warnings.cpp), and the floats of recent
// setting values and coordinates (`shared_float`, `micrometres_of`, values.cpp).
#pragma once

#include <cstddef>

#include <nanobind/nanobind.h>

namespace tessel::spiceread {

namespace nb = nanobind;

// Texts compared with or inserted on every reading, interned.
struct Interned {
    // Fields of the IR records.
    PyObject *id, *name, *component, *ports, *settings, *parent_id, *children_ids;
    // Keys of the netlist dictionary and of a placement (with `component`,
    // `ports` and `settings` above).
    PyObject *instances, *connections, *placements, *x, *y, *rotation, *port;
    // Prefixes of port resolution and sorting.
    PyObject *wg_, *o, *out, *e, *in;
    PyObject *empty, *comma, *notes, *add_note;
};

struct Process {
    // The module's classes (records.cpp), made at load.
    nb::handle parse_error, parse_warning, subckt, conn;
    Interned names;
    // The fixed port lists of the built-in elements, handed out as stored.
    nb::handle source_ports, two_terminal_ports;
    // "o1", "o2", ...: the names of terminals a component has no name for.
    static constexpr std::size_t kPositional = 64;
    nb::handle positional[kPositional];
    nb::handle path_type, open;  // pathlib.Path, io.open
    nb::handle text_wrapper, bytes_io;  // io.TextIOWrapper, io.BytesIO
    nb::handle no_parameters;    // an empty dict, for values read without parameters
    nb::handle no_args;          // the empty tuple
};

// Made by `start_process` at load; the classes are filled in by records.cpp.
const Process &process();
Process &start_process();

}  // namespace tessel::spiceread

// A reading's IR as the host side holds it: the text core's netlist, each
// record's settings evaluated, and what keeps the texts it points into
// alive.  Python `Subckt`/`Conn` records are made from it only when Python
// asks for the IR (`to_python`).
#pragma once

#include <cstdint>
#include <vector>

#include <nanobind/nanobind.h>

#include "spiceread/notes.hpp"
#include "common/str_cache.hpp"
#include "text/netlist.hpp"
#include "spiceread/values.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

struct Setting {
    nb::object key;
    Value value;
};

// The settings of one record: items of `Ir::settings` in the order written
// (a later key replaces an earlier one), or the object a replaced
// `_get_ir_settings` returned, which stands as it is.
struct SettingsRef {
    std::uint32_t begin = 0;
    std::uint32_t size = 0;
    nb::object dict;
};

// What the netlist of a subcircuit takes of its children, made as they
// were read while their settings were settled there: its instances, and
// its placements while every comment could be read ahead
// (`ready_placement`; invalid once one could not).
struct ReadySubckt {
    nb::object instances, placements;
    bool commas = false;  // whether an instance name may hold a comma
};

class Ir {
public:
    Source source;
    text::Netlist netlist;
    std::vector<Setting> settings;
    std::vector<SettingsRef> element_settings;  // by element index, unless `settled`
    std::vector<SettingsRef> subckt_settings;   // by subcircuit index
    // When `settled`, each element's settings went into the instances of its
    // subcircuit's netlist as they were read.
    std::vector<ReadySubckt> ready;             // by subcircuit index
    std::vector<nb::object> element_names;      // by element index
    // What a replaced `_get_parent_id` was handed and returned, by
    // subcircuit index (invalid where the builder's own id stands).
    std::vector<nb::object> subckt_records;
    std::vector<nb::object> parent_ids;
    nb::dict component_map;
    std::vector<nb::object> keep;  // host objects that views of the IR point into
    StrCache strings;
    // Set when element settings were settled as they were read: the IR then
    // serves its own assembly only, and has no records to give.
    bool settled = false;

    // The host string of a word of the IR.
    nb::object str(std::string_view word) { return strings.get(word); }
    // A component name as recorded: through the component map.
    nb::object component(std::string_view written);
    // The settings of a record as a dict, as the IR's records hold them.
    nb::object settings_dict(const SettingsRef &ref);
    Setting *items(const SettingsRef &ref) { return settings.data() + ref.begin; }
    // The `Subckt` record of subcircuit `index`, made once.
    nb::object subckt_record(std::uint32_t index);

    // The (ir, comments) pair of Python records and dicts.
    nb::object to_python();

    // Room for a netlist of `text` (a relevant line per raw line, at most),
    // so that the tables are not copied as they grow.
    void reserve_for(std::string_view text);
};

}  // namespace tessel::spiceread

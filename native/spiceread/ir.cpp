// A reading's IR, and the Python records made from it.
#include "spiceread/ir.hpp"

#include "common/collector.hpp"
#include "common/objects.hpp"
#include "common/utf8.hpp"
#include "spiceread/records.hpp"

namespace tessel::spiceread {

nb::object Ir::component(std::string_view written) {
    nb::object name = str(written);
    if (PyDict_GET_SIZE(component_map.ptr()) == 0) return name;
    if (nb::object mapped = dict_get(component_map, name)) return mapped;
    return name;
}

void Ir::reserve_for(std::string_view text) {
    const std::size_t lines = netlist.reserve_for(text);
    if (settled)
        element_names.reserve(lines);
    else
        element_settings.reserve(lines);
    settings.reserve(lines * 3);  // a few settings a line; more only grows the table
}

nb::object Ir::settings_dict(const SettingsRef &ref) {
    if (ref.dict.is_valid()) return ref.dict;
    nb::dict dict = new_dict();
    Setting *item = items(ref);
    for (std::uint32_t k = 0; k < ref.size; ++k) set_item(dict, item[k].key, item[k].value.get());
    return dict;
}

namespace {

// The untracked tuple of words of the IR.
nb::tuple tuple_of(Ir &ir, const std::string_view *words, std::uint32_t size) {
    nb::tuple tuple = tuple_of_words(words, size, [&](std::string_view w) { return ir.str(w); });
    // A tuple of strings cannot be part of a cycle; the collector would stop
    // tracking it at its next pass anyway, after walking it once more.
    PyObject_GC_UnTrack(tuple.ptr());
    return tuple;
}

}  // namespace

nb::object Ir::subckt_record(std::uint32_t index) {
    nb::object &record = subckt_records[index];
    if (record.is_valid()) return record;
    const text::Subckt &s = netlist.subckts[index];
    nb::object parent_id = parent_ids[index].is_valid() ? parent_ids[index] : new_int(s.parent_id);
    record = new_subckt(new_int(s.id), component(s.component),
                        tuple_of(*this, netlist.words_of(s.ports), s.ports.size),
                        settings_dict(subckt_settings[index]), parent_id, nb::tuple());
    return record;
}

nb::object Ir::to_python() {
    if (settled) throw std::logic_error("the IR's element settings were patched for its netlist");
    CollectorPause pause;
    nb::dict ir = new_dict(), comments = new_dict();
    for (const text::Comment &c : netlist.comments) set_item(comments, new_int(c.id), str(c.text));
    std::vector<nb::object> ids(netlist.elements.size());
    for (const text::Record &r : netlist.order) {
        if (!r.is_subckt) {
            const text::Element &e = netlist.elements[r.index];
            ids[r.index] = new_int(e.id);
            nb::object record = new_conn(ids[r.index], str(e.name), component(e.component),
                                         tuple_of(*this, netlist.words_of(e.nets), e.nets.size),
                                         settings_dict(element_settings[r.index]),
                                         new_int(netlist.subckts[e.parent].id));
            set_item(ir, ids[r.index], record);
            continue;
        }
        const text::Subckt &s = netlist.subckts[r.index];
        nb::object record = subckt_record(r.index);
        nb::object children = checked(PyTuple_New(s.children.size));
        const std::uint32_t *child = netlist.children_of(s.children);
        for (std::uint32_t k = 0; k < s.children.size; ++k)
            PyTuple_SET_ITEM(children.ptr(), k, nb::object(ids[child[k]]).release().ptr());
        set_children_ids(record, children);
        set_item(ir, new_int(s.id), record);
    }
    return nb::make_tuple(ir, comments);
}

}  // namespace tessel::spiceread

// The IR as Python sees it: `Subckt` and `Conn` records keyed by line id,
// and the builder's per-statement steps as functions of host lists.
#include "spiceread/ir.hpp"

#include <algorithm>

#include "common/args.hpp"
#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/unpack.hpp"
#include "common/utf8.hpp"
#include "spiceread/module.hpp"
#include "spiceread/records.hpp"

namespace tessel::spiceread {

nb::object Ir::component(std::string_view written) {
    nb::object name = str(written);
    if (PyDict_GET_SIZE(component_map.ptr()) == 0) return name;
    if (nb::object mapped = dict_get(component_map, name)) return mapped;
    return name;
}

void Ir::reserve_for(std::string_view text) {
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    netlist.elements.reserve(lines);
    netlist.order.reserve(lines);
    netlist.comments.reserve(lines);
    netlist.children.reserve(lines);
    element_settings.reserve(lines);
    // Lines of a few nets and settings each; more only grows the tables.
    netlist.words.reserve(lines * 4);
    settings.reserve(lines * 3);
}

nb::object Ir::settings_dict(const SettingsRef &ref) {
    if (ref.dict.is_valid()) return ref.dict;
    nb::dict dict = new_dict();
    Setting *item = items(ref);
    for (std::uint32_t k = 0; k < ref.size; ++k) set_item(dict, item[k].key, item[k].value.get());
    return dict;
}

namespace {

nb::tuple tuple_of(Ir &ir, const std::string_view *words, std::uint32_t size) {
    nb::object tuple = checked(PyTuple_New(size));
    for (std::uint32_t k = 0; k < size; ++k)
        PyTuple_SET_ITEM(tuple.ptr(), k, ir.str(words[k]).release().ptr());
    // A tuple of strings cannot be part of a cycle; the collector would stop
    // tracking it at its next pass anyway, after walking it once more.
    PyObject_GC_UnTrack(tuple.ptr());
    return nb::steal<nb::tuple>(tuple.release());
}

// Pauses the cyclic garbage collector while records are made: no code but
// this loop's runs meanwhile, and letting the collector walk the growing
// IR again and again costs about a third of the time.
class CollectorPause {
public:
    CollectorPause() : was_enabled_(PyGC_Disable() == 1) {}
    ~CollectorPause() {
        if (was_enabled_) PyGC_Enable();
    }
    CollectorPause(const CollectorPause &) = delete;
    CollectorPause &operator=(const CollectorPause &) = delete;

private:
    bool was_enabled_;
};

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

namespace {

// The items of an iterable of words, as views kept alive by `keep`.
void words_of(nb::handle iterable, const char *func, text::Words &out, std::vector<nb::object> &keep) {
    for (nb::handle item : iterable) {
        if (!PyUnicode_Check(item.ptr())) {
            PyErr_Format(PyExc_TypeError, "%s() expected str items, not %s", func,
                         Py_TYPE(item.ptr())->tp_name);
            throw nb::python_error();
        }
        out.push_back(utf8_kept(item, keep));
    }
}

nb::list list_of(const text::Words &words) {
    nb::list list;
    for (std::string_view w : words) list.append(str_from_utf8(w));
    return list;
}

bool host_identifier(std::string_view word) {
    int result = PyUnicode_IsIdentifier(str_from_utf8(word).ptr());
    if (result < 0) throw nb::python_error();
    return result == 1;
}

nb::object handle_sources(nb::handle words) {
    std::vector<nb::object> keep;
    text::Words list;
    words_of(words, "_handle_sources", list, keep);
    text::Arena arena;
    text::rewrite_sources(list, arena, host_identifier);
    return list_of(list);
}

nb::object get_parent_id(nb::handle parents) {
    nb::list list = exact_list(parents, "_get_parent_id", "parents");
    const Py_ssize_t size = PyList_GET_SIZE(list.ptr());
    if (size == 0) return nb::int_(0);
    return nb::handle(PyList_GET_ITEM(list.ptr(), size - 1)).attr("id");
}

nb::object get_ir_ports(nb::handle words) {
    exact_list(words, "_get_ir_ports", "words");
    nb::list kept;
    for (nb::handle w : words) {
        if (!PyUnicode_Check(w.ptr())) {
            PyErr_Format(PyExc_TypeError, "_get_ir_ports() expected str items, not %s",
                         Py_TYPE(w.ptr())->tp_name);
            throw nb::python_error();
        }
        if (PyUnicode_FindChar(w.ptr(), '=', 0, PyUnicode_GET_LENGTH(w.ptr()), 1) == -1) kept.append(w);
    }
    return nb::tuple(kept);
}

nb::object get_ir_settings(nb::args args, nb::kwargs kwargs) {
    BoundArgs bound = bind_args("_get_ir_settings", args, kwargs, {"words"});
    exact_list(bound.params[0], "_get_ir_settings", "words");
    std::vector<nb::object> keep;
    text::Words words;
    words_of(bound.params[0], "_get_ir_settings", words, keep);
    Route route;
    nb::dict settings = new_dict();
    for (std::string_view word : words) {
        text::SettingWord setting = text::split_setting(word);
        if (setting.parts == 1) continue;
        if (setting.parts != 2) raise_unpack(2, setting.parts);
        nb::object key = str_from_utf8(setting.key);
        set_item(settings, key, resolve_value(setting.value, bound.kwargs, route).get());
    }
    return settings;
}

}  // namespace

void def_handle_sources(nb::module_ &m) {
    m.def("_handle_sources", &handle_sources, nb::arg("words"));
}

void def_get_parent_id(nb::module_ &m) {
    m.def("_get_parent_id", &get_parent_id, nb::arg("parents"));
}

void def_get_ir_ports(nb::module_ &m) {
    m.def("_get_ir_ports", &get_ir_ports, nb::arg("words"));
}

void def_get_ir_settings(nb::module_ &m) {
    m.def("_get_ir_settings", &get_ir_settings);
}

}  // namespace tessel::spiceread

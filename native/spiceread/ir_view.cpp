#include "spiceread/ir_view.hpp"

#include "common/objects.hpp"

namespace tessel::spiceread {

// --- the reading's own IR ---------------------------------------------------

OwnIrView::OwnIrView(Ir &ir) : ir_(ir) {
    for (const text::Record &r : ir.netlist.order)
        if (r.is_subckt) subckts_.push_back(r.index);
}

nb::object OwnIrView::ports_of(const text::Subckt &s) {
    nb::object tuple = checked(PyTuple_New(s.ports.size));
    const std::string_view *words = ir_.netlist.words_of(s.ports);
    for (std::uint32_t k = 0; k < s.ports.size; ++k)
        PyTuple_SET_ITEM(tuple.ptr(), k, ir_.str(words[k]).release().ptr());
    return tuple;
}

void OwnIrView::subckt(std::size_t k, SubcktView &out) {
    const std::uint32_t index = subckts_[k];
    const text::Subckt &s = ir_.netlist.subckts[index];
    out.index = index;
    out.component = ir_.component(s.component);
    out.ports = ports_of(s);
    const SettingsRef &ref = ir_.subckt_settings[index];
    out.settings = ref.dict.is_valid() ? SettingsInput{nullptr, 0, ref.dict}
                                       : SettingsInput{ir_.items(ref), ref.size, {}};
    out.children = s.children.size;
    out.where = s.where;
}

void OwnIrView::child(const SubcktView &subckt, std::size_t k, Child &out) {
    const text::Subckt &s = ir_.netlist.subckts[subckt.index];
    const std::uint32_t index = ir_.netlist.children_of(s.children)[k];
    const text::Element &e = ir_.netlist.elements[index];
    out.name = ir_.str(e.name);
    out.component = ir_.component(e.component);
    out.nets.clear();
    const std::string_view *nets = ir_.netlist.words_of(e.nets);
    for (std::uint32_t n = 0; n < e.nets.size; ++n) out.nets.push_back(ir_.str(nets[n]));
    const SettingsRef &ref = ir_.element_settings[index];
    out.settings = ref.dict.is_valid() ? SettingsInput{nullptr, 0, ref.dict}
                                       : SettingsInput{ir_.items(ref), ref.size, {}};
    out.has_comment = !e.comment.empty();
    out.comment_utf8 = e.comment;
    out.comment.reset();
    out.where = e.where;
}

nb::object OwnIrView::local_ports(nb::handle component) {
    if (!local_.is_valid()) {
        nb::dict table = new_dict();
        for (std::uint32_t index : subckts_) {
            const text::Subckt &s = ir_.netlist.subckts[index];
            set_item(table, ir_.component(s.component), ports_of(s));
        }
        local_ = std::move(table);
    }
    nb::object ports = dict_get(local_, component);
    return ports.is_valid() ? ports : nb::none();
}

// --- records ------------------------------------------------------------------

namespace {

struct RecordFields {
    PyObject *name, *component, *ports, *settings, *children_ids;
};

const RecordFields &fields() {
    static const RecordFields f{interned("name"), interned("component"), interned("ports"),
                                interned("settings"), interned("children_ids")};
    return f;
}

}  // namespace

const std::vector<nb::object> &RecordIrView::subckts() {
    if (picked_) return subckts_;
    picked_ = true;
    nb::handle type = route_.get(Name::Subckt);
    nb::object records = checked(PyDict_Values(ir_.ptr()));
    for (nb::handle record : records) {
        int is_subckt = PyObject_IsInstance(record.ptr(), type.ptr());
        if (is_subckt < 0) throw nb::python_error();
        if (is_subckt) subckts_.push_back(nb::borrow(record));
    }
    return subckts_;
}

void RecordIrView::describe(nb::handle record, SubcktView &out) {
    const RecordFields &f = fields();
    out.record = nb::borrow(record);
    out.component = get_attr(record, f.component);
    out.ports = get_attr(record, f.ports);
    out.settings = {nullptr, 0, get_attr(record, f.settings)};
    nb::object ids = get_attr(record, f.children_ids);
    out.child_ids = checked(PySequence_Fast(ids.ptr(), "children_ids must be iterable"));
    out.children = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(out.child_ids.ptr()));
    out.where = {};
}

void RecordIrView::child(const SubcktView &subckt, std::size_t k, Child &out) {
    const RecordFields &f = fields();
    nb::handle id = PySequence_Fast_GET_ITEM(subckt.child_ids.ptr(), static_cast<Py_ssize_t>(k));
    nb::object item = dict_get(ir_, id);
    if (!item.is_valid()) raise_error(PyExc_KeyError, id);
    out.component = get_attr(item, f.component);
    out.name = get_attr(item, f.name);
    out.settings = {nullptr, 0, get_attr(item, f.settings)};
    out.nets.clear();
    nb::object nets = get_attr(item, f.ports);
    for (nb::handle net : nets) out.nets.push_back(nb::borrow(net));
    out.comment = comments_.is_none() ? nb::object() : dict_get(comments_, id);
    out.has_comment = out.comment.is_valid();
    out.comment_utf8 = {};
    out.where = {};
}

nb::object RecordIrView::local_ports(nb::handle component) {
    if (!local_.is_valid()) {
        const RecordFields &f = fields();
        nb::dict table = new_dict();
        for (const nb::object &record : subckts()) {
            nb::object ports = get_attr(record, f.ports);
            // Only a tuple of names can stand for a port list.
            if (PyTuple_CheckExact(ports.ptr())) set_item(table, get_attr(record, f.component), ports);
        }
        local_ = std::move(table);
    }
    nb::object ports = dict_get(local_, component);
    return ports.is_valid() ? ports : nb::none();
}

}  // namespace tessel::spiceread

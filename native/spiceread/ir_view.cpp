#include "spiceread/ir_view.hpp"

#include "common/objects.hpp"
#include "common/utf8.hpp"
#include "spiceread/process.hpp"

namespace tessel::spiceread {

// --- the reading's own IR ---------------------------------------------------

SettingsInput OwnIrView::settings_input(SettingsRef &ref) {
    if (ref.dict.is_valid()) return {nullptr, 0, ref.dict};
    return {ir_.items(ref), ref.size, {}};
}

OwnIrView::OwnIrView(Ir &ir) : ir_(ir) {
    for (const text::Record &r : ir.netlist.order)
        if (r.is_subckt) subckts_.push_back(r.index);
}

nb::object OwnIrView::ports_of(const text::Subckt &s) {
    return tuple_of_words(ir_.netlist.words_of(s.ports), s.ports.size, [this](std::string_view w) { return ir_.str(w); });
}

void OwnIrView::subckt(std::size_t k, SubcktView &out) {
    const std::uint32_t index = subckts_[k];
    const text::Subckt &s = ir_.netlist.subckts[index];
    out.index = index;
    out.component = ir_.component(s.component);
    out.ports = ports_of(s);
    out.settings = settings_input(ir_.subckt_settings[index]);
    out.children = s.children.size;
    out.where = s.where;
    // What was made ready goes to the netlist: the IR lets go of it now.
    out.ready = ir_.settled ? std::move(ir_.ready[index]) : ReadySubckt{};
    nets_.clear();
}

void OwnIrView::declared_ports(const SubcktView &subckt, std::vector<std::uint32_t> &out) {
    const text::Subckt &s = ir_.netlist.subckts[subckt.index];
    const std::string_view *ports = ir_.netlist.words_of(s.ports);
    for (std::uint32_t k = 0; k < s.ports.size; ++k) out.push_back(nets_.id(ports[k]));
}

void OwnIrView::child(const SubcktView &subckt, std::size_t k, Child &out) {
    const text::Subckt &s = ir_.netlist.subckts[subckt.index];
    const std::uint32_t index = ir_.netlist.children_of(s.children)[k];
    const text::Element &e = ir_.netlist.elements[index];
    out.name = ir_.settled ? std::move(ir_.element_names[index]) : ir_.str(e.name);
    out.component = ir_.component(e.component);
    out.nets.clear();
    const std::string_view *nets = ir_.netlist.words_of(e.nets);
    for (std::uint32_t n = 0; n < e.nets.size; ++n) out.nets.push_back(nets_.id(nets[n]));
    out.settings = ir_.settled ? SettingsInput{} : settings_input(ir_.element_settings[index]);
    out.has_comment = !e.comment.empty();
    out.comment_utf8 = e.comment;
    out.comment.reset();
    out.where = e.where;
}

nb::object IrView::local_ports(nb::handle component) {
    if (!local_.is_valid()) {
        nb::dict table = new_dict();
        declared_port_lists(table);
        local_ = std::move(table);
    }
    nb::object ports = dict_get(local_, component);
    return ports.is_valid() ? ports : nb::none();
}

void OwnIrView::declared_port_lists(const nb::dict &table) {
    for (std::uint32_t index : subckts_) {
        const text::Subckt &s = ir_.netlist.subckts[index];
        set_item(table, ir_.component(s.component), ports_of(s));
    }
}

// --- records ------------------------------------------------------------------

const std::vector<nb::object> &RecordIrView::subckts() {
    if (picked_) return subckts_;
    picked_ = true;
    nb::handle type = route_.get(Name::Subckt);
    nb::object records = checked(PyDict_Values(ir_.ptr()));
    for (nb::handle record : records) {
        if (checked(PyObject_IsInstance(record.ptr(), type.ptr()))) subckts_.push_back(nb::borrow(record));
    }
    return subckts_;
}

void RecordIrView::describe(nb::handle record, SubcktView &out) {
    const Interned &f = process().names;
    out.record = nb::borrow(record);
    out.component = get_attr(record, f.component);
    out.ports = get_attr(record, f.ports);
    out.settings = {nullptr, 0, get_attr(record, f.settings)};
    nb::object ids = get_attr(record, f.children_ids);
    out.child_ids = checked(PySequence_Fast(ids.ptr(), "children_ids must be iterable"));
    out.children = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(out.child_ids.ptr()));
    out.where = {};
    PyDict_Clear(ids_.ptr());
    names_.clear();
}

std::uint32_t RecordIrView::net_id(nb::handle net) {
    if (nb::object id = dict_get(ids_, net)) return static_cast<std::uint32_t>(PyLong_AsUnsignedLong(id.ptr()));  // ours: small
    const auto id = static_cast<std::uint32_t>(names_.size());
    set_item(ids_, net, new_int(id));
    names_.push_back(nb::borrow(net));
    return id;
}

void RecordIrView::declared_ports(const SubcktView &subckt, std::vector<std::uint32_t> &out) {
    for (nb::handle port : subckt.ports) out.push_back(net_id(port));
}

void RecordIrView::child(const SubcktView &subckt, std::size_t k, Child &out) {
    const Interned &f = process().names;
    nb::handle id = PySequence_Fast_GET_ITEM(subckt.child_ids.ptr(), static_cast<Py_ssize_t>(k));
    nb::object item = dict_get(ir_, id);
    if (!item.is_valid()) raise_error(PyExc_KeyError, id);
    out.component = get_attr(item, f.component);
    out.name = get_attr(item, f.name);
    out.settings = {nullptr, 0, get_attr(item, f.settings)};
    out.nets.clear();
    nb::object nets = get_attr(item, f.ports);
    for (nb::handle net : nets) out.nets.push_back(net_id(net));
    out.comment = comments_.is_none() ? nb::object() : dict_get(comments_, id);
    out.has_comment = out.comment.is_valid();
    out.comment_utf8 = {};
    out.where = {};
}

void RecordIrView::declared_port_lists(const nb::dict &table) {
    const Interned &f = process().names;
    for (const nb::object &record : subckts()) {
        nb::object ports = get_attr(record, f.ports);
        // Only a tuple of names can stand for a port list.
        if (PyTuple_CheckExact(ports.ptr())) set_item(table, get_attr(record, f.component), ports);
    }
}

}  // namespace tessel::spiceread

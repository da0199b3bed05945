// Netlist assembly: the IR to one netlist per subcircuit.
//
// Each subcircuit becomes a flat netlist (instances, connections, ports,
// settings, placements); the set goes through the circuit library's
// `netlist`, positional port names are patched, the placements are put back
// and the subcircuits come out in reverse order.
#include "spiceread/netlist.hpp"

#include <algorithm>
#include <iterator>

#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/utf8.hpp"
#include "common/warnings.hpp"
#include "spiceread/ir_view.hpp"
#include "spiceread/location.hpp"
#include "spiceread/module.hpp"
#include "spiceread/patch.hpp"
#include "spiceread/ports.hpp"
#include "spiceread/process.hpp"
#include "spiceread/settings.hpp"
#include "spiceread/strings.hpp"
#include "text/chars.hpp"

namespace tessel::spiceread {

namespace {

[[noreturn]] void raise_unknown_ports(const Child &child) {
    PyErr_Format(PyExc_TypeError,
                 "Instance '%S' uses component '%S', whose ports are unknown: it is "
                 "neither a built-in element, nor a model of the PDK, nor a cell of "
                 "the PDK that could be built, nor a subcircuit of this netlist.",
                 child.name.ptr(), child.component.ptr());
    throw nb::python_error();
}

// The terminals of the nets that are not declared ports, by net number,
// and those nets in order of first appearance.
class InternalNets {
public:
    void add(std::uint32_t net, nb::object instance_port, text::Position where) {
        if (net >= terminals_.size()) terminals_.resize(net + 1);
        Terminals &t = terminals_[net];
        if (!t.first.is_valid()) {
            order_.push_back(net);
            t.first = std::move(instance_port);
            t.first_where = where;
        } else if (!t.second.is_valid()) {
            t.second = std::move(instance_port);
            t.second_where = where;
        } else {
            t.more.push_back({std::move(instance_port), where});
        }
    }

    // Nets with one terminal become ports (after the declared ones), nets
    // with two a connection; more is a ParseError.
    nb::dict connections(const nb::dict &ports, IrView &ir, const SubcktView &subckt) const {
        nb::dict connections = presized_dict(order_.size());
        for (std::uint32_t net : order_) {
            const Terminals &t = terminals_[net];
            if (!t.more.empty()) {
                std::vector<std::pair<nb::object, text::Position>> all{{t.first, t.first_where},
                                                                       {t.second, t.second_where}};
                all.insert(all.end(), t.more.begin(), t.more.end());
                raise_crowded(ir, subckt, net, all);
            }
            if (t.second.is_valid())
                set_item(connections, t.first, t.second);
            else
                set_item(ports, ir.net_name(net), t.first);
        }
        return connections;
    }

private:
    struct Terminals {
        nb::object first, second;
        text::Position first_where, second_where;
        std::vector<std::pair<nb::object, text::Position>> more;
    };

    // The ParseError of a net with more than two terminals; its note names
    // the subcircuit and the line of each terminal's element.
    [[noreturn]] static void raise_crowded(IrView &ir, const SubcktView &subckt, std::uint32_t net,
                                           const std::vector<std::pair<nb::object, text::Position>> &all) {
        nb::list listed;
        for (const auto &terminal : all) listed.append(terminal.first);
        PyErr_Format(process().parse_error.ptr(),
                     "Net '%S' is connected to more than two ports: %R. This is "
                     "currently not supported.",
                     ir.net_name(net).ptr(), listed.ptr());
        nb::python_error error;
        const Source *source = ir.source();
        if (!source || !all.front().second.known()) throw error;
        // Built from the names as str: a name may hold what UTF-8 cannot (lone surrogates).
        constexpr std::size_t kListed = 6;
        nb::list where;
        for (std::size_t k = 0; k < all.size() && k < kListed; ++k)
            where.append(checked(PyUnicode_FromFormat("%S (line %u)", all[k].first.ptr(),
                                                      all[k].second.first_line)));
        if (all.size() > kListed)
            where.append(checked(PyUnicode_FromFormat("and %zu more", all.size() - kListed)));
        nb::object joined = checked(PyUnicode_Join(nb::str(", ").ptr(), where.ptr()));
        Source::add_note(error, checked(PyUnicode_FromFormat(
                                    "%U:%u: net '%S' of subcircuit '%S' joins %zu terminals: %U",
                                    format_text(source->name).ptr(), all.front().second.first_line,
                                    ir.net_name(net).ptr(), subckt.component.ptr(), all.size(),
                                    joined.ptr())));
        throw error;
    }
    std::vector<Terminals> terminals_;
    std::vector<std::uint32_t> order_;
};

// Declared ports that got more than one terminal keep the last one; the
// dropped ones are named in a ParseWarning.
class DroppedTerminals {
public:
    void add(nb::handle port, nb::handle earlier) {
        nb::object lost = dict_get(dropped_, port);
        if (!lost.is_valid()) {
            lost = nb::list();
            set_item(dropped_, port, lost);
        }
        nb::borrow<nb::list>(lost).append(earlier);
    }

    void warn(const SubcktView &subckt, const nb::dict &ports, const Where &where) const {
        for (auto [port, lost] : dropped_) {
            nb::object kept = dict_get(ports, port);
            nb::object message = checked(PyUnicode_FromFormat(
                "Port '%S' of subcircuit '%S' is connected to several terminals; "
                "keeping '%S' and dropping %R.",
                port.ptr(), subckt.component.ptr(), kept.ptr(), lost.ptr()));
            warn_caller(process().parse_warning, message, where.note());
        }
    }

private:
    nb::dict dropped_ = new_dict();
};

// Whether a port name may be a key of a port map: "o" and digits (anything
// but an exact str might be equal to one).
bool may_be_positional(PyObject *port) {
    if (!PyUnicode_CheckExact(port) || !PyUnicode_IS_ASCII(port)) return true;
    const std::string_view text = ascii_view(port);
    if (text.size() < 2 || text[0] != 'o') return false;
    for (std::size_t i = 1; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// Port patching renames only names of the form "o<n>" on instances of a
// sub-netlist that has ports, and fails only on an instance port without
// exactly one comma.  For netlists a reading made itself, this keeps track of
// both on the way, so that the patch is skipped when it could change nothing.
class PatchWatch {
public:
    // An instance name; `commas`: it may hold a comma.
    void instance(bool commas) { commas_ = commas_ || commas; }
    // A terminal's port name; `named`: it came from the component's names.
    void terminal(nb::handle component, nb::handle port, bool named) {
        if (named) commas_ = commas_ || may_hold_comma(port.ptr());
        if (!may_be_positional(port.ptr()) ||
            std::find(std::begin(recent_), std::end(recent_), component.ptr()) != std::end(recent_))
            return;
        checked(PySet_Add(used_.ptr(), component.ptr()));
        recent_[next_++ % std::size(recent_)] = component.ptr();
    }

    // Whether the patch could change `built`, what the circuit library made
    // of `nets` (the circuit library as loaded hands the netlists back as they are).
    bool needed(nb::handle built, const nb::dict &nets) const {
        if (commas_ || !PyDict_CheckExact(built.ptr()) ||
            PyDict_GET_SIZE(built.ptr()) != PyDict_GET_SIZE(nets.ptr()))
            return true;
        if (checked(PyDict_Contains(nets.ptr(), process().names.empty))) return true;
        for (auto [name, netlist] : nets) {
            if (!dict_get(built, name).is(netlist)) return true;
            nb::object ports = get_item(netlist, nb::handle(process().names.ports));
            if (PyDict_GET_SIZE(ports.ptr()) != 0 && checked(PySet_Contains(used_.ptr(), name.ptr()))) return true;
        }
        return false;
    }

private:
    nb::object used_ = checked(PySet_New(nullptr));
    PyObject *recent_[8] = {};  // components seen last, alive in the netlists meanwhile
    std::size_t next_ = 0;
    bool commas_ = false;
};

// One subcircuit's flat netlist, built child by child.
class FlatNetlist {
public:
    FlatNetlist(IrView &ir, const SubcktView &subckt, const nb::dict &keymap, Route &route,
                InstancePorts &instance_ports, PatchWatch *watch)
        : ir_(ir), subckt_(subckt), keymap_(keymap), route_(route), watch_(watch), ports_of_(route),
          instance_ports_(instance_ports) {
        // The instances and placements made as the children were read, if any.
        if (subckt.ready.instances.is_valid()) {
            instances_ = subckt.ready.instances;
            if (watch_) watch_->instance(subckt.ready.commas);
        } else {
            instances_ = presized_dict(subckt.children);
        }
        placements_ = subckt.ready.placements.is_valid() ? subckt.ready.placements : nb::object(new_dict());
        std::vector<std::uint32_t> ids;
        ir.declared_ports(subckt, ids);
        for (std::uint32_t id : ids) {
            if (id >= declared_.size()) declared_.resize(id + 1);
            declared_[id] = true;
        }
    }

    void add(const Child &child) {
        nb::object item_ports = ports_of_.of(child.component);
        if (item_ports.is_none()) item_ports = ir_.local_ports(child.component);

        if (!subckt_.ready.instances.is_valid()) {
            const Interned &keys = process().names;
            nb::object settings = patch_settings(child.settings, keymap_, route_);
            set_item(instances_, child.name, new_dict({{keys.component, child.component}, {keys.settings, settings}}));
            if (watch_) watch_->instance(may_hold_comma(child.name.ptr()));
        }

        if (child.has_comment && !subckt_.ready.placements.is_valid()) {
            nb::object placement =
                placement_of(child.comment_utf8, child.comment, route_, {ir_.source(), child.where});
            bool located = PyDict_CheckExact(placement.ptr()) ? PyDict_GET_SIZE(placement.ptr()) != 0
                                                              : truthy(placement);
            if (located) set_item(placements_, child.name, placement);
        }

        nb::str name = format_text(child.name);
        for (std::size_t i = 0; i < child.nets.size(); ++i) {
            if (item_ports.is_none()) raise_unknown_ports(child);
            bool named = false;
            nb::object port = port_name(item_ports, static_cast<Py_ssize_t>(i), route_, named);
            if (watch_) watch_->terminal(child.component, port, named);
            nb::object instance_port = instance_ports_.join(name, port);
            const std::uint32_t net = child.nets[i];
            if (net < declared_.size() && declared_[net]) {
                nb::object port_name = ir_.net_name(net);
                if (nb::object earlier = dict_get(ports_, port_name)) dropped_.add(port_name, earlier);
                set_item(ports_, port_name, instance_port);
            } else {
                internal_.add(net, std::move(instance_port), child.where);
            }
        }
    }

    nb::object finish() {
        dropped_.warn(subckt_, ports_, {ir_.source(), subckt_.where});
        nb::dict connections = internal_.connections(ports_, ir_, subckt_);
        nb::object settings = patch_settings(subckt_.settings, keymap_, route_);
        const Interned &keys = process().names;
        return new_dict({{keys.instances, instances_}, {keys.connections, connections}, {keys.ports, ports_},
                         {keys.settings, settings}, {keys.placements, placements_}});
    }

private:
    IrView &ir_;
    const SubcktView &subckt_;
    const nb::dict &keymap_;
    Route &route_;
    PatchWatch *watch_;
    ComponentPorts ports_of_;
    InstancePorts &instance_ports_;
    std::vector<bool> declared_;  // by net number
    nb::dict ports_ = new_dict();
    nb::object instances_, placements_;
    InternalNets internal_;
    DroppedTerminals dropped_;
};

// An error on its way out of the assembly of a record says where the record
// stands, when the IR knows.
template <typename F>
void noting(IrView &ir, text::Position where, F &&body) {
    try {
        body();
    } catch (nb::python_error &error) {
        if (const Source *source = ir.source()) source->note(error, where);
        throw;
    }
}

nb::object flat_netlist(IrView &ir, const SubcktView &subckt, const nb::dict &keymap, Route &route,
                        InstancePorts &instance_ports, PatchWatch *watch = nullptr) {
    FlatNetlist netlist(ir, subckt, keymap, route, instance_ports, watch);
    Child child;
    for (std::size_t k = 0; k < subckt.children; ++k) {
        ir.child(subckt, k, child);
        noting(ir, child.where, [&] { netlist.add(child); });
    }
    nb::object result;
    noting(ir, subckt.where, [&] { result = netlist.finish(); });
    return result;
}

// `_recursive_netlist_from_ir` on `ir`; `python_ir` gives the IR as
// records for a replaced `_netlist_from_subckt`.  `own`: the netlists are
// this reading's alone.
template <typename PythonIr>
nb::object recursive_netlist(IrView &ir, const nb::dict &keymap, nb::handle comments, Route &route,
                             PythonIr &&python_ir, bool own) {
    nb::dict nets = new_dict();
    PatchWatch watch;
    InstancePorts instance_ports;
    const std::size_t count = ir.subckt_count();
    SubcktView subckt;
    for (std::size_t k = 0; k < count; ++k) {
        ir.subckt(k, subckt);
        if (subckt.children == 0) continue;
        nb::object netlist;
        if (route.own(Name::_netlist_from_subckt)) {
            netlist = flat_netlist(ir, subckt, keymap, route, instance_ports, own ? &watch : nullptr);
        } else {
            own = false;  // the netlist is not ours to judge
            auto [records, record] = python_ir(subckt);
            netlist = call_with(route.get(Name::_netlist_from_subckt), {records, record, keymap, comments});
        }
        set_item(nets, subckt.component, netlist);
    }

    nb::object built = call(route.get(Name::sax).attr("netlist"), nets);
    if (!PyDict_Check(built.ptr())) built = built.attr("model_dump")();
    // With the circuit library as loaded, the netlists are this reading's own.
    own = own && route.own(Name::sax);
    if (!route.own(Name::_patch_ports))
        call(route.get(Name::_patch_ports), built);
    else if (!own || watch.needed(built, nets))
        patch_ports(built, own);

    // Whatever the circuit library did to the placements is discarded.
    PyObject *placements_key = process().names.placements;
    nb::object names = checked(PySequence_List(built.ptr()));
    for (nb::handle name : names) {
        nb::object placements = get_item(get_item(nets, name), placements_key);
        checked(PyObject_SetItem(get_item(built, name).ptr(), placements_key, placements.ptr()));
    }
    nb::dict reversed = presized_dict(static_cast<std::size_t>(PyList_GET_SIZE(names.ptr())));
    for (Py_ssize_t i = PyList_GET_SIZE(names.ptr()); i-- > 0;) {
        nb::handle name = PyList_GET_ITEM(names.ptr(), i);
        set_item(reversed, name, get_item(built, name));
    }
    return reversed;
}

}  // namespace

nb::object netlist_of_records(nb::handle ir, const nb::dict &settings_keymap, const nb::dict &comments,
                              Route &route) {
    nb::object notes = PyDict_GET_SIZE(comments.ptr()) ? nb::object(comments) : nb::object(new_dict());
    RecordIrView view(ir, notes, route);
    view.subckts();  // picked before any is assembled: a replaced stage may change `ir`
    auto as_records = [&](const SubcktView &s) { return std::pair{nb::borrow(ir), s.record}; };
    return recursive_netlist(view, settings_keymap, notes, route, as_records, false);
}

nb::object netlist_of(Ir &ir, const nb::dict &settings_keymap, Route &route) {
    OwnIrView view(ir);
    // A replaced per-subcircuit stage gets the IR as records, made once, and
    // its comments in the dict that every call of the stage is handed.
    nb::object records;
    nb::dict comments = new_dict();
    auto as_records = [&](const SubcktView &s) {
        if (!records.is_valid()) {
            auto [ir_records, ir_comments] = unpack_pair(ir.to_python());
            records = std::move(ir_records);
            checked(PyDict_Update(comments.ptr(), ir_comments.ptr()));
        }
        return std::pair{records, ir.subckt_record(s.index)};
    };
    return recursive_netlist(view, settings_keymap, comments, route, as_records, true);
}

namespace {

nb::object netlist_from_subckt(nb::handle ir, nb::handle subckt, nb::handle settings_keymap,
                               nb::handle comments) {
    exact_dict(ir, "_netlist_from_subckt", "ir");
    nb::dict keymap = exact_dict(settings_keymap, "_netlist_from_subckt", "settings_keymap");
    if (!is_none_or_exact_dict(comments))
        raise_arg_type("_netlist_from_subckt", "comments", "dict or None", comments);
    nb::object notes = !comments.is_none() && PyDict_GET_SIZE(comments.ptr()) ? nb::borrow(comments)
                                                                               : nb::object(new_dict());
    Route route;
    RecordIrView view(ir, notes, route);
    SubcktView view_of_subckt;
    view.describe(subckt, view_of_subckt);
    InstancePorts instance_ports;
    return flat_netlist(view, view_of_subckt, keymap, route, instance_ports);
}

}  // namespace

void def_recursive_netlist_from_ir(nb::module_ &m, const char *name, const char *signature) {
    m.def(
        name,
        [](nb::handle ir, nb::handle settings_keymap, nb::handle comments) {
            exact_dict(ir, "_recursive_netlist_from_ir", "ir");
            nb::dict keymap = exact_dict(settings_keymap, "_recursive_netlist_from_ir", "settings_keymap");
            nb::dict notes = exact_dict(comments, "_recursive_netlist_from_ir", "comments");
            Route route;
            return netlist_of_records(ir, keymap, notes, route);
        },
        nb::arg("ir").none(), nb::arg("settings_keymap").none(), nb::arg("comments").none(), nb::sig(signature));
}

void def_netlist_from_subckt(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &netlist_from_subckt, nb::arg("ir").none(), nb::arg("subckt").none(),
          nb::arg("settings_keymap").none(), nb::arg("comments").none() = nb::none(), nb::sig(signature));
}

}  // namespace tessel::spiceread

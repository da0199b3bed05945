// Netlist assembly: the IR to one netlist per subcircuit.
//
// Each subcircuit becomes a flat netlist (instances, connections, ports,
// settings, placements); the set goes through the circuit library's
// `netlist`, positional port names are patched, the placements are put back
// and the subcircuits come out in reverse order.  The stages called per
// element (`_get_ports`, `_patch_settings`, `_parse_location_comment`,
// `_get_port`) are looked up once per call; the compiled ones run directly
// while nobody has rebound them.
#include "spiceread/assembly.hpp"
#include "spiceread/module.hpp"

#include <optional>

#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/warnings.hpp"

namespace tessel::spiceread {

namespace {

ModuleName k_netlist_from_subckt{scope(), "_netlist_from_subckt"};
ModuleName k_get_ports{scope(), "_get_ports"};
ModuleName k_get_port{scope(), "_get_port"};
ModuleName k_parse_location_comment{scope(), "_parse_location_comment"};
ModuleName k_patch_ports{scope(), "_patch_ports"};
ModuleName k_sax{scope(), "sax"};
ModuleName k_subckt{scope(), "Subckt"};

struct RecordFields {
    PyObject *name, *component, *ports, *settings, *children_ids;
};

const RecordFields &fields() {
    static const RecordFields f{interned("name"), interned("component"),
                                interned("ports"), interned("settings"),
                                interned("children_ids")};
    return f;
}

nb::object attr(nb::handle record, PyObject *name) {
    PyObject *value = PyObject_GetAttr(record.ptr(), name);
    if (!value) throw nb::python_error();
    return nb::steal(value);
}

void set_item(PyObject *dict, PyObject *key, PyObject *value) {
    if (PyDict_SetItem(dict, key, value) < 0) throw nb::python_error();
}

nb::object call1(nb::handle fn, nb::handle arg) {
    PyObject *result = PyObject_CallOneArg(fn.ptr(), arg.ptr());
    if (!result) throw nb::python_error();
    return nb::steal(result);
}

// `for item in iterable`, without an iterator object for the tuples the IR
// is made of.  `iterable` must be kept alive by the caller.
template <typename F>
void for_each(nb::handle iterable, F &&body) {
    if (PyTuple_CheckExact(iterable.ptr())) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(iterable.ptr()); ++i)
            body(nb::handle(PyTuple_GET_ITEM(iterable.ptr(), i)));
        return;
    }
    for (nb::handle item : iterable) body(item);
}

// `f"{value}"`: text as it is, anything else formatted.
nb::object as_text(nb::handle value) {
    if (PyUnicode_CheckExact(value.ptr())) return nb::borrow(value);
    PyObject *text = PyObject_Format(value.ptr(), nullptr);
    if (!text) throw nb::python_error();
    return nb::steal(text);
}

// The Subckt records of `ir`, in its order.
nb::list subckts_of(nb::handle ir) {
    nb::object subckt_type = k_subckt.get();
    nb::object records = nb::steal(PyDict_Values(ir.ptr()));
    if (!records.is_valid()) throw nb::python_error();
    nb::list subckts;
    for (nb::handle record : records) {
        int is_subckt = PyObject_IsInstance(record.ptr(), subckt_type.ptr());
        if (is_subckt < 0) throw nb::python_error();
        if (is_subckt) subckts.append(record);
    }
    return subckts;
}

// The declared ports of the file's own subcircuits, by component name (a
// later definition of a name replaces an earlier one), made when the first
// instance of a component unknown to the PDK turns up.
class LocalSubckts {
public:
    explicit LocalSubckts(nb::handle ir) : ir_(ir) {}

    // The declared ports of subcircuit `component`, or None.
    nb::object ports_of(nb::handle component) const {
        if (!table_.is_valid()) build();
        PyObject *ports = PyDict_GetItemWithError(table_.ptr(), component.ptr());
        if (!ports && PyErr_Occurred()) throw nb::python_error();
        return ports ? nb::borrow(ports) : nb::none();
    }

private:
    void build() const {
        nb::dict table;
        for (nb::handle record : subckts_of(ir_)) {
            nb::object ports = attr(record, fields().ports);
            // Only a tuple of names can stand for a port list.
            if (PyTuple_CheckExact(ports.ptr())) table[attr(record, fields().component)] = ports;
        }
        table_ = std::move(table);
    }

    nb::handle ir_;
    mutable nb::object table_;
};

// The per-element stages, as bound in the module when a reading starts.
struct Stages {
    explicit Stages(bool owned_ir = false)
        : owned_ir(owned_ir),
          get_ports(k_get_ports.get()),
          parse_location(k_parse_location_comment.get()),
          get_port(k_get_port.get()),
          get_port_direct(k_get_port.is_original(get_port)) {}

    // The records' settings dicts may be taken over (see take_over).
    bool owned_ir;
    nb::object get_ports;
    SettingsPatcher patch_settings;
    nb::object parse_location;
    nb::object get_port;
    bool get_port_direct;

    nb::object patch(nb::object settings, nb::handle settings_keymap) const {
        return owned_ir ? patch_settings.take_over(settings, settings_keymap)
                        : patch_settings(settings, settings_keymap);
    }
};

// The declared (external) ports of a subcircuit, for membership tests of
// every terminal's net: a set when they are all texts, as `in` on the tuple
// would answer the same for a text net.
class DeclaredPorts {
public:
    explicit DeclaredPorts(nb::object ports) : ports_(std::move(ports)) {
        if (!PyTuple_CheckExact(ports_.ptr())) return;
        for (nb::handle p : nb::borrow<nb::tuple>(ports_))
            if (!PyUnicode_CheckExact(p.ptr())) return;
        set_ = nb::steal(PySet_New(ports_.ptr()));
        if (!set_.is_valid()) throw nb::python_error();
    }

    bool contains(nb::handle net) const {
        int found = set_.is_valid() && PyUnicode_CheckExact(net.ptr())
                        ? PySet_Contains(set_.ptr(), net.ptr())
                        : PySequence_Contains(ports_.ptr(), net.ptr());
        if (found < 0) throw nb::python_error();
        return found;
    }

private:
    nb::object ports_;
    nb::object set_;
};

[[noreturn]] void raise_unknown_ports(nb::handle item) {
    nb::object name = attr(item, fields().name), component = attr(item, fields().component);
    PyErr_Format(PyExc_TypeError,
                 "Instance '%S' uses component '%S', whose ports are unknown: it is "
                 "neither a built-in element, nor a model of the PDK, nor a cell of "
                 "the PDK that could be built, nor a subcircuit of this netlist.",
                 name.ptr(), component.ptr());
    throw nb::python_error();
}

// Declared ports that got more than one terminal: the last one is kept, as
// before, but the dropped ones are named in a ParseWarning.
void warn_dropped(nb::handle subckt, const nb::dict &ports, const nb::dict &dropped) {
    nb::object name = attr(subckt, fields().component);
    for (auto [port, lost] : dropped) {
        nb::object kept = nb::borrow(PyDict_GetItemWithError(ports.ptr(), port.ptr()));
        nb::object message = nb::steal(PyUnicode_FromFormat(
            "Port '%S' of subcircuit '%S' is connected to several terminals; "
            "keeping '%S' and dropping %R.",
            port.ptr(), name.ptr(), kept.ptr(), lost.ptr()));
        if (!message.is_valid()) throw nb::python_error();
        warn_caller(parse_warning_type(), nb::borrow<nb::str>(message).c_str());
    }
}

nb::object netlist_from_subckt(nb::handle ir, nb::handle subckt, nb::handle settings_keymap,
                               nb::handle comments, const Stages &stages,
                               const LocalSubckts &local) {
    const NetlistKeys &keys = netlist_keys();
    const RecordFields &f = fields();
    bool have_comments = !comments.is_none() && PyDict_GET_SIZE(comments.ptr()) != 0;

    nb::dict ports, instances, placements;
    // Nets not declared as ports, by first appearance: the first terminal,
    // the second, and all of them once a third turns up (an error).
    nb::dict first, second, crowded;
    nb::dict dropped;  // declared port -> list of overwritten instance ports
    DeclaredPorts declared(attr(subckt, f.ports));

    nb::object children = attr(subckt, f.children_ids);
    for_each(children, [&](nb::handle id) {
        PyObject *found = PyDict_GetItemWithError(ir.ptr(), id.ptr());
        if (!found) {
            if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, id.ptr());
            throw nb::python_error();
        }
        // Held here: an owned IR lets go of the record once it is read.
        nb::object item = nb::borrow(found);
        nb::object component = attr(item, f.component);
        nb::object item_ports = call1(stages.get_ports, component);
        // A subcircuit of this file that the PDK does not know: its terminals
        // are its declared ports, in the order written.
        if (item_ports.is_none()) item_ports = local.ports_of(component);

        nb::object instance = nb::steal(PyDict_New());
        if (!instance.is_valid()) throw nb::python_error();
        set_item(instance.ptr(), keys.component, component.ptr());
        nb::object settings = stages.patch(attr(item, f.settings), settings_keymap);
        set_item(instance.ptr(), keys.settings, settings.ptr());
        nb::object name = attr(item, f.name);
        set_item(instances.ptr(), name.ptr(), instance.ptr());

        if (have_comments) {
            PyObject *comment = PyDict_GetItemWithError(comments.ptr(), id.ptr());
            if (comment) {
                nb::object placement = call1(stages.parse_location, comment);
                bool located = PyDict_CheckExact(placement.ptr())
                                   ? PyDict_GET_SIZE(placement.ptr()) != 0
                                   : truthy(placement);
                if (located) set_item(placements.ptr(), name.ptr(), placement.ptr());
            } else if (PyErr_Occurred()) {
                throw nb::python_error();
            }
        }

        nb::object text_name = as_text(name);
        bool direct = stages.get_port_direct && PyTuple_CheckExact(item_ports.ptr());
        Py_ssize_t i = 0;
        nb::object nets = attr(item, f.ports);
        for_each(nets, [&](nb::handle net) {
            if (item_ports.is_none()) raise_unknown_ports(item);
            nb::object port = direct ? port_at(item_ports.ptr(), i)
                                     : stages.get_port(item_ports, nb::int_(i));
            nb::object instance_port =
                PyUnicode_CheckExact(text_name.ptr()) && PyUnicode_CheckExact(port.ptr())
                    ? join_instance_port(text_name.ptr(), port.ptr())
                    : nb::steal(PyUnicode_FromFormat("%S,%S", text_name.ptr(),
                                                     as_text(port).ptr()));
            ++i;

            if (declared.contains(net)) {
                PyObject *earlier = PyDict_GetItemWithError(ports.ptr(), net.ptr());
                if (earlier) {
                    nb::object lost = dropped.get(net, nb::none());
                    if (lost.is_none()) {
                        lost = nb::list();
                        dropped[net] = lost;
                    }
                    nb::borrow<nb::list>(lost).append(nb::handle(earlier));
                } else if (PyErr_Occurred()) {
                    throw nb::python_error();
                }
                set_item(ports.ptr(), net.ptr(), instance_port.ptr());
                return;
            }
            PyObject *held = PyDict_SetDefault(first.ptr(), net.ptr(), instance_port.ptr());
            if (!held) throw nb::python_error();
            if (held == instance_port.ptr()) return;
            held = PyDict_SetDefault(second.ptr(), net.ptr(), instance_port.ptr());
            if (!held) throw nb::python_error();
            if (held == instance_port.ptr()) return;
            nb::object all = crowded.get(net, nb::none());
            if (all.is_none()) {
                all = nb::make_tuple(nb::handle(PyDict_GetItem(first.ptr(), net.ptr())),
                                     nb::handle(held));
                all = nb::list(all);
                crowded[net] = all;
            }
            nb::borrow<nb::list>(all).append(instance_port);
        });
        // Nobody else sees an owned IR: a record read is freed now rather
        // than at the end, so the collector no longer walks it and its
        // memory serves the netlist's objects.
        if (stages.owned_ir && PyDict_DelItem(ir.ptr(), id.ptr()) < 0)
            throw nb::python_error();
    });
    if (PyDict_GET_SIZE(dropped.ptr()) != 0) warn_dropped(subckt, ports, dropped);

    nb::dict connections;
    for (auto [net, one] : first) {
        if (PyDict_GET_SIZE(crowded.ptr()) != 0) {
            PyObject *all = PyDict_GetItemWithError(crowded.ptr(), net.ptr());
            if (all) {
                PyErr_Format(parse_error_type().ptr(),
                             "Net '%S' is connected to more than two ports: %R. This is "
                             "currently not supported.",
                             net.ptr(), all);
                throw nb::python_error();
            }
        }
        PyObject *other = PyDict_GetItemWithError(second.ptr(), net.ptr());
        if (other)
            set_item(connections.ptr(), one.ptr(), other);
        else if (PyErr_Occurred())
            throw nb::python_error();
        else
            set_item(ports.ptr(), net.ptr(), one.ptr());
    }

    nb::object settings = stages.patch(attr(subckt, f.settings), settings_keymap);
    nb::object netlist = nb::steal(PyDict_New());
    if (!netlist.is_valid()) throw nb::python_error();
    set_item(netlist.ptr(), keys.instances, instances.ptr());
    set_item(netlist.ptr(), keys.connections, connections.ptr());
    set_item(netlist.ptr(), keys.ports, ports.ptr());
    set_item(netlist.ptr(), keys.settings, settings.ptr());
    set_item(netlist.ptr(), keys.placements, placements.ptr());
    return netlist;
}

nb::object netlist_from_subckt_function(nb::handle ir, nb::handle subckt,
                                        nb::handle settings_keymap, nb::handle comments) {
    exact_dict(ir, "_netlist_from_subckt", "ir");
    exact_dict(settings_keymap, "_netlist_from_subckt", "settings_keymap");
    if (!is_none_or_exact_dict(comments))
        raise_arg_type("_netlist_from_subckt", "comments", "dict or None", comments);
    return netlist_from_subckt(ir, subckt, settings_keymap, comments, Stages(),
                               LocalSubckts(ir));
}

}  // namespace

nb::object recursive_netlist_from_ir(nb::handle ir, nb::handle settings_keymap,
                                     nb::handle comments, bool owned_ir) {
    exact_dict(ir, "_recursive_netlist_from_ir", "ir");
    exact_dict(settings_keymap, "_recursive_netlist_from_ir", "settings_keymap");
    exact_dict(comments, "_recursive_netlist_from_ir", "comments");
    nb::object notes = PyDict_GET_SIZE(comments.ptr()) ? nb::borrow(comments)
                                                       : nb::object(nb::dict());

    nb::object per_subckt = k_netlist_from_subckt.get();
    bool direct = k_netlist_from_subckt.is_original(per_subckt);
    std::optional<Stages> stages;
    if (direct) stages.emplace(owned_ir);
    LocalSubckts local(ir);

    // The subcircuits, picked before any is assembled: a replaced stage may
    // change `ir`, and an owned IR loses its element records on the way.
    nb::list subckts = subckts_of(ir);

    nb::dict nets;
    for (nb::handle record : subckts) {
        if (!truthy(attr(record, fields().children_ids))) continue;
        nb::object netlist =
            direct ? netlist_from_subckt(ir, record, settings_keymap, notes, *stages, local)
                   : per_subckt(ir, record, settings_keymap, notes);
        nets[attr(record, fields().component)] = netlist;
    }

    nb::object built = call1(k_sax.get().attr("netlist"), nets);
    if (!PyDict_Check(built.ptr())) built = built.attr("model_dump")();

    nb::object patch = k_patch_ports.get();
    if (k_patch_ports.is_original(patch))
        patch_ports(built);
    else
        patch(built);

    // Whatever the circuit library did to the placements is discarded.
    PyObject *placements_key = netlist_keys().placements;
    nb::object names = nb::steal(PySequence_List(built.ptr()));
    if (!names.is_valid()) throw nb::python_error();
    for (nb::handle name : names) {
        nb::object placements = get_item(get_item(nets, name), placements_key);
        if (PyObject_SetItem(get_item(built, name).ptr(), placements_key, placements.ptr()) < 0)
            throw nb::python_error();
    }

    nb::dict reversed;
    for (Py_ssize_t i = PyList_GET_SIZE(names.ptr()); i-- > 0;) {
        PyObject *name = PyList_GET_ITEM(names.ptr(), i);
        set_item(reversed.ptr(), name, get_item(built, name).ptr());
    }
    return reversed;
}

void def_recursive_netlist_from_ir(nb::module_ &m) {
    m.def(
        "_recursive_netlist_from_ir",
        [](nb::handle ir, nb::handle settings_keymap, nb::handle comments) {
            return recursive_netlist_from_ir(ir, settings_keymap, comments, false);
        },
        nb::arg("ir").none(),
          nb::arg("settings_keymap").none(), nb::arg("comments").none());
}

void def_netlist_from_subckt(nb::module_ &m) {
    m.def("_netlist_from_subckt", &netlist_from_subckt_function, nb::arg("ir").none(),
          nb::arg("subckt").none(), nb::arg("settings_keymap").none(),
          nb::arg("comments").none() = nb::none());
}

}  // namespace tessel::spiceread

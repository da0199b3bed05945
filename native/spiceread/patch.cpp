// Port patching: a terminal that an element line names only by position
// ("o2") on an instance of one of the file's own subcircuits gets the name
// of that subcircuit's external port at the same position.
//
// Port maps come from the netlists as they are before any change, so the
// order in which netlists are patched does not matter.  Most netlists hold
// no instance of a subcircuit that has ports; theirs are checked and copied
// without cutting any instance port apart.
#include "spiceread/patch.hpp"

#include <algorithm>
#include <iterator>

#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/unpack.hpp"
#include "spiceread/module.hpp"
#include "spiceread/process.hpp"
#include "spiceread/strings.hpp"

namespace tessel::spiceread {

namespace {

// `mapping.get(key, default)`, inline for exact dicts.
nb::object get_or(nb::handle mapping, nb::handle key, nb::handle fallback) {
    if (PyDict_CheckExact(mapping.ptr())) {
        PyObject *value = PyDict_GetItemWithError(mapping.ptr(), key.ptr());
        if (value) return nb::borrow(value);
        if (PyErr_Occurred()) throw nb::python_error();
        return nb::borrow(fallback);
    }
    return mapping.attr("get")(key, fallback);
}

// `mapping.items()` as a list of 2-tuples, so a patched entry can be built
// while the old one is still in place.
nb::object items_of(nb::handle mapping) {
    if (PyDict_CheckExact(mapping.ptr())) return checked(PyDict_Items(mapping.ptr()));
    nb::list pairs;
    for (nb::handle item : mapping.attr("items")()) {
        auto [key, value] = unpack_pair(item);
        pairs.append(nb::make_tuple(key, value));
    }
    return pairs;
}

// name -> {"o1": first port, "o2": second port, ...} for every netlist.
nb::dict build_port_mapping(nb::handle netlist) {
    const Interned &keys = process().names;
    nb::dict mapping;
    for (nb::handle pair : items_of(netlist)) {
        nb::handle name = nb::handle(PyTuple_GET_ITEM(pair.ptr(), 0));
        nb::object ports = get_item(nb::handle(PyTuple_GET_ITEM(pair.ptr(), 1)),
                                    keys.ports);
        nb::dict positions;
        Py_ssize_t i = 0;
        // Read like the rest of the entry (through `items`), so a missing
        // table fails the same way here as when it is patched.
        for (nb::handle item : items_of(ports))
            positions[positional_port(i++)] = nb::handle(PyTuple_GET_ITEM(item.ptr(), 0));
        mapping[name] = positions;
    }
    return mapping;
}

class NetPatcher {
public:
    NetPatcher(const nb::dict &port_mapping, nb::handle instances)
        : port_mapping_(port_mapping), instances_(instances) {}

    // The instance port with its port name resolved; the same object when
    // nothing changes and it is already the text that would be rebuilt.
    nb::object resolve(nb::handle instance_port) const {
        auto [instance, port] = split_instance_port(instance_port);
        return rebuilt(instance_port, instance, port);
    }

    // As `resolve`, with both sides split before either is resolved.
    std::pair<nb::object, nb::object> resolve_pair(nb::handle ip1, nb::handle ip2) const {
        auto [i1, p1] = split_instance_port(ip1);
        auto [i2, p2] = split_instance_port(ip2);
        return {rebuilt(ip1, i1, p1), rebuilt(ip2, i2, p2)};
    }

private:
    nb::object rebuilt(nb::handle instance_port, nb::handle instance, nb::handle port) const {
        const Interned &names = process().names;
        nb::object entry = get_or(instances_, instance, nb::dict());
        nb::object component = get_or(entry, nb::handle(names.component), nb::handle(names.empty));
        nb::object resolved = get_or(get_or(port_mapping_, component, nb::dict()), port, port);
        if (resolved.is(port) && PyUnicode_CheckExact(instance_port.ptr())) return nb::borrow(instance_port);
        return join_instance_port(instance, resolved);
    }

    const nb::dict &port_mapping_;
    nb::handle instances_;
};

// Whether every instance port of `table` (keys and values) is a text with
// exactly one comma: then an unpatched copy is what resolution would give.
bool plain_instance_ports(nb::handle table, bool keys_too) {
    if (!PyDict_CheckExact(table.ptr())) return false;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(table.ptr(), &pos, &key, &value)) {
        if (keys_too && !(PyUnicode_CheckExact(key) && has_one_comma(key))) return false;
        if (!(PyUnicode_CheckExact(value) && has_one_comma(value))) return false;
    }
    return true;
}

// Whether an instance of the netlist could resolve to another name: some
// instance uses a component with a non-empty port map, or an instance port
// names an instance that is missing (its component is then the empty text).
// Answers true for anything unusual, which takes the general route.
bool may_rename(nb::handle instances, const nb::dict &renaming) {
    if (PyDict_GET_SIZE(renaming.ptr()) == 0) return false;
    if (!PyDict_CheckExact(instances.ptr())) return true;
    if (checked(PyDict_Contains(renaming.ptr(), process().names.empty))) return true;
    PyObject *component_key = process().names.component;
    // Instances share their component texts, and a netlist uses few
    // components: those already found not to rename are remembered by
    // identity (they stay alive in `instances` meanwhile).
    PyObject *known[8] = {};
    size_t next = 0;
    Py_ssize_t pos = 0;
    PyObject *name, *entry;
    while (PyDict_Next(instances.ptr(), &pos, &name, &entry)) {
        if (!PyDict_CheckExact(entry)) return true;
        PyObject *component = PyDict_GetItemWithError(entry, component_key);
        if (!component) {
            if (PyErr_Occurred()) throw nb::python_error();
            continue;  // resolves through the empty text, handled above
        }
        if (std::find(std::begin(known), std::end(known), component) != std::end(known))
            continue;
        if (!PyUnicode_CheckExact(component)) return true;
        if (checked(PyDict_Contains(renaming.ptr(), component))) return true;
        known[next++ % std::size(known)] = component;
    }
    return false;
}

void patch_net(nb::handle net, const nb::dict &port_mapping, const nb::dict &renaming,
               bool in_place) {
    const Interned &keys = process().names;
    nb::object connections = get_item(net, keys.connections);
    nb::object instances = get_item(net, keys.instances);
    bool renames = may_rename(instances, renaming);

    nb::object new_connections;
    if (!renames && plain_instance_ports(connections, true)) {
        new_connections = in_place ? connections : checked(PyDict_Copy(connections.ptr()));
    } else {
        NetPatcher patcher(port_mapping, instances);
        nb::dict built;
        for (nb::handle pair : items_of(connections)) {
            auto [ip1, ip2] = patcher.resolve_pair(PyTuple_GET_ITEM(pair.ptr(), 0),
                                                   PyTuple_GET_ITEM(pair.ptr(), 1));
            built[ip1] = ip2;
        }
        new_connections = std::move(built);
    }

    nb::object ports = get_item(net, keys.ports);
    nb::object new_ports;
    if (!renames && plain_instance_ports(ports, false)) {
        new_ports = in_place ? ports : checked(PyDict_Copy(ports.ptr()));
    } else {
        NetPatcher patcher(port_mapping, instances);
        nb::dict built;
        for (nb::handle pair : items_of(ports))
            built[PyTuple_GET_ITEM(pair.ptr(), 0)] =
                patcher.resolve(PyTuple_GET_ITEM(pair.ptr(), 1));
        new_ports = std::move(built);
    }

    if (new_connections.is(connections) && new_ports.is(ports)) return;
    checked(PyObject_SetItem(net.ptr(), keys.connections, new_connections.ptr()));
    checked(PyObject_SetItem(net.ptr(), keys.ports, new_ports.ptr()));
}

}  // namespace

void patch_ports(nb::handle netlist, bool in_place) {
    // A dict subclass is what the circuit library may hand back, so it is
    // accepted here along with a plain dict.
    if (!PyDict_Check(netlist.ptr()))
        raise_arg_type("_patch_ports", "netlist", "dict", netlist);
    nb::dict port_mapping = build_port_mapping(netlist);
    // Only the maps that can rename anything matter for the quick check.
    nb::dict renaming;
    for (auto [name, positions] : port_mapping)
        if (PyDict_GET_SIZE(positions.ptr()) != 0) renaming[name] = positions;
    for (nb::handle pair : items_of(netlist))
        patch_net(nb::handle(PyTuple_GET_ITEM(pair.ptr(), 1)), port_mapping, renaming, in_place);
}

void def_patch_ports(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, [](nb::handle netlist) { patch_ports(netlist, false); }, nb::arg("netlist").none(), nb::sig(signature));
}

}  // namespace tessel::spiceread

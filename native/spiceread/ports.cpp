// Port resolution: the port names of a component in canonical order, so that
// terminal i of an element line maps to the i-th name.
//
// Built-in elements have fixed lists; anything else is asked of the active
// PDK (its simulation models first, then its layout cells).  `_get_ports` is
// memoised per component name by an `lru_cache` wrapped around it at load,
// so a PDK is asked at most once per name while the entry stays cached.
#include "spiceread/ports.hpp"

#include "common/checks.hpp"
#include "common/objects.hpp"
#include "spiceread/module.hpp"
#include "spiceread/process.hpp"
#include "spiceread/strings.hpp"

namespace tessel::spiceread {

namespace {

bool is_one_of(PyObject *text, std::initializer_list<const char *> names) {
    for (const char *name : names)
        if (PyUnicode_CompareWithASCIIString(text, name) == 0) return true;
    return false;
}

// `_get_port` on an exact tuple and a position >= 0.
nb::object port_at(PyObject *ports, Py_ssize_t i) {
    if (i >= PyTuple_GET_SIZE(ports)) return positional_port(i);
    PyObject *name = PyTuple_GET_ITEM(ports, i);
    if (!PyUnicode_Check(name)) {
        PyErr_Format(PyExc_TypeError, "_get_port() port name at position %zd must be str, not %s", i,
                     Py_TYPE(name)->tp_name);
        throw nb::python_error();
    }
    return nb::borrow(name);
}

nb::object sort_ports(nb::handle ports, Route &route);

nb::object sort_ports_step(nb::handle names, Route &route) {
    return route.own(Name::_sort_ports) ? sort_ports(names, route) : call(route.get(Name::_sort_ports), names);
}

nb::object pdk_table(const char *table, Route &route) {
    return route.get(Name::ts_pdk).attr("get_pdk")().attr(table);
}

// `table.get(component)`, and for a "wg_" name not found, the name without
// that prefix (stripped once only).
nb::object pdk_entry(const nb::object &table, nb::handle component) {
    nb::object get = table.attr("get");
    nb::object entry = get(component, nb::none());
    if (entry.is_none() && checked(PyUnicode_Tailmatch(component.ptr(), process().names.wg_, 0, PY_SSIZE_T_MAX, -1))) {
        nb::object stripped = checked(PyUnicode_Substring(component.ptr(), 3, PyUnicode_GET_LENGTH(component.ptr())));
        entry = get(stripped, nb::none());
    }
    return entry;
}

nb::object get_ports_from_model(nb::handle component, Route &route) {
    exact_str(component, "_get_ports_from_model", "component");
    nb::object model = pdk_entry(pdk_table("models", route), component);
    if (model.is_none()) return nb::none();
    nb::object names = route.get(Name::sax).attr("get_ports")(model());
    return sort_ports_step(names, route);
}

nb::object get_ports_from_component(nb::handle component, Route &route) {
    exact_str(component, "_get_ports_from_component", "component");
    nb::object cell = pdk_entry(pdk_table("cells", route), component);
    if (cell.is_none()) return nb::none();
    PyObject *built = PyObject_CallNoArgs(cell.ptr());
    if (!built) {
        // A cell that cannot be built with its defaults just has no known
        // ports; only errors of the ordinary Exception family are meant.
        if (!PyErr_ExceptionMatches(PyExc_Exception)) throw nb::python_error();
        PyErr_Clear();
        return nb::none();
    }
    nb::object c = nb::steal(built);
    nb::str empty("");
    nb::list names;
    for (nb::handle port : c.attr("ports")) {
        nb::object name = port.attr("name");
        names.append(truthy(name) ? name : nb::object(empty));
    }
    return sort_ports_step(names, route);
}

nb::object get_ports(nb::handle component) {
    exact_str(component, "_get_ports", "component");
    if (is_one_of(component.ptr(), {"vcvs", "vccs", "ccvs", "cccs"})) return nb::borrow(process().source_ports);
    if (is_one_of(component.ptr(), {"resistor", "capacitor"})) return nb::borrow(process().two_terminal_ports);

    Route route;
    nb::object ports = route.own(Name::_get_ports_from_model)
                           ? get_ports_from_model(component, route)
                           : call(route.get(Name::_get_ports_from_model), component);
    if (truthy(ports)) return ports;
    return route.own(Name::_get_ports_from_component) ? get_ports_from_component(component, route)
                                                      : call(route.get(Name::_get_ports_from_component), component);
}

// `name.startswith(prefix)`, inline for text; anything else answers (or
// fails) as its own `startswith` does.
bool name_starts_with(nb::handle name, PyObject *prefix) {
    if (PyUnicode_CheckExact(name.ptr()))
        return checked(PyUnicode_Tailmatch(name.ptr(), prefix, 0, PY_SSIZE_T_MAX, -1)) == 1;
    return truthy(name.attr("startswith")(nb::handle(prefix)));
}

// `a + b` of two sequences.
nb::object sequence_sum(nb::handle a, nb::handle b) { return checked(PySequence_Concat(a.ptr(), b.ptr())); }

// Inputs, then other ports, then optical ("o", but not "out..."), then
// electrical ("e") ports, each group in natural order.  `ports` is iterated
// three times, as a sequence may be.
nb::object sort_ports(nb::handle ports, Route &route) {
    const Interned &names = process().names;
    PyObject *const o = names.o, *const out = names.out, *const e = names.e, *const in = names.in;
    nb::handle natsorted = route.get(Name::natsorted);

    nb::list optical, electrical;
    for (nb::handle p : ports)
        if (name_starts_with(p, o) && !name_starts_with(p, out)) optical.append(p);
    nb::object o_ports = natsorted(optical);
    for (nb::handle p : ports)
        if (name_starts_with(p, e)) electrical.append(p);
    nb::object e_ports = natsorted(electrical);
    nb::object oe_ports = sequence_sum(o_ports, e_ports);

    // Membership by equality, through a set when every name is text (as
    // `in` on the list would answer the same for a text).
    nb::object oe_set;
    bool all_text = true;
    for (nb::handle p : oe_ports) all_text = all_text && PyUnicode_CheckExact(p.ptr());
    if (all_text) oe_set = checked(PySet_New(oe_ports.ptr()));
    nb::list rest;
    for (nb::handle p : ports) {
        const int found = checked(oe_set.is_valid() && PyUnicode_CheckExact(p.ptr())
                                      ? PySet_Contains(oe_set.ptr(), p.ptr())
                                      : PySequence_Contains(oe_ports.ptr(), p.ptr()));
        if (!found) rest.append(p);
    }
    nb::list inputs, outputs;
    for (nb::handle p : rest) {
        if (name_starts_with(p, in))
            inputs.append(p);
        else
            outputs.append(p);
    }
    nb::object input_ports = natsorted(inputs);
    nb::object output_ports = natsorted(outputs);
    nb::object all = sequence_sum(sequence_sum(input_ports, output_ports), oe_ports);
    return checked(PySequence_Tuple(all.ptr()));
}

nb::object get_port(nb::handle ports, nb::handle i) {
    exact_tuple(ports, "_get_port", "ports");
    exact_int(i, "_get_port", "i");
    int overflow = 0;
    long long position = PyLong_AsLongLongAndOverflow(i.ptr(), &overflow);
    if (position == -1 && PyErr_Occurred()) throw nb::python_error();
    if (overflow > 0) {
        // Past the end by far: still a positional name, in full.
        nb::object next = i + nb::int_(1);
        return checked(PyUnicode_FromFormat("o%S", next.ptr()));
    }
    Py_ssize_t n = PyTuple_GET_SIZE(ports.ptr());
    if (overflow < 0 || position < -static_cast<long long>(n)) {
        PyErr_SetString(PyExc_IndexError, "tuple index out of range");
        throw nb::python_error();
    }
    if (position < 0) position += n;
    return port_at(ports.ptr(), static_cast<Py_ssize_t>(position));
}

}  // namespace

ComponentPorts::ComponentPorts(Route &route) : route_(route), own_(route.own(Name::_get_ports)) {}

nb::object ComponentPorts::of(nb::handle component) {
    if (own_)
        for (const Entry &e : recent_)
            if (e.component.ptr() == component.ptr()) return e.ports;
    nb::object ports = call(route_.get(Name::_get_ports), component);
    if (own_) recent_[next_++ % std::size(recent_)] = {nb::borrow(component), ports};
    return ports;
}

nb::object port_name(nb::handle ports, Py_ssize_t i, Route &route, bool &named) {
    if (route.own(Name::_get_port) && PyTuple_CheckExact(ports.ptr())) {
        named = i < PyTuple_GET_SIZE(ports.ptr());
        return port_at(ports.ptr(), i);
    }
    named = true;  // whatever it is, it may be a name
    return call(route.get(Name::_get_port), ports, new_int(i));
}

void def_get_ports_from_model(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &with_own_route<get_ports_from_model, nb::handle>, nb::arg("component").none(), nb::sig(signature));
}

void def_get_ports_from_component(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &with_own_route<get_ports_from_component, nb::handle>, nb::arg("component").none(),
          nb::sig(signature));
}

void def_get_ports(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &get_ports, nb::arg("component").none(), nb::sig(signature));
    m.attr(name) = nb::module_::import_("functools").attr("lru_cache")()(m.attr(name));
}

void def_sort_ports(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &with_own_route<sort_ports, nb::handle>, nb::arg("ports").none(), nb::sig(signature));
}

void def_get_port(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &get_port, nb::arg("ports").none(), nb::arg("i").none(), nb::sig(signature));
}

}  // namespace tessel::spiceread

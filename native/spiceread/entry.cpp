// Reader entry: `parse_oc_spice` and `_parse_oc_spice_into_ir`.
//
// Argument checks, opening a path (or taking the caller's stream), the single
// `read`, and closing exactly what was opened here, also on failure.  While
// the steps are the module's own, the text goes to the C++ IR and from there
// straight to the netlist dictionary; Python records are made only for a
// caller that asks for the IR, or for a replaced step that takes it.
#include <memory>

#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/signatures.hpp"
#include "common/unpack.hpp"
#include "spiceread/ir_build.hpp"
#include "spiceread/lines.hpp"
#include "spiceread/module.hpp"
#include "spiceread/netlist.hpp"
#include "spiceread/notes.hpp"
#include "spiceread/process.hpp"
#include "text/chars.hpp"
#include "text/relevant_lines.hpp"

namespace tessel::spiceread {

namespace {

// What the text-to-IR stage gave: the reading's own IR, or the pair that
// replaced steps returned.
struct Reading {
    std::unique_ptr<Ir> own;
    nb::object ir, comments;

    nb::object to_python() const { return own ? own->to_python() : nb::make_tuple(ir, comments); }
    static Reading of_pair(nb::handle pair) {
        auto [ir, comments] = unpack_pair(pair);
        return {nullptr, std::move(ir), std::move(comments)};
    }
};

// `_parse_into_ir(_iter_relevant_lines(content), component_map, **kwargs)`.
// `plain`: `content` is the bytes of plain ASCII that a file held (`file_text`).
Reading read_text(nb::handle name, nb::handle content, bool plain, const nb::dict &component_map,
                  nb::handle kwargs, Route &route, const nb::dict *netlist_keymap) {
    RelevantLines lines = plain ? plain_lines(content, route) : relevant_lines(content, route);
    if (!route.own(Name::_parse_into_ir))
        return Reading::of_pair(
            call_with_kwargs(route.get(Name::_parse_into_ir), {lines.object(), component_map}, kwargs));
    return {build_ir(LineSource::of(name, lines), component_map, kwargs, route, netlist_keymap), {}, {}};
}

// A text that does not decode says where: at the line of the first byte
// that does not.
void note_undecodable(nb::python_error &error, nb::handle name) {
    if (!error.matches(PyExc_UnicodeDecodeError)) return;
    nb::object object = optional_attr(error.value(), "object");
    nb::object start = optional_attr(error.value(), "start");
    if (!object.is_valid() || !PyBytes_Check(object.ptr()) || !start.is_valid()) return;
    const std::string_view bytes(PyBytes_AS_STRING(object.ptr()),
                                 static_cast<std::size_t>(PyBytes_GET_SIZE(object.ptr())));
    const Py_ssize_t offset = PyLong_AsSsize_t(start.ptr());
    if (offset == -1 && PyErr_Occurred()) PyErr_Clear();  // the decoding error is what matters
    if (offset < 0 || static_cast<std::size_t>(offset) > bytes.size()) return;
    const std::uint32_t line = text::line_at(bytes, static_cast<std::size_t>(offset));
    Source{name.is_valid() ? nb::borrow(name) : nb::object(nb::str("<stream>")), bytes}.note(error, {line, line});
}

// The text without a leading byte-order mark, which some editors write at
// the start of a UTF-8 file: it belongs to no line.
nb::object without_bom(nb::object content) {
    if (!PyUnicode_Check(content.ptr()) || PyUnicode_GET_LENGTH(content.ptr()) == 0 ||
        PyUnicode_READ_CHAR(content.ptr(), 0) != 0xFEFF)
        return content;
    return checked(PyUnicode_Substring(content.ptr(), 1, PyUnicode_GET_LENGTH(content.ptr())));
}

// The text of a file opened in binary.  Bytes of plain ASCII with no
// carriage return are their own text, byte for byte, and the module's own
// scanner reads them as they are; anything else is read as text mode reads
// it (UTF-8, universal newlines).
nb::object file_text(nb::handle file) {
    nb::object data = file.attr("read")();
    if (PyBytes_CheckExact(data.ptr()) &&
        text::plain_ascii({PyBytes_AS_STRING(data.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(data.ptr()))}))
        return data;
    const Process &p = process();
    return p.text_wrapper(p.bytes_io(data), nb::arg("encoding") = "utf-8").attr("read")();
}

// Closes a file this call opened when reading or parsing fails; the failure
// is what the caller sees.
void close_quietly(nb::handle file) noexcept {
    nb::object closed = nb::steal(PyObject_CallMethod(file.ptr(), "close", nullptr));
    if (!closed.is_valid()) PyErr_WriteUnraisable(file.ptr());
}

// Whether `path_or_buf` is a path: text or a `Path` as `isinstance` says,
// whatever `__class__` claims; anything else is a stream.
bool is_path(nb::handle path_or_buf) {
    PyObject *value = path_or_buf.ptr();
    return checked(PyObject_IsInstance(value, reinterpret_cast<PyObject *>(&PyUnicode_Type))) ||
           checked(PyObject_IsInstance(value, process().path_type.ptr()));
}

// `_parse_oc_spice_into_ir` itself; `netlist_keymap` as for `build_ir`.
Reading read_netlist(nb::handle path_or_buf, const nb::dict &components, nb::handle kwargs, Route &route,
                     const nb::dict *netlist_keymap = nullptr) {
    nb::object buf = nb::borrow(path_or_buf);
    bool close_buf = false;
    if (is_path(path_or_buf)) {
        buf = process().open(path_or_buf, "rb");
        close_buf = true;
    }
    Reading reading;
    nb::handle name = close_buf ? path_or_buf : nb::handle();
    try {
        nb::object content;
        try {
            content = close_buf ? file_text(buf) : buf.attr("read")();
        } catch (nb::python_error &error) {
            note_undecodable(error, name);
            throw;
        }
        const bool plain = close_buf && PyBytes_CheckExact(content.ptr());
        if (!plain) content = without_bom(std::move(content));
        reading = read_text(name, content, plain, components, kwargs, route, netlist_keymap);
    } catch (...) {
        if (close_buf) close_quietly(buf);
        throw;
    }
    if (close_buf) buf.attr("close")();
    return reading;
}

// `_parse_oc_spice_into_ir(path_or_buf, component_map, **kwargs)`, for the
// netlist of `keymap`.
Reading read_step(nb::handle path_or_buf, const nb::dict &components, nb::handle kwargs, Route &route,
                  const nb::dict &keymap) {
    if (route.own(Name::_parse_oc_spice_into_ir))
        return read_netlist(path_or_buf, components, kwargs, route, &keymap);
    return Reading::of_pair(
        call_with_kwargs(route.get(Name::_parse_oc_spice_into_ir), {path_or_buf, components}, kwargs));
}

// `_recursive_netlist_from_ir(ir, settings_keymap, comments)`.
nb::object netlist_step(const Reading &reading, const nb::dict &keymap, Route &route) {
    if (!route.own(Name::_recursive_netlist_from_ir)) {
        auto [ir, comments] = unpack_pair(reading.to_python());
        return call_with(route.get(Name::_recursive_netlist_from_ir), {ir, keymap, comments});
    }
    if (reading.own) return netlist_of(*reading.own, keymap, route);
    // What a replaced step returned meets the checks of the next one.
    return netlist_of_records(exact_dict(reading.ir, "_recursive_netlist_from_ir", "ir"), keymap,
                              exact_dict(reading.comments, "_recursive_netlist_from_ir", "comments"), route);
}

nb::dict dict_or_new(nb::handle value) {
    if (value.is_none() || PyDict_GET_SIZE(value.ptr()) == 0) return new_dict();
    return nb::borrow<nb::dict>(value);
}

nb::object parse_oc_spice(nb::handle path_or_buf, nb::handle settings_keymap, nb::handle component_map,
                          nb::kwargs kwargs) {
    if (!is_none_or_exact_dict(settings_keymap))
        raise_arg_type("parse_oc_spice", "settings_keymap", "dict or None", settings_keymap);
    if (!is_none_or_exact_dict(component_map))
        raise_arg_type("parse_oc_spice", "component_map", "dict or None", component_map);
    nb::dict keymap = dict_or_new(settings_keymap);
    nb::dict components = dict_or_new(component_map);

    Route route;
    nb::object result = netlist_step(read_step(path_or_buf, components, kwargs, route, keymap), keymap, route);
    if (!result.is_none() && !PyDict_CheckExact(result.ptr()))
        raise_error(PyExc_TypeError, checked(PyUnicode_FromFormat("Expected dict, got %s", Py_TYPE(result.ptr())->tp_name)));
    return result;
}

nb::object parse_oc_spice_into_ir(nb::handle path_or_buf, nb::handle component_map, nb::kwargs kwargs) {
    nb::dict components = exact_dict(component_map, "_parse_oc_spice_into_ir", "component_map");
    Route route;
    return read_netlist(path_or_buf, components, kwargs, route).to_python();
}

}  // namespace

void def_parse_oc_spice(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &parse_oc_spice, nb::arg("path_or_buf"), nb::arg("settings_keymap") = nb::none(),
          nb::arg("component_map") = nb::none(), nb::arg("kwargs"), nb::sig(signature),
          "Parse OC spice.\n"
          "\n"
          "Read a netlist written in the \"OC spice\" dialect of SPICE and return\n"
          "the netlist of each subcircuit, ready for `sax.circuit`.\n"
          "\n"
          "Args:\n"
          "    path_or_buf: The netlist: a path (text or `pathlib.Path`, read as\n"
          "        UTF-8 and closed again), or a readable text stream, read from\n"
          "        its current position to its end and left open.\n"
          "    settings_keymap: Renames setting keys: a key found in the map is\n"
          "        replaced by its value.  Exactly a dict, or None.\n"
          "    component_map: Renames components (subcircuit names and element\n"
          "        models) as written in the netlist.  Exactly a dict, or None.\n"
          "    **kwargs: Values of the parameters that single-quoted setting\n"
          "        values name.\n"
          "\n"
          "Returns:\n"
          "    A dict from subcircuit name to its netlist, outer subcircuits\n"
          "    first: \"instances\" (name to component and settings),\n"
          "    \"connections\" and \"ports\" (in instance ports such as\n"
          "    \"R1,minus\"), \"placements\" (from `location=` comments) and\n"
          "    what `sax.netlist` adds.  Lengths written in metres become\n"
          "    micrometres.\n"
          "\n"
          "Raises:\n"
          "    ParseError: A netlist error the reader recognises: an unsupported\n"
          "        command, \".ends\" without \".subckt\", a net joining more\n"
          "        than two terminals.\n"
          "    TypeError: An argument of the wrong type, or an instance of a\n"
          "        component whose ports are unknown.\n"
          "    OSError: The file cannot be opened or read.\n"
          "\n"
          "Warns:\n"
          "    ParseWarning: A single-quoted value that names no parameter and is\n"
          "        no literal; it becomes None, to be given when the circuit is\n"
          "        called.");
    publish_signature(m, name);
}

void def_parse_oc_spice_into_ir(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &parse_oc_spice_into_ir, nb::arg("path_or_buf"), nb::arg("component_map"), nb::arg("kwargs"),
          nb::sig(signature));
}

}  // namespace tessel::spiceread

// Reader entry: `parse_oc_spice` and `_parse_oc_spice_into_ir`.
//
// Argument checks, opening a path (or taking the caller's stream), the single
// `read`, and closing exactly what was opened here, also on failure.
#include "spiceread/module.hpp"

#include "common/checks.hpp"
#include "common/signatures.hpp"
#include "common/unpack.hpp"
#include "spiceread/assembly.hpp"
#include "spiceread/ir.hpp"
#include "spiceread/lines.hpp"

namespace tessel::spiceread {

namespace {

ModuleName k_parse_oc_spice_into_ir{scope(), "_parse_oc_spice_into_ir"};
ModuleName k_recursive_netlist_from_ir{scope(), "_recursive_netlist_from_ir"};
ModuleName k_iter_relevant_lines{scope(), "_iter_relevant_lines"};
ModuleName k_parse_into_ir{scope(), "_parse_into_ir"};

template <typename... Args>
nb::object call_with_kwargs(nb::handle fn, nb::handle kwargs, Args &&...args) {
    return call_with_kwargs_copy(fn, nb::make_tuple(std::forward<Args>(args)...), kwargs);
}

nb::dict dict_or_new(nb::handle value) {
    if (value.is_none() || PyDict_GET_SIZE(value.ptr()) == 0) return nb::dict();
    return nb::borrow<nb::dict>(value);
}

nb::object read_ir(nb::handle path_or_buf, nb::handle component_map, nb::kwargs kwargs,
                   bool *built_here);

nb::object parse_oc_spice(nb::handle path_or_buf, nb::handle settings_keymap,
                          nb::handle component_map, nb::kwargs kwargs) {
    if (!is_none_or_exact_dict(settings_keymap))
        raise_arg_type("parse_oc_spice", "settings_keymap", "dict or None",
                       settings_keymap);
    if (!is_none_or_exact_dict(component_map))
        raise_arg_type("parse_oc_spice", "component_map", "dict or None",
                       component_map);
    nb::dict keymap = dict_or_new(settings_keymap);
    nb::dict components = dict_or_new(component_map);

    nb::object into_ir = k_parse_oc_spice_into_ir.get();
    bool built_here = false;
    nb::object parsed =
        k_parse_oc_spice_into_ir.is_original(into_ir)
            ? read_ir(path_or_buf, components, kwargs, &built_here)
            : call_with_kwargs(into_ir, kwargs, path_or_buf, components);
    auto [ir, comments] = unpack_pair(parsed);

    // An IR that this call's own builder made is seen by nobody else, so the
    // netlist may take over its records' settings dicts.
    nb::object to_netlist = k_recursive_netlist_from_ir.get();
    nb::object result = k_recursive_netlist_from_ir.is_original(to_netlist)
                            ? recursive_netlist_from_ir(ir, keymap, comments, built_here)
                            : to_netlist(ir, keymap, comments);
    if (!result.is_none() && !PyDict_CheckExact(result.ptr())) {
        PyErr_Format(PyExc_TypeError, "Expected dict, got %s",
                     Py_TYPE(result.ptr())->tp_name);
        throw nb::python_error();
    }
    return result;
}

// Closes a file this call opened when reading or parsing fails; the failure
// is what the caller sees.
void close_quietly(nb::handle file) noexcept {
    nb::object closed = nb::steal(PyObject_CallMethod(file.ptr(), "close", nullptr));
    if (!closed.is_valid()) PyErr_WriteUnraisable(file.ptr());
}

nb::object parse_oc_spice_into_ir(nb::handle path_or_buf, nb::handle component_map,
                                  nb::kwargs kwargs) {
    return read_ir(path_or_buf, component_map, std::move(kwargs), nullptr);
}

// `_parse_oc_spice_into_ir`; `built_here` (when given) tells whether the
// module's own builder made the IR.
nb::object read_ir(nb::handle path_or_buf, nb::handle component_map, nb::kwargs kwargs,
                   bool *built_here) {
    nb::dict components =
        exact_dict(component_map, "_parse_oc_spice_into_ir", "component_map");

    // Kept for the life of the process: no destructor may run after the
    // interpreter has gone.
    static nb::handle path_type =
        nb::object(nb::module_::import_("pathlib").attr("Path")).release();
    static nb::handle open = nb::object(nb::module_::import_("io").attr("open")).release();

    nb::object buf = nb::borrow(path_or_buf);
    bool close_buf = false;
    if (PyUnicode_Check(path_or_buf.ptr()) ||
        PyObject_IsInstance(path_or_buf.ptr(), path_type.ptr()) == 1) {
        buf = open(path_or_buf, "r", nb::arg("encoding") = "utf-8");
        close_buf = true;
    }

    nb::object result;
    try {
        nb::object content = buf.attr("read")();
        // With the module's own stages the stream is the fused scanner and
        // the builder reads it as UTF-8: no host object per line or word.
        nb::object iter_lines = k_iter_relevant_lines.get();
        nb::object lines = k_iter_relevant_lines.is_original(iter_lines)
                               ? iter_relevant_lines(content)
                               : iter_lines(content);
        nb::object into_ir = k_parse_into_ir.get();
        bool own_builder = k_parse_into_ir.is_original(into_ir);
        nb::object parsed = own_builder
                                ? parse_into_ir(lines, components, kwargs)
                                : call_with_kwargs(into_ir, kwargs, lines, components);
        if (built_here) *built_here = own_builder;
        auto [ir, comments] = unpack_pair(parsed);
        result = nb::make_tuple(ir, comments);
    } catch (...) {
        if (close_buf) close_quietly(buf);
        throw;
    }
    if (close_buf) buf.attr("close")();
    return result;
}

}  // namespace

void def_parse_oc_spice(nb::module_ &m) {
    m.def("parse_oc_spice", &parse_oc_spice, nb::arg("path_or_buf"),
          nb::arg("settings_keymap") = nb::none(),
          nb::arg("component_map") = nb::none(), nb::arg("kwargs"),
          nb::sig("def parse_oc_spice(path_or_buf: str | pathlib.Path | typing.TextIO, "
                  "settings_keymap: dict[str, str] | None = None, "
                  "component_map: dict[str, str] | None = None, "
                  "**kwargs: typing.Any) -> dict[str, typing.Any]"),
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
    tessel::publish_signature(m, "parse_oc_spice");
}

void def_parse_oc_spice_into_ir(nb::module_ &m) {
    m.def("_parse_oc_spice_into_ir", &parse_oc_spice_into_ir,
          nb::arg("path_or_buf"), nb::arg("component_map"), nb::arg("kwargs"));
}

}  // namespace tessel::spiceread

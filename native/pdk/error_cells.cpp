// Error factories and the resolution of statically found cells:
// `_error_cell`, `_handle_import_errors` (files that failed to import) and
// `_find_cells` (cells looked up in their imported modules).
//
// An error factory stands in the PDK for a cell that cannot be built: calling
// it raises the stored error, so the failure surfaces where the cell is used
// rather than aborting registration.
#include "common/checks.hpp"
#include "common/unpack.hpp"
#include "pdk/module.hpp"

namespace tessel::pdk {

namespace {


// The class of error factories, made at load and kept for the process.  It is
// not bound in the module's namespace, which holds exactly the module's
// surface; `type(cell)` reaches it.
PyObject *g_error_cell_type = nullptr;

void error_cell_call(nb::handle self, nb::args, nb::kwargs) {
    nb::object error = self.attr("error");
    if (!PyExceptionInstance_Check(error.ptr()))
        raise_error(PyExc_TypeError, nb::str("exceptions must derive from BaseException"));
    // Always the same exception object, as a closure raising it would.
    PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.ptr())), error.ptr());
    throw nb::python_error();
}

nb::str error_cell_repr(nb::handle self) {
    return nb::str("<error cell {} of {}: {!r}>")
        .format(self.attr("__qualname__"), self.attr("__module__"), self.attr("error"));
}

nb::object make_error_cell_type(nb::handle m) {
    nb::dict ns = class_namespace(m, "ErrorCell",
                                  "A cell factory that raises the error that kept the real factory "
                                  "from being found (the error is kept as `error`).");
    ns["__call__"] = nb::cpp_function(&error_cell_call, nb::is_method(),
                                      nb::name("__call__"));
    ns["__repr__"] = nb::cpp_function(&error_cell_repr, nb::is_method(),
                                      nb::name("__repr__"));
    nb::handle type_type(reinterpret_cast<PyObject *>(&PyType_Type));
    return type_type("ErrorCell", nb::tuple(), ns);
}

nb::object error_cell(nb::handle funcname_arg, nb::handle modname_arg, nb::handle error_arg) {
    nb::str funcname = arg_str(funcname_arg, "_error_cell", "funcname");
    nb::str modname = arg_str(modname_arg, "_error_cell", "modname");
    nb::object error = nb::borrow(error_arg);
    if (PyUnicode_Check(error.ptr()))
        error = nb::handle(PyExc_RuntimeError)(error);

    nb::object func = nb::handle(g_error_cell_type)();
    func.attr("error") = error;
    func.attr("__name__") = funcname;
    func.attr("__qualname__") = funcname;
    func.attr("__module__") = modname;
    nb::dict annotations;
    annotations["return"] = names::mw.get().attr("Component");
    func.attr("__annotations__") = annotations;
    return func;
}

nb::object call_error_cell(nb::handle name, nb::handle modname, nb::handle error) {
    return names::_error_cell.get()(name, modname, error);
}

// `get_cells_from_regex(path)`, or [] when the scan fails with an Exception.
// The result is read out inside the guard, so a scan written as a generator
// is covered too.
nb::list regex_names(nb::handle imports, nb::handle path) {
    try {
        return nb::list(imports.attr("get_cells_from_regex")(path));
    } catch (nb::python_error &e) {
        if (!e.matches(PyExc_Exception)) throw;
        return nb::list();
    }
}

std::pair<nb::dict, nb::dict> handle_import_errors(nb::dict static_records, nb::dict errors) {
    nb::dict error_cells, error_records;

    nb::dict static_records_by_path;
    for (nb::handle record : static_records.values()) {
        nb::object path = record.attr("absolute_source")();
        nb::object records = dict_get(static_records_by_path, path);
        if (!records.is_valid()) {
            records = nb::list();
            static_records_by_path[path] = records;
        }
        nb::borrow<nb::list>(records).append(record);
    }

    nb::object imports = names::imports.get();
    nb::object factory_record = names::m.get().attr("FactoryRecord");
    nb::object deepcopy = names::deepcopy.get();
    for (nb::handle item : errors.items()) {
        nb::object path = item[0];
        auto [modname, error] = unpack_pair(item[1]);
        nb::str error_text = nb::str(error);
        log_warning(concat({format_text(path.attr("name")), nb::str(": "), format_text(error)}));

        nb::object names_found = nb::steal(PySet_New(regex_names(imports, path).ptr()));
        if (!names_found.is_valid()) throw nb::python_error();
        nb::object listed = dict_get(static_records_by_path, path);
        if (listed.is_valid())
            for (nb::handle record : listed)
                if (PySet_Add(names_found.ptr(), record.attr("name").ptr()) < 0)
                    throw nb::python_error();

        for (nb::handle name : names_found) {
            error_cells[name] = call_error_cell(name, modname, error);
            nb::object record = dict_get(static_records, name);
            if (!record.is_valid()) {
                record = factory_record(nb::arg("name") = name,
                                        nb::arg("source") = nb::str(path),
                                        nb::arg("status") = "ERROR",
                                        nb::arg("message") = error_text);
            } else {
                record = deepcopy(record);
                record.attr("status") = "ERROR";
                record.attr("message") = error_text;
            }
            error_records[name] = record;
        }
    }
    return {error_cells, error_records};
}

nb::tuple handle_import_errors_entry(nb::handle static_records, nb::handle errors) {
    auto [error_cells, error_records] = handle_import_errors(
        arg_dict(static_records, "_handle_import_errors", "static_records"),
        arg_dict(errors, "_handle_import_errors", "errors"));
    return nb::make_tuple(error_cells, error_records);
}

// Marks `record` failed with `message`, logs it and returns an error factory
// raising ImportError(message).
nb::object unresolved(nb::handle name, nb::handle record, nb::handle path, nb::str message) {
    record.attr("status") = "ERROR";
    record.attr("message") = message;
    log_warning(message);
    nb::object error = nb::handle(PyExc_ImportError)(message);
    return call_error_cell(name, path.attr("name"), error);
}

nb::dict find_cells(nb::handle static_records_arg, nb::handle modules_arg) {
    nb::dict static_records = arg_dict(static_records_arg, "_find_cells", "static_records");
    nb::dict modules = arg_dict(modules_arg, "_find_cells", "modules");
    nb::str unknown("UNKNOWN");
    nb::dict new_cells;

    for (nb::handle item : static_records.items()) {
        nb::object name = item[0], static_record = item[1];
        if (!equals(static_record.attr("status"), unknown)) continue;
        nb::object path = static_record.attr("absolute_source")();
        nb::object mod = dict_get(modules, path);
        if (!mod.is_valid()) mod = nb::none();

        if (mod.is_none()) {
            // Not among the imported files (filtered out by `paths`): import
            // it alone, without reloading, and keep it for later records of
            // the same file.
            nb::list one_path;
            one_path.append(path);
            nb::object result = names::imports.get().attr("import_modules")(
                nb::arg("paths") = one_path, nb::arg("reload") = false,
                nb::arg("from_project") = false);
            nb::object extra_modules = unpack_pair(result).first;
            modules.attr("update")(extra_modules);
            mod = extra_modules.attr("get")(path);
        }

        nb::object record_name = static_record.attr("name");
        if (mod.is_none()) {
            nb::str message = concat({nb::str("Module for cell '"), format_text(record_name),
                                      nb::str("' with path "), format_text(path),
                                      nb::str(" not found.")});
            new_cells[name] = unresolved(name, static_record, path, message);
            continue;
        }
        nb::object cell = optional_attr(mod, name);
        if (!cell.is_valid() || cell.is_none()) {
            nb::str message = concat({nb::str("Cell '"), format_text(record_name),
                                      nb::str("' not found in '"), format_text(path),
                                      nb::str("'.")});
            new_cells[name] = unresolved(name, static_record, path, message);
            continue;
        }
        new_cells[name] = cell;
    }
    return new_cells;
}

}  // namespace

void def_error_cell(nb::module_ &m) {
    g_error_cell_type = make_error_cell_type(m).release().ptr();
    m.def("_error_cell", &error_cell, nb::arg("funcname").none(),
          nb::arg("modname").none(), nb::arg("error").none(),
          nb::sig("def _error_cell(funcname: str, modname: str, error: str | BaseException) "
                  "-> Callable[..., morrow.Component]"),
          "Return a factory named `funcname` (module `modname`) that raises "
          "`error` (a text becomes a RuntimeError) whenever called.");
}

void def_handle_import_errors(nb::module_ &m) {
    m.def("_handle_import_errors", &handle_import_errors_entry,
          nb::arg("static_records").none(), nb::arg("errors").none(),
          nb::sig("def _handle_import_errors(static_records: dict, errors: dict) -> tuple[dict, dict]"),
          "Return error factories and 'ERROR' records for every cell of the "
          "files that failed to import, found statically or by text search.");
}

void def_find_cells(nb::module_ &m) {
    m.def("_find_cells", &find_cells, nb::arg("static_records").none(),
          nb::arg("modules").none(),
          nb::sig("def _find_cells(static_records: dict, modules: dict) -> dict"),
          "Return the factories of the 'UNKNOWN' records, looked up in their "
          "modules; records that cannot be resolved are marked 'ERROR' and "
          "get error factories.");
}

}  // namespace tessel::pdk

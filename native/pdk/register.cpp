// Cell registration: `register_cells`, the entry that brings the active PDK
// and the factory database up to date with the project's cell factories, and
// the import of the files that define them (`_sort_paths`, `_import_modules`).
//
// Every step goes through the module's names (its own functions and the lazy
// bindings of the host services), so each can be replaced in isolation.
#include "common/checks.hpp"
#include "common/signatures.hpp"
#include "common/unpack.hpp"
#include "pdk/module.hpp"

namespace tessel::pdk {

namespace {

// `f(*items)`.
nb::object call_spread(nb::handle func, nb::handle items) {
    nb::tuple args(items);
    PyObject *result = PyObject_CallObject(func.ptr(), args.ptr());
    if (!result) throw nb::python_error();
    return nb::steal(result);
}

nb::tuple register_cells(nb::handle paths_arg, nb::handle reload_arg) {
    // Paths are matched by equality with the records' absolute sources, so
    // they are made absolute and normalised the same way here; a relative
    // or textual path would otherwise match nothing.
    nb::object path_type = names::Path.get();
    nb::list paths;
    for (nb::handle p : paths_arg) paths.append(path_type(p).attr("resolve")());
    bool reload = truthy(reload_arg);

    nb::object pdk = names::get_pdk.get()();
    nb::object cg = names::cg.get();
    nb::object G = cg.attr("create_callgraph")();
    nb::object static_records = cg.attr("get_static_records")(G, nb::arg("paths") = paths);

    auto [modules, errors] = unpack_pair(names::_import_modules.get()(
        static_records, paths, nb::arg("reload") = reload));
    auto [error_cells, error_records] =
        unpack_pair(names::_handle_import_errors.get()(static_records, errors));
    static_records.attr("update")(error_records);
    nb::object new_cells = names::_find_cells.get()(static_records, modules);

    nb::object cells = pdk.attr("cells");
    cells.attr("update")(new_cells);
    // An error factory wins over a cell of the same name resolved elsewhere.
    cells.attr("update")(error_cells);

    nb::object db = names::db.get();
    nb::object present_records =
        nb::len(paths) ? call_spread(db.attr("get_factories_by_name"), static_records)
                       : db.attr("get_all_factories")();
    auto [add, remove] = unpack_pair(
        names::_get_database_updates.get()(static_records, present_records, paths));
    call_spread(db.attr("add_factories"), add);
    call_spread(db.attr("remove_factories"), remove);

    for (nb::handle name : remove)
        if (contains(cells, name)) nb::del(cells[name]);
    nb::list added;
    for (nb::handle r : add) added.append(r.attr("name"));

    if (reload) names::register_models.get()(G, nb::arg("reload") = true);
    names::_clean_containers_also_in_cells.get()(pdk);
    return nb::make_tuple(added, remove);
}

nb::list sort_paths(nb::handle paths_arg) {
    nb::object path_type = names::Path.get();
    nb::list paths;
    for (nb::handle p : paths_arg) paths.append(path_type(p).attr("resolve")());

    // Key (depth, text length, text): shallow files first, then shorter
    // names, so a package's modules come before its subpackages'.
    // The position breaks full ties, which keeps the sort stable.
    nb::list keyed;
    size_t position = 0;
    for (nb::handle p : paths) {
        nb::str text(p);
        keyed.append(nb::make_tuple(nb::len(nb::object(p.attr("parts"))), nb::len(text), text, position++));
    }
    if (PyList_Sort(keyed.ptr()) < 0) throw nb::python_error();
    nb::list sorted;
    for (nb::handle entry : keyed) sorted.append(paths[nb::cast<size_t>(entry[3])]);
    return sorted;
}

// `{p: mapping.get(p) for p in order if mapping.get(p)}`
nb::dict in_order(nb::handle mapping, nb::handle order) {
    nb::dict result;
    nb::object get = mapping.attr("get");
    for (nb::handle p : order) {
        nb::object value = get(p);
        if (truthy(value)) result[p] = value;
    }
    return result;
}

nb::tuple import_modules(nb::handle static_records_arg, nb::handle paths_arg,
                         nb::handle reload) {
    nb::dict static_records = arg_dict(static_records_arg, "_import_modules", "static_records");
    nb::list paths = arg_list(paths_arg, "_import_modules", "paths");

    // Distinct sources in record order; a dict keeps the first occurrence.
    nb::dict seen;
    for (nb::handle record : static_records.values())
        seen[record.attr("absolute_source")()] = nb::none();
    nb::list _paths;
    for (nb::handle p : seen.keys())
        if (!nb::len(paths) || contains(paths, p)) _paths.append(p);

    nb::object result = names::imports.get().attr("import_modules")(
        nb::arg("paths") = names::_sort_paths.get()(_paths),
        nb::arg("reload") = reload, nb::arg("from_project") = false);
    auto [modules, errors] = unpack_pair(result);
    return nb::make_tuple(in_order(modules, _paths), in_order(errors, _paths));
}

}  // namespace

void def_register_cells(nb::module_ &m) {
    m.def("register_cells", &register_cells, nb::kw_only(),
          nb::arg("paths").none() = nb::tuple(), nb::arg("reload").none() = true,
          nb::sig("def register_cells(*, paths: Iterable[Path] = (), reload: bool = True) "
                  "-> tuple[list[str], list[str]]"),
          "Register the project's cell factories into the active PDK and the\n"
          "factory database.\n"
          "\n"
          "Cell factories (functions decorated with `morrow.cell`) are found\n"
          "without importing anything, then their files are imported, shallow\n"
          "paths first.  A file that fails to import does not stop the others:\n"
          "its cells become factories that raise its error when called, and\n"
          "their records are stored with status \"ERROR\".\n"
          "\n"
          "Args:\n"
          "    paths: Files to register; empty (the default) means the whole\n"
          "        project.  Stored factories of other files are then left as\n"
          "        they are.\n"
          "    reload: Re-execute files already imported and re-register the\n"
          "        project's models.\n"
          "\n"
          "Returns:\n"
          "    (names of the factories added or updated in the database, names\n"
          "    removed from it).\n"
          "\n"
          "Raises:\n"
          "    TypeError: A positional argument was given.\n"
          "    ImportError: The PDK cannot be imported (see `get_pdk`).");
    publish_signature(m, "register_cells");
}

void def_sort_paths(nb::module_ &m) {
    m.def("_sort_paths", &sort_paths, nb::arg("paths").none(),
          nb::sig("def _sort_paths(paths: Iterable[Path | str]) -> list[Path]"),
          "Resolve `paths` and sort them shallow first, then by length and "
          "text.");
}

void def_import_modules(nb::module_ &m) {
    m.def("_import_modules", &import_modules, nb::arg("static_records").none(),
          nb::arg("paths").none(), nb::arg("reload").none() = true,
          nb::sig("def _import_modules(static_records: dict, paths: list, reload: bool = True) "
                  "-> tuple[dict, dict]"),
          "Import the files of `static_records` (those listed in `paths` when "
          "it is not empty); return (modules, errors) by path, in record "
          "order.");
}

}  // namespace tessel::pdk

// Reconciling the project with the factory database (`_get_database_updates`)
// and tidying the PDK's tables after registration
// (`_clean_containers_also_in_cells`).
#include "common/checks.hpp"
#include "pdk/module.hpp"

namespace tessel::pdk {

namespace {

nb::object key_set(nb::handle mapping) {
    PyObject *keys = PySet_New(mapping.ptr());
    if (!keys) throw nb::python_error();
    return nb::steal(keys);
}

nb::object set_op(PyObject *(*op)(PyObject *, PyObject *), nb::handle a, nb::handle b) {
    PyObject *result = op(a.ptr(), b.ptr());
    if (!result) throw nb::python_error();
    return nb::steal(result);
}

nb::list sorted_list(nb::handle items) {
    nb::list result(items);
    if (PyList_Sort(result.ptr()) < 0) throw nb::python_error();
    return result;
}

void log_names(const char *label, nb::handle names) {
    log_info(concat({nb::str(label), format_text(sorted_list(names))}));
}

nb::tuple get_database_updates(nb::handle static_arg, nb::handle present_arg,
                               nb::handle paths_arg) {
    const char *func = "_get_database_updates";
    nb::dict static_records = arg_dict(static_arg, func, "static_records");
    nb::dict present_records = arg_dict(present_arg, func, "present_records");
    nb::list paths = arg_list(paths_arg, func, "paths");

    nb::object static_names = key_set(static_records);
    nb::object present_names = key_set(present_records);

    nb::object new_record_names = set_op(PyNumber_Subtract, static_names, present_names);
    log_names("new factories: ", new_record_names);
    nb::list new_records;
    for (nb::handle name : new_record_names) new_records.append(static_records[name]);

    nb::object updated_record_names = set_op(PyNumber_And, static_names, present_names);
    nb::list updated_records;
    nb::str error("ERROR");
    for (nb::handle name : updated_record_names) {
        nb::object r = static_records[name], stored = present_records[name];
        // Every stored record of a file registered explicitly is rewritten.
        if (!equals(r.attr("source"), stored.attr("source")) ||
            contains(paths, r.attr("absolute_source")())) {
            updated_records.append(r);
            continue;
        }
        // The stored status and message are kept over the project's
        // unresolved "UNKNOWN" record.  A failure found by this very
        // registration is news, though: carried over, a stored "UNKNOWN"
        // would report a file that no longer imports as fine.
        if (!equals(r.attr("status"), error)) {
            r.attr("status") = stored.attr("status");
            r.attr("message") = stored.attr("message");
        }
        if (equals(r, stored)) continue;
        updated_records.append(r);
    }
    nb::object updated_names = nb::steal(PySet_New(nullptr));
    for (nb::handle r : updated_records)
        if (PySet_Add(updated_names.ptr(), r.attr("name").ptr()) < 0) throw nb::python_error();
    log_names("updated factories: ", updated_names);

    nb::object deleted_record_names = set_op(PyNumber_Subtract, present_names, static_names);
    log_names("removed factories: ", deleted_record_names);

    nb::list add = new_records;
    add.extend(updated_records);
    nb::object sorted = nb::module_::import_("builtins").attr("sorted");
    nb::object by_name = nb::module_::import_("operator").attr("attrgetter")("name");
    nb::object add_sorted = sorted(add, nb::arg("key") = by_name);
    return nb::make_tuple(add_sorted, sorted_list(deleted_record_names));
}

// The factory's `__module__`; a missing one counts as empty.
nb::object module_of(nb::handle factory) {
    nb::object mod = optional_attr(factory, "__module__");
    return mod.is_valid() ? mod : nb::str("");
}

bool starts_with(nb::handle text, nb::handle prefix) {
    return truthy(text.attr("startswith")(prefix));
}

void clean_containers_also_in_cells(nb::handle pdk) {
    nb::object name = names::settings.get().attr("get_project_name")();
    nb::str prefix = concat({format_text(name), nb::str(".")});
    nb::object containers = pdk.attr("containers");
    nb::object cells = pdk.attr("cells");

    // Snapshot: entries are deleted as the loop goes.  After a deletion the
    // name is settled and the loop moves on.
    nb::list keys(containers);
    for (nb::handle k : keys) {
        if (!contains(cells, k)) continue;
        nb::object container = containers[k], cell = cells[k];
        if (container.is(cell)) {
            nb::del(cells[k]);
            continue;
        }
        nb::object container_mod = module_of(container);
        if (!truthy(container_mod)) {
            nb::del(containers[k]);
            continue;
        }
        nb::object cell_mod = module_of(cell);
        if (!truthy(cell_mod)) {
            nb::del(cells[k]);
            continue;
        }
        // Whatever the project itself defines wins.
        if (starts_with(container_mod, prefix)) {
            nb::del(cells[k]);
            continue;
        }
        if (starts_with(cell_mod, prefix)) {
            nb::del(containers[k]);
            continue;
        }
        // Neither belongs to the project: the cell wins.
        if (contains(containers, k) && contains(cells, k)) nb::del(containers[k]);
    }
}

}  // namespace

void def_get_database_updates(nb::module_ &m) {
    m.def("_get_database_updates", &get_database_updates,
          nb::arg("static_records").none(), nb::arg("present_records").none(),
          nb::arg("paths").none(),
          nb::sig("def _get_database_updates(static_records: dict, present_records: dict, "
                  "paths: list) -> tuple[list, list[str]]"),
          "Compare the project's records with the stored ones; return (records "
          "to write sorted by name, names to delete sorted).");
}

void def_clean_containers_also_in_cells(nb::module_ &m) {
    m.def("_clean_containers_also_in_cells", &clean_containers_also_in_cells,
          nb::arg("pdk").none(),
          nb::sig("def _clean_containers_also_in_cells(pdk: morrow.Pdk) -> None"),
          "Leave each name that is both a container and a cell of `pdk` in one "
          "table only, preferring what the project defines.");
}

}  // namespace tessel::pdk

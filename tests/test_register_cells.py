"""Cell registration: the steps of `register_cells` with the host services replaced by fakes.

The fakes stand in for the call graph, the importer, the database, the record
type and the model registry in the module's namespace, so each step's effects
(what is imported, which records are written, what ends up in the PDK) are
observed in isolation.
"""

from __future__ import annotations

import copy
import dataclasses
import logging
import types
from collections import defaultdict
from pathlib import Path

import pytest

import morrow
import tessel.core.pdk as pdk


@dataclasses.dataclass
class Record:
    """Stand-in for the host's factory record: equality over all fields."""

    name: str
    source: str
    status: str = "UNKNOWN"
    message: str = ""

    def absolute_source(self) -> Path:
        return Path(self.source)


class FakeImports:
    """Importer whose outcome per path is a module namespace or an exception."""

    def __init__(self, events):
        self.events = events
        self.outcomes = {}
        self.regex = {}
        self.calls = []

    def import_modules(self, *, paths, reload, from_project):
        self.events.append("import_modules")
        self.calls.append((list(paths), reload, from_project))
        modules, errors = {}, {}
        for p in paths:
            outcome = self.outcomes.get(p)
            if isinstance(outcome, BaseException):
                errors[p] = (f"proj.{p.stem}", outcome)
            elif outcome is not None:
                modules[p] = outcome
        return modules, errors

    def get_cells_from_regex(self, path):
        self.events.append("get_cells_from_regex")
        found = self.regex.get(path, [])
        if isinstance(found, BaseException):
            raise found
        return found


class FakeDatabase:
    def __init__(self, events):
        self.events = events
        self.store = {}
        self.calls = []

    def get_factories_by_name(self, *names):
        self.events.append("get_factories_by_name")
        self.calls.append(("get_factories_by_name", names))
        return {n: copy.deepcopy(self.store[n]) for n in names if n in self.store}

    def get_all_factories(self):
        self.events.append("get_all_factories")
        return copy.deepcopy(self.store)

    def add_factories(self, *records):
        self.events.append("add_factories")
        self.calls.append(("add_factories", records))
        self.store.update({r.name: copy.deepcopy(r) for r in records})

    def remove_factories(self, *names):
        self.events.append("remove_factories")
        self.calls.append(("remove_factories", names))
        for n in names:
            self.store.pop(n, None)


@pytest.fixture
def host(tmp_path, monkeypatch):
    """Replace every host service of the module; return the fakes and the active PDK."""
    events = []
    root = tmp_path.resolve()
    env = types.SimpleNamespace(root=root, events=events, static=[], model_calls=[])
    env.imports = FakeImports(events)
    env.db = FakeDatabase(events)
    env.pdk = morrow.Pdk(name="fake")

    def get_static_records(G, *, paths):
        events.append("get_static_records")
        assert G == "G"
        records = {r.name: copy.deepcopy(r) for r in env.static}
        return {n: r for n, r in records.items() if not paths or r.absolute_source() in paths}

    def get_pdk():
        events.append("get_pdk")
        return env.pdk

    def create_callgraph():
        events.append("create_callgraph")
        return "G"

    def register_models(G, *, reload):
        events.append("register_models")
        env.model_calls.append((G, reload))

    def get_project_name():
        events.append("get_project_name")
        return "proj"

    monkeypatch.setattr(pdk, "m", types.SimpleNamespace(FactoryRecord=Record))
    monkeypatch.setattr(pdk, "cg", types.SimpleNamespace(
        create_callgraph=create_callgraph, get_static_records=get_static_records))
    monkeypatch.setattr(pdk, "imports", env.imports)
    monkeypatch.setattr(pdk, "db", env.db)
    monkeypatch.setattr(pdk, "register_models", register_models)
    monkeypatch.setattr(pdk, "settings", types.SimpleNamespace(get_project_name=get_project_name))
    monkeypatch.setattr(pdk, "get_pdk", get_pdk)

    def source(relative):
        return str(root / relative)

    def module(relative, **cells):
        """A module of the project at `relative` defining `cells`."""
        namespace = types.SimpleNamespace(**cells)
        env.imports.outcomes[root / relative] = namespace
        return namespace

    env.source, env.module = source, module
    return env


def cell_in(module_name):
    def factory():
        return morrow.Component()

    factory.__module__ = module_name
    return factory


# _sort_paths


def test_sort_paths_puts_shallow_then_short_paths_first(tmp_path):
    root = tmp_path.resolve()
    given = [root / "a/b/c.py", root / "a/z.py", root / "a/bb.py"]
    assert pdk._sort_paths(given) == [root / "a/z.py", root / "a/bb.py", root / "a/b/c.py"]


def test_sort_paths_resolves_and_keeps_duplicates(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    root = tmp_path.resolve()
    assert pdk._sort_paths(iter(["x/../b.py", str(root / "b.py"), Path("aa.py")])) == [
        root / "b.py", root / "b.py", root / "aa.py"]


# _error_cell


@pytest.mark.parametrize("error", ["it broke", type("Text", (str,), {})("it broke"), ValueError("it broke")])
def test_error_cell_raises_the_same_error_whatever_the_arguments(error):
    func = pdk._error_cell("wg", "proj.cells", error)
    with pytest.raises(RuntimeError if isinstance(error, str) else ValueError) as first:
        func()
    with pytest.raises(Exception) as second:
        func(1, 2, width=3)
    assert first.value is second.value and str(first.value) == "it broke"
    assert (func.__name__, func.__qualname__, func.__module__) == ("wg", "wg", "proj.cells")
    assert func.__annotations__ == {"return": morrow.Component}


# _import_modules


def test_shared_file_is_imported_once_shallow_files_first(host):
    host.static = [
        Record("deep", host.source("pkg/sub/deep.py")),
        Record("a", host.source("pkg/cells.py")),
        Record("b", host.source("pkg/cells.py")),
    ]
    host.module("pkg/sub/deep.py", deep=len)
    host.module("pkg/cells.py", a=abs, b=max)
    records = {r.name: r for r in host.static}

    modules, errors = pdk._import_modules(records, [], reload=False)

    assert host.imports.calls == [
        ([host.root / "pkg/cells.py", host.root / "pkg/sub/deep.py"], False, False)]
    # Results come back in record order, not import order.
    assert list(modules) == [host.root / "pkg/sub/deep.py", host.root / "pkg/cells.py"]
    assert errors == {}
    assert pdk._find_cells(records, modules) == {"deep": len, "a": abs, "b": max}
    assert len(host.imports.calls) == 1


def test_paths_only_filter_the_statically_found_files(host):
    host.static = [Record("a", host.source("a.py")), Record("b", host.source("b.py"))]
    host.module("a.py", a=abs)
    host.module("b.py", b=abs)
    records = {r.name: r for r in host.static}
    unknown = host.root / "not_found_statically.py"
    host.module("not_found_statically.py")

    modules, _ = pdk._import_modules(records, [host.root / "b.py", unknown])

    assert host.imports.calls == [([host.root / "b.py"], True, False)]
    assert list(modules) == [host.root / "b.py"]


# _handle_import_errors


def test_failing_file_turns_every_known_cell_into_an_error(host, caplog):
    failing = host.root / "broken.py"
    error = SyntaxError("invalid syntax")
    host.imports.outcomes[failing] = error
    host.imports.regex[failing] = ["static_one", "regex_only"]
    host.static = [Record("static_one", str(failing)), Record("static_two", str(failing)),
                   Record("fine", host.source("fine.py"))]
    records = {r.name: r for r in host.static}
    caplog.set_level(logging.WARNING, logger="tessel")

    _, errors = pdk._import_modules(records, [])
    error_cells, error_records = pdk._handle_import_errors(records, errors)

    assert set(error_cells) == set(error_records) == {"static_one", "static_two", "regex_only"}
    for name, func in error_cells.items():
        with pytest.raises(SyntaxError) as raised:
            func()
        assert raised.value is error and func.__module__ == "proj.broken"
    assert error_records["regex_only"] == Record("regex_only", str(failing), "ERROR", str(error))
    assert error_records["static_one"] == Record("static_one", str(failing), "ERROR", str(error))
    # The project's own records are left alone here.
    assert records["static_one"].status == "UNKNOWN"
    assert [r.getMessage() for r in caplog.records] == ["broken.py: invalid syntax"]


@pytest.mark.parametrize("regex_failure", [OSError("unreadable"), ValueError("bad pattern")])
def test_failing_text_search_is_ignored(host, regex_failure):
    failing = host.root / "broken.py"
    host.imports.regex[failing] = regex_failure
    records = {"a": Record("a", str(failing))}
    cells, _ = pdk._handle_import_errors(records, {failing: ("proj.broken", ImportError("x"))})
    assert list(cells) == ["a"]


def test_interrupt_during_text_search_is_not_swallowed(host):
    failing = host.root / "broken.py"
    host.imports.regex[failing] = KeyboardInterrupt()
    with pytest.raises(KeyboardInterrupt):
        pdk._handle_import_errors({}, {failing: ("proj.broken", ImportError("x"))})


# _find_cells


def test_records_already_in_error_are_neither_imported_nor_looked_up(host):
    records = {"bad": Record("bad", host.source("gone.py"), "ERROR", "earlier")}
    assert pdk._find_cells(records, {}) == {}
    assert host.imports.calls == []


def test_file_outside_the_imported_ones_is_imported_once_without_reload(host):
    host.module("late.py", x=abs, y=max)
    records = {"x": Record("x", host.source("late.py")), "y": Record("y", host.source("late.py"))}
    modules = {}
    assert pdk._find_cells(records, modules) == {"x": abs, "y": max}
    assert host.imports.calls == [([host.root / "late.py"], False, False)]
    assert list(modules) == [host.root / "late.py"]


@pytest.mark.parametrize("has_module, message", [
    (False, "Module for cell 'wg' with path {path} not found."),
    (True, "Cell 'wg' not found in '{path}'."),
])
def test_unresolved_cell_is_marked_and_replaced_by_an_import_error(host, caplog, has_module, message):
    path = host.root / "cells.py"
    if has_module:
        host.module("cells.py", other=abs)
    record = Record("wg", str(path))
    caplog.set_level(logging.WARNING, logger="tessel")

    cells = pdk._find_cells({"wg": record}, {})

    expected = message.format(path=path)
    assert (record.status, record.message) == ("ERROR", expected)
    with pytest.raises(ImportError, match="^" + expected.replace("(", r"\(") + "$"):
        cells["wg"]()
    assert cells["wg"].__module__ == "cells.py"
    assert [r.getMessage() for r in caplog.records] == [expected]


# _get_database_updates


def test_database_updates(host, caplog):
    src = host.source
    static = {
        "new_b": Record("new_b", src("n.py")),
        "new_a": Record("new_a", src("n.py")),
        "moved": Record("moved", src("new_home.py")),
        "same": Record("same", src("s.py")),
        "fixed": Record("fixed", src("f.py"), "UNKNOWN", "changed"),
    }
    present = {
        "moved": Record("moved", src("old_home.py"), "ERROR", "stored"),
        "same": Record("same", src("s.py"), "ERROR", "kept"),
        "fixed": Record("fixed", src("f.py"), "ERROR", "kept"),
        "zz_gone": Record("zz_gone", src("g.py")),
        "a_gone": Record("a_gone", src("g.py")),
    }
    caplog.set_level(logging.INFO, logger="tessel")

    add, remove = pdk._get_database_updates(static, present, [])

    assert [r.name for r in add] == ["moved", "new_a", "new_b"]
    assert remove == ["a_gone", "zz_gone"]
    # A moved factory is rewritten as found; the others carry the stored verdict.
    assert (static["moved"].status, static["moved"].message) == ("UNKNOWN", "")
    assert (static["same"].status, static["same"].message) == ("ERROR", "kept")
    assert (static["fixed"].status, static["fixed"].message) == ("ERROR", "kept")
    assert [r.getMessage() for r in caplog.records] == [
        "new factories: ['new_a', 'new_b']",
        "updated factories: ['moved']",
        "removed factories: ['a_gone', 'zz_gone']",
    ]


@pytest.mark.parametrize("stored_message, updated", [("old failure", True), ("boom", False)])
def test_failure_found_now_is_not_hidden_by_the_stored_status(host, stored_message, updated):
    static = {"a": Record("a", host.source("a.py"), "ERROR", "boom")}
    present = {"a": Record("a", host.source("a.py"), "UNKNOWN" if updated else "ERROR", stored_message)}
    add, _ = pdk._get_database_updates(static, present, [])
    assert add == ([Record("a", host.source("a.py"), "ERROR", "boom")] if updated else [])


def test_explicitly_registered_file_is_rewritten_even_unchanged(host):
    path = host.root / "cells.py"
    static = {"a": Record("a", str(path)), "b": Record("b", host.source("other.py"))}
    present = copy.deepcopy(static)
    add, remove = pdk._get_database_updates(static, present, [path])
    assert [r.name for r in add] == ["a"] and remove == []


def test_records_differing_only_beyond_status_are_updated(host):
    @dataclasses.dataclass
    class Versioned(Record):
        version: int = 0

    static = {"a": Versioned("a", host.source("a.py"), version=2)}
    present = {"a": Versioned("a", host.source("a.py"), "ERROR", "old", version=1)}
    add, _ = pdk._get_database_updates(static, present, [])
    assert add == [Versioned("a", host.source("a.py"), "ERROR", "old", version=2)]


# _clean_containers_also_in_cells


def pdk_with(container, cell):
    return morrow.Pdk(name="p", cells={"k": cell, "other": abs}, containers={"k": container})


SHARED = cell_in("proj.cells")


@pytest.mark.parametrize("container, cell, kept", [
    (SHARED, SHARED, "container"),
    (cell_in("proj.cells"), cell_in("lib.cells"), "container"),
    (cell_in("lib.cells"), cell_in("proj.x"), "cell"),
    (cell_in("lib.a"), cell_in("lib.b"), "cell"),
    (cell_in("proj"), cell_in("lib.b"), "cell"),  # the bare project name is not inside it
    (cell_in("lib.a"), cell_in("project.b"), "cell"),
    (cell_in(""), cell_in("lib.b"), "cell"),
    (cell_in(None), cell_in("proj.b"), "cell"),
    (cell_in(""), cell_in(""), "cell"),  # an empty container module is dropped first
    (cell_in("lib.a"), cell_in(""), "container"),
    (types.SimpleNamespace(), types.SimpleNamespace(), "cell"),
])
def test_name_in_both_tables_is_kept_in_one(host, container, cell, kept):
    table = pdk_with(container, cell)
    pdk._clean_containers_also_in_cells(table)
    assert ("k" in table.containers, "k" in table.cells) == (kept == "container", kept == "cell")
    assert "other" in table.cells


def test_names_in_one_table_only_are_left_alone(host):
    table = morrow.Pdk(name="p", cells={"a": abs}, containers={"b": abs})
    pdk._clean_containers_also_in_cells(table)
    assert (table.cells, table.containers) == ({"a": abs}, {"b": abs})


# register_cells


def project_with_cells(host):
    host.static = [
        Record("wg", host.source("cells/wg.py")),
        Record("ring", host.source("cells/ring.py")),
        Record("broken_cell", host.source("cells/broken.py")),
    ]
    host.module("cells/wg.py", wg=cell_in("proj.cells.wg"))
    host.module("cells/ring.py", ring=cell_in("proj.cells.ring"))
    host.imports.outcomes[host.root / "cells/broken.py"] = ImportError("no module named nope")
    host.imports.regex[host.root / "cells/broken.py"] = ["broken_cell", "hidden"]


def test_register_cells_runs_its_steps_in_order(host):
    project_with_cells(host)
    host.db.store["stale"] = Record("stale", host.source("cells/old.py"))
    host.pdk.cells.update(stale=abs, wg=abs)

    added, removed = pdk.register_cells()

    assert host.events == [
        "get_pdk", "create_callgraph", "get_static_records", "import_modules",
        "get_cells_from_regex", "get_all_factories", "add_factories", "remove_factories",
        "register_models", "get_project_name",
    ]
    assert added == ["broken_cell", "hidden", "ring", "wg"] and removed == ["stale"]
    assert "stale" not in host.pdk.cells
    assert host.pdk.cells["wg"].__module__ == "proj.cells.wg"
    with pytest.raises(ImportError, match="no module named nope"):
        host.pdk.cells["hidden"]()
    assert host.db.store["hidden"].status == host.db.store["broken_cell"].status == "ERROR"
    assert host.db.store["wg"].status == "UNKNOWN"
    assert host.model_calls == [("G", True)]


def test_error_factory_wins_over_a_resolved_cell(host, monkeypatch):
    project_with_cells(host)
    monkeypatch.setattr(pdk, "_find_cells", lambda records, modules: {"broken_cell": abs})
    pdk.register_cells()
    with pytest.raises(ImportError):
        host.pdk.cells["broken_cell"]()


@pytest.mark.parametrize("reload, model_calls", [(True, [("G", True)]), (1, [("G", True)]),
                                                 (False, []), (0, [])])
def test_models_are_registered_only_when_reloading(host, reload, model_calls):
    project_with_cells(host)
    pdk.register_cells(reload=reload)
    assert host.model_calls == model_calls
    assert {c[1] for c in host.imports.calls} == {bool(reload)}


def test_registration_limited_to_paths_compares_only_its_names(host):
    project_with_cells(host)
    host.db.store["elsewhere"] = Record("elsewhere", host.source("cells/other.py"))
    host.db.store["wg"] = Record("wg", host.source("cells/wg.py"))

    added, removed = pdk.register_cells(paths=[host.root / "cells/wg.py"])

    assert host.db.calls[0] == ("get_factories_by_name", ("wg",))
    assert "get_all_factories" not in host.events
    assert added == ["wg"] and removed == []  # rewritten although unchanged
    assert "elsewhere" in host.db.store
    assert host.imports.calls == [([host.root / "cells/wg.py"], True, False)]


def test_relative_and_textual_paths_select_the_same_files(host, monkeypatch):
    project_with_cells(host)
    monkeypatch.chdir(host.root)
    added, _ = pdk.register_cells(paths=("cells/wg.py",))
    assert added == ["wg"]
    assert host.imports.calls == [([host.root / "cells/wg.py"], True, False)]


def test_database_writes_happen_even_when_empty(host):
    pdk.register_cells()
    assert host.db.calls == [("add_factories", ()), ("remove_factories", ())]


def test_register_cells_takes_keywords_only(host):
    with pytest.raises(TypeError):
        pdk.register_cells([])


# Exact argument types


class DictSub(dict):
    pass


@pytest.mark.parametrize("call, arg", [
    (lambda bad: pdk._import_modules(bad, []), "static_records"),
    (lambda bad: pdk._import_modules({}, bad), "paths"),
    (lambda bad: pdk._handle_import_errors(bad, {}), "static_records"),
    (lambda bad: pdk._handle_import_errors({}, bad), "errors"),
    (lambda bad: pdk._find_cells(bad, {}), "static_records"),
    (lambda bad: pdk._find_cells({}, bad), "modules"),
    (lambda bad: pdk._get_database_updates(bad, {}, []), "static_records"),
    (lambda bad: pdk._get_database_updates({}, bad, []), "present_records"),
    (lambda bad: pdk._get_database_updates({}, {}, bad), "paths"),
    (lambda bad: pdk._error_cell(bad, "m", "e"), "funcname"),
    (lambda bad: pdk._error_cell("f", bad, "e"), "modname"),
])
@pytest.mark.parametrize("bad", [None, DictSub(), defaultdict(list), type("L", (list,), {})(),
                                 type("S", (str,), {})("x"), ()])
def test_arguments_of_the_wrong_builtin_type_are_rejected(host, call, arg, bad):
    with pytest.raises(TypeError, match=f"'{arg}'") as excinfo:
        call(bad)
    assert any("Subclasses of built-in types are rejected" in n for n in excinfo.value.__notes__)

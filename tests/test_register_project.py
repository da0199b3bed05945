"""Cell registration end to end: a temporary project registered with the real host
services (call graph, importer, database, model registry) and the generic PDK."""

from __future__ import annotations

import sys
import types
from pathlib import Path

import pytest

import morrow
import tessel.core.pdk as pdk

_project_ids = iter(range(10**6))

CELLS = '''
import morrow


@morrow.cell
def ring(radius: float = 5.0) -> morrow.Component:
    return morrow.Component(ports=[morrow.Port("o1"), morrow.Port("o2")])


@morrow.cell()
def taper(length: float = 10.0) -> morrow.Component:
    return morrow.Component(ports=[morrow.Port("o1"), morrow.Port("o2")])
'''

BROKEN = '''
import morrow
import tessel_no_such_module_anywhere


@morrow.cell
def broken_cell() -> morrow.Component:
    return morrow.Component()
'''

MODELS = '''
from tessel.core.models import model


@model(name="ring")
def ring_model(wl: float = 1.55):
    return {("o1", "o2"): 1.0}
'''


@pytest.fixture
def project(tmp_path, monkeypatch):
    """A project using the generic PDK, with a package of cells, a broken file and a model."""
    pytest.importorskip("tessel.core.callgraph")
    name = f"e2e_proj_{next(_project_ids)}"
    root = tmp_path.resolve() / "project"
    package = root / name
    package.mkdir(parents=True)
    (root / "pyproject.toml").write_text(f'[project]\nname = "{name}"\n\n[tool.tessel]\npdk = "generic"\n')
    (package / "__init__.py").write_text("")
    (package / "cells.py").write_text(CELLS)
    (package / "broken.py").write_text(BROKEN)
    (package / "models.py").write_text(MODELS)
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(root))
    monkeypatch.chdir(root)
    monkeypatch.setattr(sys, "path", list(sys.path))
    monkeypatch.setattr(sys, "dont_write_bytecode", True)  # rewritten files must be re-read

    pdk.get_base_pdk.cache_clear()
    pdk._get_pdk.cache_clear()
    active = morrow.get_active_pdk()
    yield types.SimpleNamespace(root=root, package=package, name=name)
    pdk.get_base_pdk.cache_clear()
    pdk._get_pdk.cache_clear()
    morrow._active_pdk = active
    for module in [m for m in sys.modules if m.split(".")[0] == name]:
        del sys.modules[module]


def stored():
    from tessel.core import database

    return {name: (r.status, r.message) for name, r in database.get_all_factories().items()}


def test_registration_of_a_project(project):
    added, removed = pdk.register_cells()

    active = pdk.get_pdk()
    assert added == ["broken_cell", "ring", "taper"] and removed == []
    assert [p.name for p in active.cells["ring"]().ports] == ["o1", "o2"]
    assert active.cells["ring"].__module__ == f"{project.name}.cells"
    with pytest.raises(ModuleNotFoundError, match="tessel_no_such_module_anywhere"):
        active.cells["broken_cell"]()
    assert active.models["ring"]() == {("o1", "o2"): 1.0}
    # The base PDK is the PDK as shipped.
    assert "ring" not in pdk.get_base_pdk().cells and "straight" in active.cells

    status = stored()
    assert status["ring"] == status["taper"] == ("UNKNOWN", "")
    assert status["broken_cell"][0] == "ERROR"
    assert "tessel_no_such_module_anywhere" in status["broken_cell"][1]


def test_registration_follows_changes_of_the_project(project):
    pdk.register_cells()
    broken = project.package / "broken.py"
    (project.package / "cells.py").write_text(CELLS.split("@morrow.cell()")[0])
    broken.write_text(BROKEN.replace("import tessel_no_such_module_anywhere\n", ""))

    added, removed = pdk.register_cells()

    active = pdk.get_pdk()
    assert (added, removed) == ([], ["taper"]) and "taper" not in active.cells
    assert isinstance(active.cells["broken_cell"](), morrow.Component)
    # The stored verdict stands until the file is registered explicitly.
    assert stored()["broken_cell"][0] == "ERROR"
    assert pdk.register_cells(paths=[broken]) == (["broken_cell"], [])
    assert stored() == {"ring": ("UNKNOWN", ""), "broken_cell": ("UNKNOWN", "")}


def test_file_that_stops_importing_is_recorded_as_failed(project):
    pdk.register_cells()
    (project.package / "cells.py").write_text(CELLS + "\nraise RuntimeError('half-edited')\n")

    added, removed = pdk.register_cells()

    assert (added, removed) == (["ring", "taper"], [])
    assert stored()["ring"] == ("ERROR", "half-edited")
    with pytest.raises(RuntimeError, match="half-edited"):
        pdk.get_pdk().cells["taper"]()


def test_registration_limited_to_one_file_keeps_the_others(project):
    pdk.register_cells()
    added, removed = pdk.register_cells(paths=[Path(project.name) / "cells.py"], reload=False)
    assert added == ["ring", "taper"] and removed == []
    assert set(stored()) == {"broken_cell", "ring", "taper"}

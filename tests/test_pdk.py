"""PDK access: importing the project's PDK, the frozen base PDK and the deprecated activation.

Each test builds real PDK packages in a temporary folder on `sys.path` and a
temporary project whose pyproject.toml names the PDK.
"""

from __future__ import annotations

import importlib
import itertools
import json
import logging
import sys
import textwrap
import types
import warnings

import pytest
from frozendict import frozendict

import morrow
import tessel.core.pdk as pdk
from conftest import run_python

_package_ids = itertools.count()


@pytest.fixture(autouse=True)
def fresh_pdk():
    """Forget the memoised PDKs and restore the layout library's active PDK."""
    pdk.get_base_pdk.cache_clear()
    pdk._get_pdk.cache_clear()
    active = morrow.get_active_pdk()
    yield
    pdk.get_base_pdk.cache_clear()
    pdk._get_pdk.cache_clear()
    morrow._active_pdk = active


@pytest.fixture
def project(tmp_path, monkeypatch):
    """Write the project's pyproject.toml: project(pdk="name", is_pdk=False)."""
    folder = tmp_path / "project"
    folder.mkdir()
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(folder))

    def configure(pdk_name: str, is_pdk: bool = False):
        (folder / "pyproject.toml").write_text(
            f'[project]\nname = "proj"\n\n[tool.tessel]\npdk = "{pdk_name}"\n'
            f"is-pdk = {'true' if is_pdk else 'false'}\n"
        )
        return folder

    return configure


@pytest.fixture
def pdk_package(tmp_path, monkeypatch):
    """Create a PDK package on sys.path from {relative file: source}; return its import name."""
    root = tmp_path / "packages"
    root.mkdir()
    monkeypatch.syspath_prepend(str(root))
    monkeypatch.setattr(sys, "dont_write_bytecode", True)  # rewritten files must be re-read
    created = []

    def make(files: dict[str, str]) -> str:
        name = f"tessel_test_pdk_{next(_package_ids)}"
        created.append(name)
        write(name, files)
        return name

    def write(name: str, files: dict[str, str]) -> None:
        for relative, source in files.items():
            path = root / name / relative
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(textwrap.dedent(source).replace("PKG", name))
        importlib.invalidate_caches()

    make.write = write
    yield make
    for module in [m for m in sys.modules if m.split(".")[0] in created]:
        del sys.modules[module]


PLAIN_PDK = """
    import morrow
    PDK = morrow.Pdk(name="PKG", cells={"wg": print}, containers={"c": print})
    PDK.layers = [1, 2]
    PDK.options = {"nested": [3, 4]}
"""


# Locating and importing the PDK.


@pytest.mark.parametrize("spelling", ["generic", "GENERIC", "Generic"])
@pytest.mark.parametrize("loaded", [True, False])
def test_generic_in_any_case_selects_the_generic_pdk(project, monkeypatch, spelling, loaded):
    project(spelling)
    if loaded:
        importlib.import_module("morrow.generic_tech")
    else:
        monkeypatch.delitem(sys.modules, "morrow.generic_tech", raising=False)
    reloaded = []
    spy = types.SimpleNamespace(
        import_module=importlib.import_module,
        reload=lambda module: reloaded.append(module.__name__) or importlib.reload(module),
    )
    monkeypatch.setattr(pdk, "importlib", spy)

    result = pdk._get_pdk()

    assert type(result) is morrow.Pdk and result.name == "generic"
    assert reloaded == (["morrow.generic_tech"] if loaded else [])
    # Built anew, not the library's own memoised object.
    assert result is not sys.modules["morrow.generic_tech"].get_generic_pdk()


def test_first_import_returns_the_package_pdk(project, pdk_package):
    name = pdk_package({"__init__.py": PLAIN_PDK})
    project(name)
    assert pdk._get_pdk() is sys.modules[name].PDK


def test_reloaded_pdk_submodule_wins_over_the_package(project, pdk_package):
    name = pdk_package({
        "__init__.py": "from .pdk import PDK\n",
        "pdk.py": "import morrow\nPDK = morrow.Pdk(name='from submodule')\n",
    })
    project(name)
    old = importlib.import_module(name).PDK

    result = pdk._get_pdk()

    assert result is sys.modules[f"{name}.pdk"].PDK
    assert result is not old and result.name == "from submodule"


def test_loaded_pdk_submodule_serves_a_package_without_pdk(project, pdk_package):
    name = pdk_package({
        "__init__.py": "",
        "pdk.py": "import morrow\nPDK = morrow.Pdk(name='from submodule')\n",
    })
    project(name)
    importlib.import_module(f"{name}.pdk")
    assert pdk._get_pdk() is sys.modules[f"{name}.pdk"].PDK


def test_pdk_submodule_is_never_imported_by_lookup(project, pdk_package):
    name = pdk_package({
        "__init__.py": "",
        "pdk.py": "import morrow\nPDK = morrow.Pdk(name='from submodule')\n",
    })
    project(name)
    with pytest.raises(ImportError):
        pdk._get_pdk()
    assert f"{name}.pdk" not in sys.modules


def test_package_without_pdk_fails_and_nothing_is_memoised(project, pdk_package):
    name = pdk_package({"__init__.py": "VERSION = 1\n"})
    project(name)
    message = f"Module '{name}' does not expose a PDK in its __init__.py."
    with pytest.raises(ImportError) as excinfo:
        pdk.get_pdk()
    assert str(excinfo.value) == message
    assert pdk._get_pdk.cache_info().currsize == 0
    assert pdk.get_base_pdk.cache_info().currsize == 0

    pdk_package.write(name, {"__init__.py": PLAIN_PDK})
    assert pdk.get_pdk().name == name


def test_failing_pdk_import_propagates(project, pdk_package):
    name = pdk_package({"__init__.py": "raise ValueError('broken PDK')\n"})
    project(name)
    with pytest.raises(ValueError, match="broken PDK"):
        pdk.get_pdk()


# The active PDK.


def test_get_pdk_returns_one_object_activates_and_logs_each_time(project, pdk_package, caplog):
    name = pdk_package({"__init__.py": PLAIN_PDK})
    project(name)
    caplog.set_level(logging.DEBUG, logger="tessel")

    first = pdk.get_pdk()
    morrow.Pdk(name="other").activate()
    second = pdk.get_pdk()

    assert first is second
    assert morrow.get_active_pdk() is first
    messages = [r.getMessage() for r in caplog.records if r.name == "tessel"]
    assert messages.count(f"Activated PDK: {name}") == 2
    assert messages.count(f"Froze base PDK: {name}") == 1
    assert all(r.levelno == logging.DEBUG for r in caplog.records if r.name == "tessel")


def test_logger_is_obtained_anew_for_each_message(project, monkeypatch):
    project("generic")
    lines = []
    logger = types.SimpleNamespace(debug=lambda text: lines.append(text))
    monkeypatch.setattr(pdk, "log", lambda: logger)
    pdk.get_pdk()
    pdk.get_pdk()
    assert lines == ["Froze base PDK: generic", "Activated PDK: generic", "Activated PDK: generic"]


# The base PDK.


@pytest.fixture
def base_and_active(project, pdk_package):
    name = pdk_package({"__init__.py": PLAIN_PDK})
    project(name)
    active = pdk.get_pdk()
    return pdk.get_base_pdk(), active


def test_base_pdk_is_a_separate_frozen_copy(base_and_active):
    base, active = base_and_active
    assert base is not active
    assert type(base) is pdk.FrozenPdk and isinstance(base, morrow.Pdk)
    assert type(base.cells) is frozendict and base.cells == {"wg": print}
    assert type(base.layers) is tuple and base.layers == (1, 2)
    # One level deep: what sits inside a frozen table is untouched.
    assert type(base.options["nested"]) is list
    assert base.name == active.name


@pytest.mark.parametrize("attr", ["name", "cells", "layers", "not_there"])
def test_base_pdk_refuses_every_change(base_and_active, attr):
    base, _ = base_and_active
    with pytest.raises(AttributeError) as set_error:
        setattr(base, attr, 1)
    with pytest.raises(AttributeError) as del_error:
        delattr(base, attr)
    assert str(set_error.value) == str(del_error.value) == "Frozen PDK cannot be modified."
    assert vars(base).get("name") is not None  # unchanged


def test_active_pdk_stays_active_and_writable(base_and_active):
    base, active = base_and_active
    assert morrow.get_active_pdk() is active
    active.cells["new"] = len
    active.name = "renamed"
    assert type(active.cells) is dict and "new" not in base.cells


def test_shared_pdk_object_is_copied_before_freezing(project, pdk_package):
    # The package re-exports a PDK built in a module that a reload of the
    # package does not re-execute, so both imports see the same object.
    shared = pdk_package({"__init__.py": PLAIN_PDK})
    name = pdk_package({"__init__.py": f"from {shared} import PDK\n"})
    project(name)

    active = pdk.get_pdk()
    base = pdk.get_base_pdk()

    assert base is not active and type(active) is morrow.Pdk
    assert type(active.cells) is dict
    active.cells["new"] = len


def test_project_that_is_a_pdk_gets_the_active_pdk_as_base(project, pdk_package):
    name = pdk_package({"__init__.py": PLAIN_PDK})
    project(name, is_pdk=True)
    active = pdk.get_pdk()
    assert pdk.get_base_pdk() is active
    assert type(active) is morrow.Pdk
    active.cells["new"] = len


# FrozenPdk.


def test_frozen_pdk_class():
    cls = pdk.FrozenPdk
    assert cls.__bases__ == (morrow.Pdk,)
    assert cls.__module__ == "tessel.core.pdk" and cls.__qualname__ == "FrozenPdk"
    assert cls.__doc__ == "A frozen PDK that prevents modification of its attributes."
    assert set(vars(cls)) >= {"__setattr__", "__delattr__"}


@pytest.mark.parametrize("method, args", [("__setattr__", (1,)), ("__delattr__", ())])
@pytest.mark.parametrize("name", [None, 3, type("Name", (str,), {})("name")])
def test_frozen_pdk_rejects_non_text_attribute_names(method, args, name):
    frozen = morrow.Pdk(name="x")
    frozen.__class__ = pdk.FrozenPdk
    with pytest.raises(TypeError, match="'name'"):
        getattr(frozen, method)(name, *args)


# activate_pdk_by_name.


@pytest.mark.parametrize("given, extra", [
    ("generic", ""),
    ("other", "The given 'name' argument 'other' will be ignored. Using 'generic' instead "
              "(as configured in 'pyproject.toml')."),
    # Texts that no C string carries still make the warning.
    ("o\udcffther\x00", "The given 'name' argument 'o\udcffther\x00' will be ignored. Using "
                        "'generic' instead (as configured in 'pyproject.toml')."),
])
def test_activate_pdk_by_name_is_deprecated(project, given, extra):
    project("generic")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = pdk.activate_pdk_by_name(given); line = sys._getframe().f_lineno  # noqa: E702
    assert result is pdk.get_pdk()
    [warning] = caught
    assert warning.category is DeprecationWarning
    assert str(warning.message) == "activate_pdk_by_name is deprecated, use get_pdk() instead. " + extra
    assert (warning.filename, warning.lineno) == (__file__, line)


def test_activate_pdk_by_name_takes_name_by_keyword(project):
    project("generic")
    with pytest.warns(DeprecationWarning):
        assert pdk.activate_pdk_by_name(name="generic") is pdk.get_pdk()


@pytest.mark.parametrize("name", [None, 1, type("Name", (str,), {})("generic")])
def test_activate_pdk_by_name_wants_exact_text(project, name):
    project("generic")
    with pytest.raises(TypeError, match="activate_pdk_by_name.*'name'"):
        pdk.activate_pdk_by_name(name)


# Module surface.


NAMES_IN_ORDER = [
    "importlib", "sys", "warnings", "defaultdict", "Callable", "Iterable", "copy", "deepcopy",
    "cache", "Path", "ModuleType", "TYPE_CHECKING", "Any", "cast",
    "lazy_import", "m", "cg", "mw", "log", "settings", "frozendict", "imports", "db",
    "register_models",
    "get_pdk", "get_base_pdk", "register_cells", "activate_pdk_by_name", "FrozenPdk", "_get_pdk",
    "_sort_paths", "_error_cell", "_import_modules", "_handle_import_errors", "_find_cells",
    "_get_database_updates", "_clean_containers_also_in_cells", "__test__",
]


def test_module_surface():
    bound = [n for n in vars(pdk) if not n.startswith("__") or n == "__test__"]
    assert bound == NAMES_IN_ORDER
    assert pdk.__doc__ == "PDK Utilties."
    assert pdk.__test__ == {}
    for cached in (pdk.get_base_pdk, pdk._get_pdk):
        assert callable(cached.cache_clear) and callable(cached.__wrapped__)
        assert cached.__module__ == "tessel.core.pdk"


def test_import_loads_only_the_layout_library():
    out = run_python("""
        import json, sys
        import tessel.core.pdk
        lazy = ("tessel.models", "tessel.core.callgraph", "tessel.settings", "frozendict",
                "tessel.core.imports", "tessel.core.database", "tessel.core.models", "sax")
        print(json.dumps(["morrow" in sys.modules, [m for m in lazy if m in sys.modules]]))
    """).stdout
    assert json.loads(out) == [True, []]

import sys
import textwrap
import types
from pathlib import Path

import pytest

from tessel.core import imports


@pytest.fixture
def project(tmp_path, monkeypatch, isolated_imports):
    """A project folder holding package `pkg` with subpackage `pkg.cells`; files record their import."""
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(tmp_path))
    monkeypatch.chdir(tmp_path)
    for folder in ("pkg", "pkg/cells"):
        (tmp_path / folder).mkdir()
        (tmp_path / folder / "__init__.py").write_text("")
    seen = types.ModuleType("_import_order")
    seen.names = []
    monkeypatch.setitem(sys.modules, "_import_order", seen)
    return tmp_path


def write(root, relative, body=""):
    path = root / relative
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("import _import_order\n_import_order.names.append(__name__)\n" + body)
    return path


@pytest.mark.parametrize(
    "relative, inits, from_project, root, name",
    [
        ("pkg/cells/a.py", ["pkg", "pkg/cells"], False, ".", "pkg.cells.a"),
        ("pkg/cells/__init__.py", ["pkg", "pkg/cells"], False, ".", "pkg.cells"),
        ("pkg/cells/a.py", ["pkg/cells"], False, "pkg", "cells.a"),
        ("src/pkg/a.py", ["src/pkg"], False, "src", "pkg.a"),
        ("scripts/x.py", [], False, "scripts", "x"),
        ("scripts/x.py", [], True, ".", "scripts.x"),
        ("pkg/cells/__init__.py", ["pkg", "pkg/cells"], True, ".", "pkg.cells"),
    ],
)
def test_module_name_follows_layout(tmp_path, monkeypatch, relative, inits, from_project, root, name):
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(tmp_path))
    for folder in inits:
        (tmp_path / folder).mkdir(parents=True, exist_ok=True)
        (tmp_path / folder / "__init__.py").write_text("")
    (tmp_path / relative).parent.mkdir(parents=True, exist_ok=True)
    (tmp_path / relative).write_text("")
    assert imports.module_name(tmp_path / relative, from_project=from_project) == (
        (tmp_path / root).resolve(),
        name,
    )


@pytest.mark.parametrize(
    "relative, from_project",
    [("my-cells.py", False), ("my-dir/x.py", True), ("../outside.py", True)],
)
def test_module_name_rejects_unimportable_files(tmp_path, monkeypatch, relative, from_project):
    project = tmp_path / "project"
    project.mkdir()
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(project))
    (project / relative).parent.mkdir(parents=True, exist_ok=True)
    (project / relative).write_text("")
    with pytest.raises(ImportError):
        imports.module_name(project / relative, from_project=from_project)


def test_imports_in_given_order_once_each_keyed_by_resolved_path(project):
    a = write(project, "pkg/cells/a.py")
    b = write(project, "pkg/b.py")
    modules, errors = imports.import_modules(
        paths=["pkg/cells/a.py", b, Path("pkg/cells/../cells/a.py")], reload=False
    )
    assert errors == {}
    assert list(modules) == [a.resolve(), b.resolve()]
    assert sys.modules["_import_order"].names == ["pkg.cells.a", "pkg.b"]
    assert modules[b.resolve()] is sys.modules["pkg.b"]


def test_from_project_resolves_relative_paths_against_the_project(project, tmp_path_factory, monkeypatch):
    write(project, "scripts/run.py", "X = 1\n")
    monkeypatch.chdir(tmp_path_factory.mktemp("elsewhere"))
    modules, errors = imports.import_modules(paths=["scripts/run.py"], from_project=True)
    assert errors == {}
    assert [m.__name__ for m in modules.values()] == ["scripts.run"]


@pytest.mark.parametrize("reload, expected", [(True, 2), (False, 1)])
def test_reload_reexecutes_loaded_files(project, monkeypatch, reload, expected):
    # Same size and (likely) same second: cached bytecode must not hide the edit.
    monkeypatch.setattr(sys, "dont_write_bytecode", False)
    path = write(project, "pkg/cells/a.py", "VALUE = 1\n")
    imports.import_modules(paths=[path])
    write(project, "pkg/cells/a.py", "VALUE = 2\n")
    modules, errors = imports.import_modules(paths=[path], reload=reload)
    assert errors == {}
    assert modules[path.resolve()].VALUE == expected
    assert sys.modules["_import_order"].names == ["pkg.cells.a"] * (1 + reload)


@pytest.mark.parametrize(
    "body, error_type",
    [
        ("def broken(:\n", SyntaxError),
        ("1 / 0\n", ZeroDivisionError),
        ("import no_such_module_anywhere\n", ModuleNotFoundError),
        ("import sys\nsys.exit(3)\n", ImportError),
    ],
)
def test_failures_are_reported_not_raised(project, body, error_type):
    good = write(project, "pkg/cells/good.py")
    bad = write(project, "pkg/cells/bad.py", body)
    modules, errors = imports.import_modules(paths=[bad, good])
    assert list(modules) == [good.resolve()]
    name, error = errors[bad.resolve()]
    assert name == "pkg.cells.bad"
    assert isinstance(error, error_type)
    # Nothing half-executed stays behind: the next import runs the file again.
    assert "pkg.cells.bad" not in sys.modules


def test_failed_reload_drops_the_module_and_a_fixed_file_imports_again(project):
    path = write(project, "pkg/cells/a.py", "VALUE = 1\n")
    imports.import_modules(paths=[path])
    write(project, "pkg/cells/a.py", "VALUE = 2\nraise RuntimeError('half way')\n")
    modules, errors = imports.import_modules(paths=[path], reload=True)
    assert modules == {} and str(errors[path.resolve()][1]) == "half way"
    assert "pkg.cells.a" not in sys.modules
    write(project, "pkg/cells/a.py", "VALUE = 3\n")
    modules, errors = imports.import_modules(paths=[path], reload=False)
    assert modules[path.resolve()].VALUE == 3


def test_a_name_taken_by_another_file_is_an_error(project):
    # A top-level project file must not be answered with the standard library's module.
    path = write(project, "scripts/json.py")
    modules, errors = imports.import_modules(paths=[path])
    assert modules == {}
    assert "already taken" in str(errors[path.resolve()][1])


def test_a_package_loaded_from_another_folder_is_an_error(project, tmp_path_factory):
    other = tmp_path_factory.mktemp("other")
    (other / "pkg").mkdir()
    (other / "pkg" / "__init__.py").write_text("")
    sys.path.append(str(other))
    import pkg  # noqa: F401  (the other project's package)

    path = write(project, "pkg/cells/a.py")
    modules, errors = imports.import_modules(paths=[path])
    assert modules == {}
    assert "package 'pkg' is already loaded" in str(errors[path.resolve()][1])


@pytest.mark.parametrize(
    "text, names",
    [
        ("@cell\ndef a():\n    pass\n", ["a"]),
        ("@cell()\ndef a(): pass\n", ["a"]),
        ("@mw.cell\n@other\n# note\n\nasync def a(): pass\n", ["a"]),
        ("@ morrow . cell(\n    name='x',\n)\ndef a(): pass\n", ["a"]),
        ("@cell\ndef a(): pass\n@cell\ndef a(): pass\n@cell\ndef b(): pass\n", ["a", "b"]),
        ("def a(): pass\n@other\ndef b(): pass\n", []),
        ("@cellular\ndef a(): pass\n@cell.sub\ndef b(): pass\n", []),
        ("@cell\nX = 1\ndef a(): pass\n", []),
        ("class K:\n    @cell\n    def m(self): pass\n", []),
        ("@cell\ndef broken(:\n", ["broken"]),
    ],
)
def test_cells_from_regex(tmp_path, text, names):
    path = tmp_path / "cells.py"
    path.write_text(textwrap.dedent(text))
    assert list(imports.get_cells_from_regex(path)) == names


def test_cells_from_regex_raises_for_missing_file(tmp_path):
    with pytest.raises(OSError):
        imports.get_cells_from_regex(tmp_path / "missing.py")

import types

import pytest

from tessel.cli import main
from tessel.cli import register as cli
from tessel.core import database as db
from tessel.models import FactoryRecord


@pytest.fixture
def project(tmp_path, monkeypatch):
    (tmp_path / "pyproject.toml").write_text('[project]\nname = "chip"\n')
    (tmp_path / "chip" / "cells").mkdir(parents=True)
    for name in ("a.py", "b.py", "__init__.py"):
        (tmp_path / "chip" / "cells" / name).write_text("")
    (tmp_path / "chip" / "empty").mkdir()
    monkeypatch.delenv("TESSEL_PROJECT_DIR", raising=False)
    monkeypatch.chdir(tmp_path / "chip")
    return tmp_path


@pytest.fixture
def fake_pdk(monkeypatch):
    """register_cells stand-in: stores what it is told to and records its arguments."""
    calls = []
    outcome = {"add": [], "remove": [], "error": None}

    def register_cells(*, paths=(), reload=True):
        calls.append((list(paths), reload))
        if outcome["error"]:
            raise outcome["error"]
        db.add_factories(*outcome["add"])
        db.remove_factories(*outcome["remove"])
        return [r.name for r in outcome["add"]], list(outcome["remove"])

    monkeypatch.setattr(cli, "ts_pdk", types.SimpleNamespace(register_cells=register_cells))
    return types.SimpleNamespace(calls=calls, outcome=outcome)


def rec(name, status="UNKNOWN", source="chip/cells/a.py"):
    return FactoryRecord(name=name, source=source, status=status, message="")


def test_reports_added_updated_and_removed(project, fake_pdk, capsys):
    db.add_factories(rec("kept"), rec("old"), rec("gone"))
    fake_pdk.outcome.update(
        add=[rec("fresh"), rec("old", source="chip/cells/b.py"), rec("broken", "ERROR")],
        remove=["gone"],
    )
    assert main(["register"]) == 0
    assert fake_pdk.calls == [([], True)]
    assert capsys.readouterr().out.splitlines() == [
        "project chip (PDK generic)",
        "added (2): fresh, broken",
        "updated (1): old",
        "removed (1): gone",
    ]


def test_paths_become_resolved_files_of_the_project(project, fake_pdk):
    cells = project / "chip" / "cells"
    fake_pdk.outcome["add"] = [rec("x", "ERROR", source="chip/cells/b.py")]
    assert main(["register", "--no-reload", "cells/a.py", "cells", "../chip/cells/b.py"]) == 0
    assert fake_pdk.calls == [([cells / "a.py", cells / "__init__.py", cells / "b.py"], False)]


@pytest.mark.parametrize(
    "args, message",
    [
        (["missing.py"], "missing.py: no such file or folder"),
        (["/"], "/: not inside the project folder"),
        (["empty"], "empty: holds no Python files"),
    ],
)
def test_bad_paths_are_one_line_errors(project, fake_pdk, capsys, args, message):
    assert main(["register", *args]) == 2
    err = capsys.readouterr().err
    assert err.startswith(f"tessel register: error: {message}") and err.count("\n") == 1
    assert fake_pdk.calls == []


def test_no_project_is_an_error(tmp_path, monkeypatch, fake_pdk, capsys):
    monkeypatch.delenv("TESSEL_PROJECT_DIR", raising=False)
    monkeypatch.chdir(tmp_path)
    if any((p / "pyproject.toml").exists() for p in tmp_path.parents):
        pytest.skip("a pyproject.toml above the temporary folder")
    assert main(["register"]) == 2
    assert "no project" in capsys.readouterr().err
    assert fake_pdk.calls == []


def test_registration_failure_is_one_line_and_nonzero(project, fake_pdk, capsys):
    fake_pdk.outcome["error"] = ImportError("Module 'x' does not expose a PDK in its __init__.py.")
    assert main(["register"]) == 1
    err = capsys.readouterr().err
    assert err == "tessel register: error: ImportError: Module 'x' does not expose a PDK in its __init__.py.\n"

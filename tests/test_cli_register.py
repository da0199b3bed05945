import json
import os
import shutil
import subprocess
import sys
import textwrap
import types
from pathlib import Path

import pytest

from conftest import DAMAGES, as_a_user, damage_database
from tessel.cli import main
from tessel.cli import project as cli
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

    monkeypatch.setattr(cli, "ts_pdk", types.SimpleNamespace(register_cells=register_cells,
                                                             get_pdk=lambda: None))
    return types.SimpleNamespace(calls=calls, outcome=outcome)


def rec(name, status="UNKNOWN", source="chip/cells/a.py"):
    return FactoryRecord(name=name, source=source, status=status, message="")


def test_reports_added_updated_and_removed(project, fake_pdk, capsys):
    db.add_factories(rec("kept"), rec("old"), rec("gone"))
    fake_pdk.outcome.update(
        add=[rec("fresh"), rec("old", source="chip/cells/b.py"), rec("broken", "ERROR")],
        remove=["gone"],
    )
    # A cell that failed to register fails the command, named by its file in the project.
    assert main(["register"]) == 1
    assert fake_pdk.calls == [([], True)]
    out, err = capsys.readouterr()
    assert out.splitlines() == [
        "project chip (PDK generic)",
        "added (2): fresh, broken",
        "updated (1): old",
        "removed (1): gone",
        "failed (1): chip/cells/a.py",
    ]
    assert err == "tessel: chip/cells/a.py: its cells could not be registered\n"


@pytest.mark.parametrize("verbose", [False, True])
def test_ten_thousand_cells_keep_the_summary_readable(project, fake_pdk, capsys, monkeypatch, verbose):
    monkeypatch.setenv("COLUMNS", "100")
    names = [f"cell_{i:05}" for i in range(10_000)]
    fake_pdk.outcome["add"] = [rec(name) for name in names]
    assert main(["register", *(["-v"] if verbose else [])]) == 0
    lines = capsys.readouterr().out.splitlines()
    if verbose:  # every name on a line of its own
        assert lines[1:10_002] == ["added (10000):", *(f"  {name}" for name in names)]
    else:
        assert len(lines) == 5 and max(map(len, lines)) <= 100
        assert lines[1].startswith("added (10000): cell_00000, cell_00001, ")
        assert lines[1].endswith(" more; -v lists them)")


def test_paths_become_resolved_files_of_the_project(project, fake_pdk):
    cells = project / "chip" / "cells"
    fake_pdk.outcome["add"] = [rec("x", "ERROR", source="chip/cells/b.py")]
    # b.py's cell failed to register: exit status 1.
    assert main(["register", "--no-reload", "cells/a.py", "cells", "../chip/cells/b.py"]) == 1
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
    assert err == f"tessel: project {project}: ImportError: Module 'x' does not expose a PDK in its __init__.py.\n"


@pytest.fixture
def damaged(project, kind):
    db.add_factories(*(rec(f"cell{i:04}") for i in range(2000)))
    return damage_database(db.get_database_path(), kind)


REBUILD = "'tessel register --rebuild' moves it aside and makes a new one"


@pytest.mark.parametrize("kind", DAMAGES)
def test_a_damaged_database_is_one_line_and_rebuild_sets_it_aside(damaged, fake_pdk, capsys):
    path = db.get_database_path()
    assert main(["register"]) == 1
    out, err = capsys.readouterr()
    assert out == "" and err.startswith(f"tessel: {path}: ") and err.endswith(f"; {REBUILD}\n")
    assert err.count("\n") == 1 and path.read_bytes() == damaged
    fake_pdk.outcome["add"] = [rec("fresh")]
    assert main(["register", "--rebuild"]) == 0
    out = capsys.readouterr().out.splitlines()
    [aside] = path.parent.glob("factories.db.*.bak")
    assert out[0] == f"factory database moved aside to .tessel/{aside.name}"
    assert aside.read_bytes() == damaged and list(db.get_all_factories()) == ["fresh"]


@pytest.mark.parametrize("kind", ["random bytes"])
def test_spice_reads_on_with_one_warning_when_the_database_is_damaged(damaged, fake_pdk, capsys):
    fake_pdk.outcome["add"] = [rec("fresh")]
    assert main(["spice", str(EXAMPLES / "mzi.sp")]) == 0
    out, err = capsys.readouterr()
    assert '"mzi"' in out and fake_pdk.calls == [([], True)]
    assert err == (f"tessel: {db.get_database_path()}: warning: damaged: file is not a database (the "
                   f"project's cells are registered without it); {REBUILD}\n")
    assert db.get_database_path().read_bytes() == damaged


# End to end: the real registration on a copy of the example project, each run
# in a fresh process, as a user would run it.

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"
EXAMPLE = EXAMPLES / "project"
CELLS = ["heater_straight", "mzi", "ring_single", "straight_wg", "taper"]


@pytest.fixture
def example(tmp_path, monkeypatch):
    project = tmp_path / "project"
    shutil.copytree(EXAMPLE, project, ignore=shutil.ignore_patterns(".tessel", "__pycache__"))
    # For reading the database from the test process.
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(project))
    return project


TESSEL = "import sys; from tessel.cli import main; sys.exit(main(sys.argv[1:]))"


def spawn(code, *args, cwd, as_user=False):
    """Start `code` in a fresh interpreter in `cwd`, which chooses the project."""
    # As a user's shell has it: Python writes compiled files.
    env = {k: v for k, v in os.environ.items() if k not in ("TESSEL_PROJECT_DIR", "PYTHONDONTWRITEBYTECODE")}
    command = [sys.executable, "-c", textwrap.dedent(code), *args]
    return subprocess.Popen(
        as_a_user(command) if as_user else command,
        cwd=cwd,
        env=env,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )


def finish(process):
    out, err = process.communicate(timeout=120)
    return types.SimpleNamespace(returncode=process.returncode, out=out.splitlines(), err=err)


def register_command(project, *args, cwd=None):
    return finish(spawn(TESSEL, "register", *args, cwd=cwd or project))


def statuses():
    return {name: (r.status, r.message) for name, r in db.get_all_factories().items()}


def test_example_project_registers_its_cells(example):
    first = register_command(example)
    # heaters.py does not import: its cells are registered as errors, and the run fails.
    assert first.returncode == 1, first.err
    assert first.out == [
        "project demo_chip (PDK generic)",
        f"added (5): {', '.join(CELLS)}",
        "updated (0): -",
        "removed (0): -",
        "failed (1): demo_chip/cells/heaters.py",
    ]
    assert first.err.splitlines() == [
        "tessel: demo_chip/cells/heaters.py: No module named 'demo_chip.cells.thermal'"
    ]
    stored = db.get_all_factories()
    assert stored["mzi"].source == "demo_chip/cells/circuits.py"
    assert statuses() == {
        **{name: ("UNKNOWN", "") for name in CELLS},
        "heater_straight": ("ERROR", "No module named 'demo_chip.cells.thermal'"),
    }
    again = register_command(example)
    assert again.returncode == 1, again.err
    assert again.out[1:] == [
        "added (0): -", "updated (0): -", "removed (0): -", "failed (1): demo_chip/cells/heaters.py"
    ]


def test_renamed_and_fixed_cells(example):
    assert register_command(example).returncode == 1
    waveguides = example / "demo_chip" / "cells" / "waveguides.py"
    waveguides.write_text(waveguides.read_text().replace("def taper(", "def taper_linear("))
    renamed = register_command(example)
    assert renamed.out[1:4] == ["added (1): taper_linear", "updated (0): -", "removed (1): taper"]
    # Registering the fixed file explicitly, from a subfolder, rewrites its records.
    (example / "demo_chip" / "cells" / "thermal.py").write_text("HEATER_RESISTANCE = 0.5\n")
    fixed = register_command(example, "heaters.py", cwd=example / "demo_chip" / "cells")
    assert fixed.returncode == 0, fixed.err
    assert fixed.out[1:] == [
        "added (0): -", "updated (1): heater_straight", "removed (0): -", "failed (0): -"
    ]
    assert statuses()["heater_straight"] == ("UNKNOWN", "")


IN_PROCESS = """
    from tessel.core import pdk as ts_pdk
    added, removed = ts_pdk.register_cells()
    pdk = ts_pdk.get_pdk()
    component = pdk.cells["mzi"](delta_length=5.0)
    print(type(component).__name__, [p.name for p in component.ports], component.settings["delta_length"])
    try:
        pdk.cells["heater_straight"]()
    except ImportError as e:
        print("heater_straight:", type(e).__name__, e)
    print("straight" in pdk.cells, sorted(pdk.models["straight_wg"]()))
"""


def test_registered_cells_and_models_are_usable(example):
    result = finish(spawn(IN_PROCESS, cwd=example))
    assert result.returncode == 0, result.err
    assert result.out == [
        "Component ['o1', 'o2'] 5.0",
        "heater_straight: ModuleNotFoundError No module named 'demo_chip.cells.thermal'",
        "True [('o1', 'o2'), ('o2', 'o1')]",
    ]


def test_two_registrations_at_once_lose_nothing(example):
    # Both start on a project without a database.
    runs = [spawn(TESSEL, "register", cwd=example) for _ in range(2)]
    for result in map(finish, runs):
        assert result.returncode == 1, result.err  # heaters.py does not import
    assert sorted(statuses()) == CELLS
    assert statuses()["heater_straight"][0] == "ERROR"


def test_a_project_whose_database_cannot_be_written_still_reads_its_netlists(example):
    assert register_command(example).returncode == 1  # heaters.py does not import
    path = db.get_database_path()
    path.parent.chmod(0o555)
    before = path.read_bytes()
    (example / "top.sp").write_text(".subckt top in out\nXmzi in out mzi delta_length=5\n.ends\n")
    try:
        spice = finish(spawn(TESSEL, "spice", "top.sp", cwd=example, as_user=True))
        register = finish(spawn(TESSEL, "register", cwd=example, as_user=True))
    finally:
        path.parent.chmod(0o755)
    # The project's cells are registered all the same; one warning names the database.
    assert spice.returncode == 0, spice.err
    assert json.loads("\n".join(spice.out))["top"]["ports"] == {"in": "Xmzi,o1", "out": "Xmzi,o2"}
    [warning] = [line for line in spice.err.splitlines() if str(path) in line]
    assert warning.startswith(f"tessel: {path}: warning: ")
    assert (register.returncode, register.out) == (1, [])
    assert register.err.startswith(f"tessel: {path}: ") and register.err.count("\n") == 1
    assert path.read_bytes() == before


def tree(folder):
    """Every file and folder below `folder`, with each file's bytes and modification time."""
    return {p.relative_to(folder): p.is_dir() or (p.read_bytes(), p.stat().st_mtime_ns)
            for p in folder.rglob("*")}


@pytest.mark.parametrize("database", [False, True], ids=["no database", "a database"])
def test_check_writes_nothing_in_the_project(example, database):
    if database:
        assert register_command(example).returncode == 1
        # A registration that writes would now change the database.
        waveguides = example / "demo_chip" / "cells" / "waveguides.py"
        waveguides.write_text(waveguides.read_text().replace("def taper(", "def taper_linear("))
    (example / "top.sp").write_text(".subckt top in out\nXmzi in out mzi delta_length=5\n.ends\n")
    before = tree(example)
    check = finish(spawn(TESSEL, "check", "top.sp", cwd=example))
    # The project's cells were registered (mzi is one of them), and nothing was written.
    assert (check.returncode, check.out) == (0, []), check.err
    assert tree(example) == before

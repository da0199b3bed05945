"""``tessel spice``: the netlist dictionary on stdout, one clear line on stderr when it fails."""

from __future__ import annotations

import importlib.metadata
import io
import json
import math
import os
import shutil
import signal
import subprocess
import sys
import time
import warnings
from pathlib import Path

import pytest
import yaml

from tessel.cli import main
from tessel.cli.spice import parse_number_or_text
from tessel.core import spiceread
from tessel.core.spiceread import parse_oc_spice

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"

PARAMETRISED = """\
.subckt top a b
R1 a mid r='rval'
X1 mid b wg length='len'
.ends
"""


@pytest.fixture(autouse=True)
def generic_project(monkeypatch, tmp_path):
    # No project around: the generic PDK.
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(tmp_path))


def run(capsys, *argv):
    status = main(["spice", *map(str, argv)])
    out, err = capsys.readouterr()
    return status, out, err


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("3", 3),
        ("-12", -12),
        ("+7", 7),
        ("2.5", 2.5),
        ("1e-6", 1e-6),
        (".5", 0.5),
        ("5.", 5.0),
        (" 4 ", 4),
        # Not numbers: kept as written.
        ("nan", "nan"),
        ("inf", "inf"),
        ("10u", "10u"),
        ("0x10", "0x10"),
        ("1_000", "1_000"),
        ("", ""),
        ("abc", "abc"),
    ],
)
def test_param_values_are_numbers_when_they_look_like_numbers(text, expected):
    value = parse_number_or_text(text)
    assert value == expected and type(value) is type(expected)


def test_prints_the_netlist_as_json(capsys):
    status, out, err = run(capsys, EXAMPLES / "mzi.sp")
    assert status == 0, err
    netlist = json.loads(out)
    assert list(netlist) == ["mzi"]
    assert netlist["mzi"]["ports"] == {"in": "Xsplit,o1", "out": "Xjoin,o1"}


def test_yaml_gives_the_same_dictionary(capsys):
    _, as_json, _ = run(capsys, EXAMPLES / "nested.sp")
    status, as_yaml, err = run(capsys, EXAMPLES / "nested.sp", "--format", "yaml")
    assert status == 0, err
    assert yaml.safe_load(as_yaml) == json.loads(as_json)


def test_params_maps_and_keymap_reach_the_reader(capsys, tmp_path):
    path = tmp_path / "top.sp"
    path.write_text(PARAMETRISED)
    status, out, err = run(
        capsys, path,
        "--param", "rval=50", "--param", "len=2.5", "--param", "len=12.5",
        "--component-map", "wg=straight",
        "--settings-keymap", "len=ignored", "--settings-keymap", "length=L",
    )
    assert status == 0, err
    top = json.loads(out)["top"]
    assert top["instances"]["R1"] == {"component": "resistor", "settings": {"r": 50}}
    # The last --param of a name counts; keys are mapped after reading.
    assert top["instances"]["X1"] == {"component": "straight", "settings": {"L": 12.5}}


@pytest.mark.parametrize(
    ("content", "error"),
    [
        (None, "FileNotFoundError"),
        (".subckt top a\nR1 a n\nR2 n b\nR3 n c\n.ends\n", "ParseError: Net 'n'"),
        (".subckt top a\n.end\n", "ParseError: Unsupported command: .end."),
        (".subckt top a\nU1 a b nothing_known\n.ends\n", "TypeError: Instance 'U1'"),
    ],
)
def test_failures_are_one_line_on_stderr(capsys, tmp_path, content, error):
    path = tmp_path / "bad.sp"
    if content is not None:
        path.write_text(content)
    status, out, err = run(capsys, path)
    assert status == 1
    assert out == ""
    lines = err.strip().splitlines()
    assert len(lines) == 1
    assert str(path) in lines[0] and error in lines[0]


@pytest.mark.parametrize("quiet", [False, True])
def test_warnings_name_the_line_and_quiet_silences_them(capsys, tmp_path, quiet):
    path = tmp_path / "top.sp"
    path.write_text(PARAMETRISED)
    status, out, err = run(capsys, path, "--param", "rval=50", "--component-map", "wg=straight",
                           *(["-q"] if quiet else []))
    assert status == 0 and json.loads(out)["top"]["instances"]["X1"]["settings"] == {"length": None}
    assert err == ("" if quiet else f"tessel: {path}:3: warning: Could not parse 'len'. Setting it to None "
                   "(to be specified during the circuit call). You can also set the value of 'len' "
                   "with --param len=VALUE [X1 mid b wg length='len']\n")


@pytest.mark.parametrize(
    ("notes", "expected"),
    [
        ([], "{path}: ParseError: Unsupported command: .end."),
        (["{path}:3: .end"], "{path}:3: ParseError: Unsupported command: .end. [.end]"),
        (["while reading", "{path}:3: .end"],
         "{path}:3: ParseError: Unsupported command: .end. [while reading; .end]"),
    ],
)
def test_a_note_with_the_line_places_the_error(capsys, monkeypatch, tmp_path, notes, expected):
    path = tmp_path / "bad.sp"

    def failing_reader(path_or_buf, **kwargs):
        error = spiceread.ParseError("Unsupported command: .end.")
        for note in notes:
            error.add_note(note.format(path=path_or_buf))
        raise error

    monkeypatch.setattr(spiceread, "parse_oc_spice", failing_reader)
    assert run(capsys, path) == (1, "", "tessel: " + expected.format(path=path) + "\n")


@pytest.mark.parametrize(
    ("source", "notes", "expected"),
    [
        ("path", ["{path}:3: X1 a b wg k='v'"], "{path}:3: warning: Could not parse 'v'. [X1 a b wg k='v']"),
        ("path", [], "{path}: warning: Could not parse 'v'."),
        # A stream's note names no file: the command says which it read.
        ("stdin", ["<stream>:3: X1 a b wg k='v'"], "<stdin>:3: warning: Could not parse 'v'. [X1 a b wg k='v']"),
    ],
)
def test_a_warning_with_a_note_names_its_line(capsys, monkeypatch, tmp_path, source, notes, expected):
    path = tmp_path / "top.sp"

    def warning_reader(path_or_buf, **kwargs):
        warning = spiceread.ParseWarning("Could not parse 'v'.")
        for note in notes:
            warning.add_note(note.format(path=path_or_buf))
        warnings.warn(warning, stacklevel=2)
        return {}

    monkeypatch.setattr(spiceread, "parse_oc_spice", warning_reader)
    monkeypatch.setattr(sys, "stdin", io.StringIO(""))
    status, _, err = run(capsys, path if source == "path" else "-")
    assert (status, err) == (0, "tessel: " + expected.format(path=path) + "\n")


@pytest.mark.parametrize(
    ("netlist", "options", "hint"),
    [
        (".subckt top a b\nX1 a b straigth\n.ends\n", [], " Did you mean 'straight'? [X1 a b straigth]"),
        (".subckt top a b\nX1 a b wg\n.ends\n", ["--component-map", "wg=bend_eular"],
         " Did you mean 'bend_euler'? [X1 a b wg]"),
        (".subckt mzi_arm a b\nX1 a b straight\n.ends\n.subckt top a b\nX1 a b mzi_amr\n.ends\n", [],
         " Did you mean 'mzi_arm'? [X1 a b mzi_amr]"),
        # Nothing close: no guess.
        (".subckt top a b\nX1 a b tapered_thing\n.ends\n", [], " [X1 a b tapered_thing]"),
    ],
)
@pytest.mark.parametrize("source", ["path", "stdin"])
def test_an_unknown_component_comes_with_close_names(capsys, monkeypatch, tmp_path, netlist, options,
                                                     hint, source):
    path = tmp_path / "top.sp"
    path.write_text(netlist)
    monkeypatch.setattr(sys, "stdin", io.StringIO(netlist))
    status, out, err = run(capsys, path if source == "path" else "-", *options)
    assert (status, out) == (1, "")
    assert err.startswith("tessel: ") and err.endswith(f"of this netlist.{hint}\n") and err.count("\n") == 1


@pytest.mark.parametrize("option", ["--param", "--component-map", "--settings-keymap"])
@pytest.mark.parametrize("value", ["novalue", "=5"])
def test_malformed_pairs_are_usage_errors(capsys, option, value):
    with pytest.raises(SystemExit) as info:
        main(["spice", str(EXAMPLES / "mzi.sp"), option, value])
    assert info.value.code == 2
    assert "NAME=VALUE" in capsys.readouterr().err


@pytest.mark.parametrize("command", [["spice", "--bogus", "a.sp"], ["register", "--bogus"],
                                     ["check", "a.sp", "--bogus"]])
def test_an_unknown_option_is_the_commands_usage_error(capsys, command):
    with pytest.raises(SystemExit) as info:
        main(command)
    assert info.value.code == 2
    assert capsys.readouterr().err.splitlines()[-1] == (
        f"tessel {command[0]}: error: unrecognized arguments: --bogus")


def test_the_installed_command_runs_the_readme_example(tmp_path):
    # The README's main job: the console entry on the bundled MZI.
    code = "import sys; from tessel.cli import main; sys.exit(main(sys.argv[1:]))"
    done = subprocess.run(
        [sys.executable, "-c", code, "spice", str(EXAMPLES / "mzi.sp")],
        capture_output=True, text=True, env={**os.environ, "TESSEL_PROJECT_DIR": str(tmp_path)},
    )
    assert done.returncode == 0, done.stderr
    assert "Xsplit,o1" in done.stdout



# The installed command in a fresh process, as a user runs it.

TESSEL = shutil.which("tessel", path=str(Path(sys.executable).parent)) or "tessel"
NON_FINITE = ".subckt t a b\nX1 a m straight length=inf width=nan\nX2 m b straight length=-inf\n.ends\n"


def environment(project):
    env = {k: v for k, v in os.environ.items() if k not in ("TESSEL_PROJECT_DIR", "TESSEL_PDK")}
    return env if project is None else {**env, "TESSEL_PROJECT_DIR": str(project)}


def tessel(*args, cwd=None, project=None, stdout=subprocess.PIPE, **kwargs):
    return subprocess.run([TESSEL, *map(str, args)], stdout=stdout, stderr=subprocess.PIPE,
                          text=True, cwd=cwd, env=environment(project), **kwargs)


def start(*args, project):
    return subprocess.Popen([TESSEL, *map(str, args)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=environment(project))


@pytest.mark.parametrize("command", [[TESSEL], [sys.executable, "-m", "tessel"]])
def test_version_of_the_command_and_of_python_dash_m(command):
    done = subprocess.run([*command, "--version"], capture_output=True, text=True)
    assert (done.returncode, done.stdout) == (0, f"tessel {importlib.metadata.version('tessel')}\n")


@pytest.fixture
def inputs(tmp_path):
    (tmp_path / "t.sp").write_text(NON_FINITE)
    (tmp_path / "bad.sp").write_text(".subckt top a\n.end\n")
    return tmp_path


def test_several_files_and_stdin_into_one_file(inputs):
    mzi = EXAMPLES / "mzi.sp"
    done = tessel("spice", mzi, "-", "t.sp", "bad.sp", "-o", "all.json", cwd=inputs,
                  project=inputs, input=(EXAMPLES / "ring.sp").read_text())
    # The bad file fails the run; the others are still read, one result per path as given.
    assert (done.returncode, done.stdout) == (1, "")
    assert done.stderr == "tessel: bad.sp:2: ParseError: Unsupported command: .end. [.end]\n"
    results = json.loads((inputs / "all.json").read_text(), parse_constant=pytest.fail)
    assert list(results) == [str(mzi), "-", "t.sp"]
    assert results[str(mzi)] == json.loads(json.dumps(parse_oc_spice(mzi)))
    assert list(results["-"]) == ["ring_filter"]
    # JSON has no infinities: they are written as strings.
    instances = results["t.sp"]["t"]["instances"]
    assert instances["X1"]["settings"] == {"length": "Infinity", "width": "NaN"}
    assert instances["X2"]["settings"] == {"length": "-Infinity"}


def test_several_files_into_a_folder(inputs):
    done = tessel("spice", EXAMPLES / "mzi.sp", "t.sp", "--out-dir", "out", "--format", "yaml",
                  cwd=inputs, project=inputs)
    assert done.returncode == 0, done.stderr
    out = inputs / "out"
    assert sorted(p.name for p in out.iterdir()) == ["mzi.yaml", "t.yaml"]
    assert yaml.safe_load((out / "mzi.yaml").read_text()) == json.loads(
        json.dumps(parse_oc_spice(EXAMPLES / "mzi.sp")))
    instances = yaml.safe_load((out / "t.yaml").read_text())["t"]["instances"]
    assert instances["X2"]["settings"] == {"length": -math.inf}


def test_full_disk_and_closed_pipe_end_without_a_traceback(tmp_path):
    with open("/dev/full", "w") as device:
        full = tessel("spice", EXAMPLES / "mzi.sp", project=tmp_path, stdout=device)
    assert (full.returncode, full.stderr) == (1, "tessel: <stdout>: OSError: No space left on device\n")
    big = tmp_path / "big.sp"
    big.write_text(".subckt big a b\n" + "".join(
        f"R{i} n{i} n{i + 1} r=1\n" for i in range(20000)).replace("n0 ", "a ", 1) + ".ends\n")
    with start("spice", big, project=tmp_path) as reader:
        reader.stdout.read(10)
        reader.stdout.close()
        assert reader.wait(timeout=120) == 1
        assert reader.stderr.read() == b""


def test_ctrl_c_while_the_circuit_library_loads_stops_at_once(tmp_path):
    # Reading the first netlist imports sax and its numerical stack: seconds of native code.
    reader = start("spice", EXAMPLES / "mzi.sp", project=tmp_path)
    time.sleep(1.0)
    reader.send_signal(signal.SIGINT)
    sent = time.monotonic()
    _, err = reader.communicate(timeout=60)
    assert time.monotonic() - sent < 2
    assert reader.returncode in (-signal.SIGINT, 130) and b"Traceback" not in err


PROJECT_NETLIST = ".subckt top in out\nXmzi in mid mzi delta_length=5\nXwg mid out straight_wg\n.ends\n"


@pytest.fixture
def chip(tmp_path):
    project = tmp_path / "project"
    shutil.copytree(EXAMPLES / "project", project, ignore=shutil.ignore_patterns(".tessel", "__pycache__"))
    (project / "top.sp").write_text(PROJECT_NETLIST)
    return project


@pytest.mark.parametrize("how", ["nearest", "--project"])
def test_netlists_of_project_cells_resolve(chip, tmp_path, how):
    if how == "nearest":
        done = tessel("spice", "../top.sp", cwd=chip / "demo_chip")
    else:
        done = tessel("spice", chip / "top.sp", "--project", chip, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    top = json.loads(done.stdout)["top"]
    assert top["connections"] == {"Xmzi,o2": "Xwg,o1"}
    assert top["ports"] == {"in": "Xmzi,o1", "out": "Xwg,o2"}
    # The project's broken file is a warning, by its path in the project.
    assert "demo_chip/cells/heaters.py: warning:" in done.stderr


def test_a_broken_pyproject_is_a_settings_problem_not_the_netlists(chip):
    (chip / "pyproject.toml").write_text("[tool.tessel\n")
    done = tessel("spice", "top.sp", cwd=chip)
    assert done.returncode == 1 and done.stdout == ""
    assert done.stderr.startswith(f"tessel: project settings: Malformed TOML in {chip}")
    assert "top.sp" not in done.stderr


def test_pdk_option_picks_the_pdk(tmp_path):
    done = tessel("spice", EXAMPLES / "mzi.sp", "--pdk", "no_such_pdk", project=tmp_path)
    assert done.returncode == 1
    assert done.stderr == "tessel: PDK 'no_such_pdk': ModuleNotFoundError: No module named 'no_such_pdk'\n"

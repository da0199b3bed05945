"""``tessel spice``: the netlist dictionary on stdout, one clear line on stderr when it fails."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
import yaml

from tessel.cli import main
from tessel.cli.spice import parse_number_or_text

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


@pytest.mark.parametrize("option", ["--param", "--component-map", "--settings-keymap"])
@pytest.mark.parametrize("value", ["novalue", "=5"])
def test_malformed_pairs_are_usage_errors(capsys, option, value):
    with pytest.raises(SystemExit) as info:
        main(["spice", str(EXAMPLES / "mzi.sp"), option, value])
    assert info.value.code == 2
    assert "NAME=VALUE" in capsys.readouterr().err


def test_the_installed_command_runs_the_readme_example(tmp_path):
    # The README's main job: the console entry on the bundled MZI.
    code = "import sys; from tessel.cli import main; sys.exit(main(sys.argv[1:]))"
    done = subprocess.run(
        [sys.executable, "-c", code, "spice", str(EXAMPLES / "mzi.sp")],
        capture_output=True, text=True, env={**os.environ, "TESSEL_PROJECT_DIR": str(tmp_path)},
    )
    assert done.returncode == 0, done.stderr
    assert "Xsplit,o1" in done.stdout


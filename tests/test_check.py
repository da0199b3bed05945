"""`tessel check`: each kind of likely mistake is found at its line, and good netlists pass."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"

BAD = """\
* every problem the checks know
X0 a b straight
.subckt top a b unused
R1 a N$0
X1 a mid straight length='nope' width=0.005
X1 mid typo_net straight length=3meg r=2.2k
X2 mid b straight
.ends
.subckt top a
X9 a a straight
.ends
.subckt open a
"""

# (line, code) of each finding in BAD, and the parameter nobody uses.
EXPECTED = {
    (0, "TS113"),    # --param unused=1
    (2, "TS102"),    # outside any subcircuit
    (3, "TS107"),    # port 'unused'
    (4, "TS106"),    # 'N' has one terminal
    (4, "TS111"),    # N$0 is cut
    (7, "TS120"),    # 'mid' has three terminals: the reader refuses it
    (5, "TS108"),    # port 'a' on R1 and X1
    (5, "TS110"),    # width=0.005 is taken for metres
    (5, "TS112"),    # 'nope' names no parameter
    (6, "TS105"),    # X1 again
    (6, "TS106"),    # typo_net
    (6, "TS109"),    # 3meg
    (6, "TS109"),    # 2.2k
    (9, "TS104"),    # top again
    (10, "TS108"),   # a twice on X9
    (12, "TS103"),   # no .ends
}


def tessel(*args: str, stdin: str | None = None) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "tessel", *args], input=stdin,
                          capture_output=True, text=True, env={**os.environ, "TESSEL_PDK": "generic"})


def test_each_problem_is_found_at_its_line(tmp_path):
    path = tmp_path / "bad.sp"
    path.write_text(BAD)
    done = tessel("check", str(path), "--param", "unused=1", "--format", "json")
    assert done.returncode == 1, done.stderr
    found = json.loads(done.stdout)
    assert {(f["line"], f["code"]) for f in found} == EXPECTED
    assert {f["severity"] for f in found if f["code"] == "TS120"} == {"error"}
    text = tessel("check", "-", stdin=BAD)
    assert text.returncode == 1
    assert "<stdin>:4:7: TS111 the '$' in 'N$0' starts a comment: the line is cut there" in text.stdout


@pytest.mark.parametrize(
    ("netlist", "message"),
    [
        (".SUBCKT top a\n", "Commands are lower case: write .subckt"),
        (".subckt top a\nX1 a m\n.ends\n.end\n", "A netlist ends without .end"),
    ],
)
def test_unsupported_commands_come_with_a_hint(netlist, message):
    done = tessel("check", "-", stdin=netlist)
    assert done.returncode == 1 and message in done.stdout and " TS101 " in done.stdout


def test_the_examples_are_clean():
    done = tessel("check", *map(str, sorted(EXAMPLES.glob("*.sp"))))
    assert (done.returncode, done.stdout, done.stderr) == (0, "", "")


def test_usage_errors_exit_2():
    assert tessel("check").returncode == 2


def test_every_code_is_documented():
    from tessel.check.docs import update

    doc = (EXAMPLES.parent / "docs" / "checks.md").read_text()
    assert doc == update(doc), "docs/checks.md differs from the registry: python -m tessel.check.docs"

"""Each check finds its mistake at the word concerned, in a fixture of its own, and is silent on
the examples and on a clean corpus file."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

from tessel.check import RULES

ROOT = Path(__file__).resolve().parents[1]
CORPUS = ROOT.parent / "shared" / "corpus" / "files"
CLEAN = "ALIGN-analoglayout__ALIGN-public/examples__fixed_height__fixed_height.sp"

TOP = ".subckt top a b\n"
TOP3 = ".subckt top a b c\n"
END = ".ends\n"

# code: (netlist, (line, col) of the finding; 0, 0 for the whole file)
FIXTURES: dict[str, tuple[str | bytes | None, tuple[int, int]]] = {
    "TS100": (b".subckt top a b\nX1 a b straight length=\xff\n.ends\n", (2, 24)),
    "TS101": (TOP + "X1 a b straight\n" + END + ".end\n", (4, 1)),
    "TS102": ("X0 a b straight\nX9 b c straight\n" + TOP + "X1 a b straight\n" + END, (1, 1)),
    "TS103": (".subckt open a b\nX1 a b straight\n", (1, 9)),
    "TS104": (TOP + "X1 a b straight\n" + END + TOP + "X1 a b straight\n" + END, (4, 9)),
    "TS105": (TOP + "X1 a m straight\nX1 m b straight\n" + END, (3, 1)),
    "TS106": (".subckt top a\nX1 a typo straight\n" + END, (2, 6)),
    "TS107": (".subckt top a b unused\nX1 a b straight\n" + END, (1, 17)),
    "TS108": (".subckt top a\nX1 a m straight\nX2 a m straight\n" + END, (3, 4)),
    "TS109": (TOP + "X1 a b straight length=2.2k\n" + END, (2, 24)),
    "TS110": (TOP + "X1 a b straight loss=0.005\n" + END, (2, 22)),
    "TS111": (TOP + "R1 a b$0\n" + END, (2, 7)),
    "TS112": (TOP + "X1 a b straight length='arm'\n" + END, (2, 24)),
    "TS113": (TOP + "X1 a b straight\n" + END, (0, 0)),
    "TS114": (TOP + "X1 a b straight\n" + END + END, (4, 1)),
    "TS115": (".subckt\n" + TOP + "X1 a b straight\n" + END, (1, 1)),
    "TS116": (TOP + "X1 a b straight\n\n+ length=10\n" + END, (4, 3)),
    "TS117": (TOP + "X1 a b straight length==10\n" + END, (2, 17)),
    "TS118": (TOP + "X1 a b straight length='[1,'\n" + END, (2, 24)),
    "TS119": (TOP + "X1 a b straight $ location=(1,2)\n" + END, (2, 17)),
    "TS120": (TOP3 + "X1 a m straight\nX2 m b straight\nX3 m c straight\n" + END, (4, 4)),
    "TS121": (TOP + "X1 a b stright\n" + END, (2, 8)),
    "TS122": (TOP3 + "X1 a b c straight\n" + END, (2, 8)),
    "TS123": (".subckt top a\nX1 a coupler\n" + END, (2, 1)),
    "TS124": (".subckt outer a b\nX1 a m straight\n.subckt inner c d\nX2 c d straight\n" + END
              + "X3 m b straight\n" + END, (2, 1)),
    "TS125": (TOP + "X1 a b straight length=10000u\n" + END, (2, 24)),
    "TS126": (TOP + "X1 a b straight length='10\n" + END, (2, 17)),
    "TS127": (TOP + "X1 a b straight widths={1,2\n" + END, (2, 24)),
    "TS128": (TOP + "X1 a b top\n" + END, (2, 8)),
    "TS129": ("* a title\nR1 a b r=10\n", (0, 0)),
    "TS130": (TOP + "X1 a b straight $ loc=(1,2,0)\n" + END, (2, 17)),
    "TS131": ("\ufeff" + TOP + "X1 a b straight\n" + END, (1, 1)),
    "TS132": (None, (0, 0)),
}


# What a fixture's mistake brings with it: the moved elements leave nets open; a byte-order
# mark hides the first .subckt, so .ends closes nothing.
CONSEQUENCES = {"TS124": {"TS106", "TS107"}, "TS131": {"TS114"}}


def tessel(*args: str, cwd: Path | None = None) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "tessel", *args], capture_output=True, text=True,
                          cwd=cwd, env={**os.environ, "TESSEL_PDK": "generic"})


@pytest.fixture(scope="module")
def found(tmp_path_factory) -> dict[str, list[dict]]:
    """Each fixture's findings, from one run of tessel check over all of them."""
    folder = tmp_path_factory.mktemp("fixtures")
    for code, (netlist, _) in FIXTURES.items():
        if netlist is not None:
            path = folder / f"{code}.sp"
            path.write_bytes(netlist if isinstance(netlist, bytes) else netlist.encode())
    done = tessel("check", "--format", "json", "--param", "unused=1", *(f"{c}.sp" for c in FIXTURES),
                  cwd=folder)
    assert done.returncode == 2, done.stderr  # TS132.sp cannot be read
    by_file: dict[str, list[dict]] = {code: [] for code in FIXTURES}
    for f in json.loads(done.stdout):
        by_file[Path(f["path"]).stem].append(f)
    return by_file


def test_every_rule_has_a_fixture():
    assert sorted(FIXTURES) == sorted(RULES)


@pytest.mark.parametrize("code", sorted(FIXTURES))
def test_each_check_finds_its_mistake_at_its_word(found, code):
    expected = FIXTURES[code][1]
    places = [(f["line"], f["col"]) for f in found[code] if f["code"] == code]
    assert places == [expected], found[code]
    # The parameter nobody uses is the only other finding a fixture may have.
    assert {f["code"] for f in found[code]} <= {code, "TS113", *CONSEQUENCES.get(code, ())}


@pytest.mark.parametrize("netlists", [
    pytest.param(sorted(map(str, (ROOT / "examples").glob("*.sp"))), id="examples"),
    pytest.param([str(CORPUS / CLEAN)], id="corpus",
                 marks=pytest.mark.skipif(not (CORPUS / CLEAN).is_file(), reason="no corpus")),
])
def test_good_netlists_are_clean(netlists):
    done = tessel("check", *netlists)
    assert (done.returncode, done.stdout, done.stderr) == (0, "", "")

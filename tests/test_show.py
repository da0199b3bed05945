"""``tessel show``: what the drawing holds, the SVG files, and the command's own errors.

What the page does in a browser is tested in ``test_show_browser.py``.
"""

from __future__ import annotations

import xml.etree.ElementTree as ET
from pathlib import Path
from types import SimpleNamespace

import pytest

from tessel.check import check_netlist
from tessel.cli import main
from tessel.core.spiceread import parse_oc_spice
from tessel.show import draw
from tessel.show.scene import LONE, PORT, UNUSED, WIRE

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"
SVG = "{http://www.w3.org/2000/svg}"

# A Mach-Zehnder with mistakes: a declared port no element uses, a misspelt net, an element
# with one net of two, an MMI with a port left open, instances without a location.
MISTAKES = """\
* A Mach-Zehnder with mistakes.
.subckt mzi in out spare
Xsplit in top_a bot_a mmi1x2          $ location=(0,0,0)
Xtop   top_a top_b straight length=10 $ location=(15,5,0)
Xbot   bot_a bot_bb straight length=30
Xjoin  out top_b mmi1x2               $ location=(50,0,180)
Xtap   tap straight
.ends
"""


@pytest.fixture(autouse=True)
def generic_project(monkeypatch, tmp_path):
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(tmp_path))
    monkeypatch.chdir(tmp_path)


def sheets_of(text: str, findings=()):
    path = Path("netlist.sp")
    path.write_text(text)
    return draw(parse_oc_spice(path), text, findings)


def test_ports_open_ends_and_layout_follow_the_netlist():
    [sheet], _ = sheets_of(MISTAKES)
    insts = {i.name: i for i in sheet.instances}
    names = {name: sheet.symbols[i.symbol].names for name, i in insts.items()}
    assert names["Xsplit"] == ("o1", "o2", "o3") and names["Xtap"] == ("o1", "o2")
    open_ports = {(name, names[name][p]) for name, i in insts.items() for p, n in enumerate(i.nets) if n < 0}
    assert open_ports == {("Xjoin", "o3"), ("Xtap", "o2")}
    kinds = {n.name: n.kind for n in sheet.nets}
    assert kinds == {"top_a": WIRE, "bot_a": WIRE, "top_b": WIRE, "in": PORT, "out": PORT,
                     "bot_bb": LONE, "tap": LONE, "spare": UNUSED}
    assert [i.placed for i in sheet.instances] == [True, True, False, True, False]
    # Placed instances sit at their location, y downwards; the others below them, apart.
    assert (insts["Xtop"].x, insts["Xtop"].y) == (15.0, -5.0)
    boxes = [(i.x, i.y) for i in sheet.instances]
    assert len(set(boxes)) == len(boxes)
    assert min(insts["Xbot"].y, insts["Xtap"].y) > max(insts[n].y for n in ("Xsplit", "Xtop", "Xjoin"))


def test_subcircuit_instances_take_its_declared_ports_and_port_placements_place_that_port():
    sheets, _ = sheets_of((EXAMPLES / "nested.sp").read_text())
    lattice = {i.name: (i, sheets[0].symbols[i.symbol]) for i in sheets[0].instances}
    inst, symbol = lattice["Xs1"]
    assert symbol.names == ("in1", "in2", "out1", "out2")
    inst, symbol = lattice["Xgc_in"]  # location=((o2)(-40,0,0))
    x, y = symbol.ports[symbol.names.index("o2")][:2]
    assert (inst.x + x, inst.y + y) == pytest.approx((-40.0, 0.0))


def test_a_netlist_without_locations_is_laid_out_left_to_right():
    text = "".join(f"X{k} n{k} n{k + 1} straight\n" for k in range(6))
    [sheet], _ = sheets_of(f".subckt chain n0 n6\n{text}.ends\n")
    xs = [i.x for i in sheet.instances]
    assert not any(i.placed for i in sheet.instances) and xs == sorted(xs) and len(set(xs)) == 6


@pytest.mark.parametrize(
    ("names", "expected"),
    [
        # Without names, the element on the finding's line.
        ({}, ("mzi", "Xbot", [])),
        # With the names that the checks give.
        ({"subckt": "mzi", "instance": None, "net": "bot_bb"}, ("mzi", None, ["bot_bb"])),
        ({"subckt": "mzi", "instance": "Xtap", "net": None}, ("mzi", "Xtap", [])),
    ],
)
def test_each_finding_points_at_its_instance_or_net(names, expected):
    finding = SimpleNamespace(line=5, code="TS106", message="", severity="warning", **names)
    [sheet], [target] = sheets_of(MISTAKES, [finding])
    got = (sheet.name if target.sheet == 0 else None,
           sheet.instances[target.instance].name if target.instance >= 0 else None,
           [sheet.nets[n].name for n in target.nets])
    assert got == expected


def test_the_checks_findings_are_located():
    Path("netlist.sp").write_text(MISTAKES)
    findings = check_netlist("netlist.sp")
    [sheet], targets = sheets_of(MISTAKES, findings)
    assert {t.sheet for t in targets} == {0}
    assert all(t.instance >= 0 or t.nets or f.code == "TS107" for f, t in zip(findings, targets))


def test_svg_files_hold_one_group_per_instance_at_its_placement(capsys):
    assert main(["show", str(EXAMPLES / "nested.sp"), "-o", "lattice.svg"]) == 0
    assert "lattice.svg, lattice-stage.svg" in capsys.readouterr().err
    netlists = parse_oc_spice(EXAMPLES / "nested.sp")
    for name, file in (("lattice", "lattice.svg"), ("stage", "lattice-stage.svg")):
        root = ET.parse(file).getroot()
        groups = [g for g in root.iter(f"{SVG}g") if g.get("class", "").split()[:1] == ["inst"]]
        assert len(groups) == len(netlists[name]["instances"])
        for g in groups:
            placement = netlists[name]["placements"][g.find(f"{SVG}g/{SVG}text").text]
            if "port" not in placement:
                assert g.get("transform") == f"translate({placement['x']:g},{-placement['y']:g})"


def test_the_page_is_one_file_that_loads_nothing(capsys):
    assert main(["show", str(EXAMPLES / "mzi.sp")]) == 0
    page = Path("mzi.html").read_text(encoding="utf-8")
    assert "wrote mzi.html" in capsys.readouterr().err
    assert "<script src" not in page and "http" not in page.replace("http://www.w3.org/2000/svg", "")


@pytest.mark.parametrize(
    ("argv", "stdin", "status", "message"),
    [
        (["--subckt", "stag", "nested.sp"], "", 2, "no such subcircuit with elements (there are: lattice, "
         "stage); did you mean 'stage'?"),
        (["-o", "out.png", "nested.sp"], "", 2, "-o out.png: write OUT.html for the page or OUT.svg"),
        (["--open", "-o", "-", "nested.sp"], "", 2, "--open needs a file to open"),
        (["-"], ".subckt top a\nR1 a b\nR2 b c\nR3 b d\n.ends\n", 1, "ParseError: Net 'b' is connected to more than two ports"),
        (["-"], "* nothing\n", 1, "holds no subcircuit with elements: nothing to draw"),
    ],
)
def test_what_cannot_be_drawn_is_said_on_one_line(argv, stdin, status, message, capsys, monkeypatch):
    import io

    monkeypatch.setattr("sys.stdin", io.StringIO(stdin))
    argv = [str(EXAMPLES / a) if a.endswith(".sp") else a for a in argv]
    assert main(["show", *argv]) == status
    assert message in capsys.readouterr().err
    assert not list(Path().glob("*.html"))

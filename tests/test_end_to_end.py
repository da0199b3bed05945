"""From netlist text to S-parameters: the reader with the generic PDK and the real circuit library."""

from __future__ import annotations

import gc
import io
import sys
import types
import warnings
from pathlib import Path

import numpy as np
import pytest

sax = pytest.importorskip("sax")

import tessel.core.spiceread as sr  # noqa: E402
from tessel.core.pdk import get_pdk  # noqa: E402

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
WAVELENGTHS = np.linspace(1.50, 1.60, 41)


@pytest.fixture(autouse=True)
def generic_project(monkeypatch, tmp_path):
    # No project around: the generic PDK; port lists found for another PDK must not leak in.
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(tmp_path))
    sr._get_ports.cache_clear()
    yield
    sr._get_ports.cache_clear()


@pytest.fixture
def models():
    return get_pdk().models


def s_parameters(netlist, models):
    circuit, _ = sax.circuit(netlist, models=models)
    return circuit(wl=WAVELENGTHS)


def test_mzi_simulates_like_the_same_circuit_written_by_hand(models):
    netlist = sr.parse_oc_spice(EXAMPLES / "mzi.sp")
    by_hand = {
        "instances": {
            "split": {"component": "mmi1x2"},
            "top": {"component": "straight", "settings": {"length": 10.0}},
            "bottom": {"component": "straight", "settings": {"length": 30.0}},
            "join": {"component": "mmi1x2"},
        },
        "connections": {
            "split,o2": "top,o1",
            "split,o3": "bottom,o1",
            "top,o2": "join,o2",
            "bottom,o2": "join,o3",
        },
        "ports": {"in": "split,o1", "out": "join,o1"},
    }
    read = s_parameters(netlist, models)
    expected = s_parameters(by_hand, models)
    assert set(read) == set(expected) == {(a, b) for a in ("in", "out") for b in ("in", "out")}
    for key, value in expected.items():
        np.testing.assert_allclose(read[key], value, rtol=1e-12, atol=1e-12)
    # Not a trivial match: the arms interfere, so transmission swings with wavelength.
    transmission = np.abs(read["in", "out"]) ** 2
    assert transmission.max() > 0.5 > 0.05 > transmission.min()


def test_mzi_reads_its_placements_and_port_names():
    mzi = sr.parse_oc_spice(EXAMPLES / "mzi.sp")["mzi"]
    assert mzi["placements"]["Xjoin"] == {"x": 50.0, "y": 0.0, "rotation": 180.0}
    assert mzi["connections"] == {
        "Xsplit,o2": "Xtop,o1",
        "Xsplit,o3": "Xbot,o1",
        "Xtop,o2": "Xjoin,o2",
        "Xbot,o2": "Xjoin,o3",
    }
    assert mzi["instances"]["Xbot"] == {"component": "straight", "settings": {"length": 30.0}}


def test_a_stream_and_a_path_read_the_same():
    path = EXAMPLES / "ring.sp"
    assert sr.parse_oc_spice(io.StringIO(path.read_text())) == sr.parse_oc_spice(str(path))


def test_ring_filter_is_passive_and_resonates(models):
    netlist = sr.parse_oc_spice(EXAMPLES / "ring.sp")
    ring = netlist["ring_filter"]
    # Parameters of the subcircuit reach its elements.
    assert ring["instances"]["Xb1"]["settings"] == {"radius": 10.0}
    assert ring["instances"]["Xs1"]["settings"] == {"length": 4.0}
    assert ring["settings"] == {"gap_length": 4.0, "radius": 10.0}
    circuit, _ = sax.circuit(netlist, models=models)
    wavelengths = np.linspace(1.50, 1.60, 2001)
    through = circuit(wl=wavelengths)["in", "through"]
    assert np.all(np.abs(through) ** 2 <= 1 + 1e-9)
    # Near-lossless, so resonances show in the phase: it leaps by up to 2 pi
    # where a plain waveguide's phase runs almost straight (within 0.5 rad).
    phase = np.unwrap(np.angle(through))
    straight_line = np.polyval(np.polyfit(wavelengths, phase, 1), wavelengths)
    assert np.abs(phase - straight_line).max() > 1.5


def test_nested_subcircuits_simulate_through_their_declared_ports(models):
    netlist = sr.parse_oc_spice(EXAMPLES / "nested.sp")
    # The outer design comes first; inner ones follow.
    assert list(netlist) == ["lattice", "stage"]
    lattice, stage = netlist["lattice"], netlist["stage"]
    assert lattice["connections"] == {
        "Xgc_in,o1": "Xs1,in1",
        "Xs1,out1": "Xs2,in1",
        "Xs1,out2": "Xs2,in2",
        "Xs2,out1": "Xgc_out,o1",
    }
    # Open terminals of the stages become ports of the lattice.
    assert lattice["ports"] == {
        "optical_in": "Xgc_in,o2",
        "optical_out": "Xgc_out,o2",
        "unused_in": "Xs1,in2",
        "unused_out": "Xs2,out2",
    }
    assert lattice["placements"]["Xgc_in"] == {"x": -40.0, "y": 0.0, "rotation": 0.0, "port": "o2"}
    # Lengths in metres are now micrometres; the delay parameter reached its arm.
    assert stage["instances"]["Xcp_in"]["settings"]["gap"] == pytest.approx(0.2)
    assert stage["instances"]["Xarm_lo"]["settings"] == {"length": 20.0}
    s = s_parameters(netlist, models)
    assert np.all(np.abs(s["optical_in", "optical_out"]) <= 1 + 1e-9)


def test_controlled_sources_take_their_fixed_ports():
    driver = sr.parse_oc_spice(EXAMPLES / "driver.sp")["driver"]
    assert driver["instances"]["E1"] == {
        "component": "vcvs", "settings": {"ctrl": None, "gain": 10.0}}
    assert driver["ports"] == {"ctrl": "E1,minus", "heater_n": "E1,out", "heater_p": "C1,plus"}
    assert driver["connections"] == {"E1,plus": "R1,minus", "R1,plus": "C1,minus"}
    # 2 pF is no length: it stays as written.
    assert driver["instances"]["C1"]["settings"] == {"c": 2e-12}


def test_settings_keymap_and_component_map_apply_end_to_end(models):
    netlist = sr.parse_oc_spice(
        io.StringIO(".subckt wg a b\nX1 a b strip len=15\n.ends\n"),
        settings_keymap={"len": "length"},
        component_map={"strip": "straight"},
    )
    assert netlist["wg"]["instances"]["X1"] == {"component": "straight", "settings": {"length": 15.0}}
    s = s_parameters(netlist, models)
    # A lossless straight: all power goes through.
    np.testing.assert_allclose(np.abs(s["a", "b"]), 1.0, atol=1e-9)


def test_port_lists_come_from_the_cache_once_warm(monkeypatch):
    sr.parse_oc_spice(EXAMPLES / "mzi.sp")
    before = sr._get_ports.cache_info()

    def no_pdk():
        raise AssertionError("the PDK was asked again")

    monkeypatch.setattr(sr, "ts_pdk", types.SimpleNamespace(get_pdk=no_pdk))
    sr.parse_oc_spice(EXAMPLES / "mzi.sp")
    assert sr._get_ports.cache_info().misses == before.misses


# Small netlists, valid and not, for reading over and over: a long-running tool
# reads thousands, and must not grow while it does.
SMALL_NETLISTS = [
    # Valid: subcircuits, settings with scale suffixes, a parameter, placements.
    ".subckt top a b w=1\nR1 a m r=10u $ location=(1,2,90)\nX1 m b straight length='w'\n.ends\n",
    ".subckt inner p q\nX1 p q wg k=1e-6\n+ j=3 * tail\n.ends\n.subckt outer a b\nXi a n inner\nXj n b inner\n.ends\n",
    # Unresolved value (ParseWarning), bad placement, nets with three terminals,
    # .ends with nothing open, an unsupported command, a word that is no name.
    ".subckt s a\nX1 a b m k='nope' $ location=(x\n.ends\n",
    ".subckt s a\nR1 a b\nR2 a b\nR3 a b\n.ends\n",
    ".ends\n",
    ".model m r\n",
    ".subckt s 'a\nX1 a\n",
]


def read_quietly(text):
    try:
        sr.parse_oc_spice(io.StringIO(text), {"length": "L"}, {"wg": "straight"}, w=2)
    except (sr.ParseError, ValueError):
        pass


@pytest.mark.skipif(sys.getallocatedblocks() == 0, reason="no block count under PYTHONMALLOC=malloc")
def test_ten_thousand_readings_leave_the_allocated_blocks_flat():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", sr.ParseWarning)
        for text in SMALL_NETLISTS * 20:  # imports, caches and interned names settle first
            read_quietly(text)
        gc.collect()
        before = sys.getallocatedblocks()
        for i in range(10_000):
            read_quietly(SMALL_NETLISTS[i % len(SMALL_NETLISTS)])
        gc.collect()
        grown = sys.getallocatedblocks() - before
    assert grown < 100, f"{grown} blocks more after 10,000 readings"

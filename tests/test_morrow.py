"""The layout-library stand-in: PDK tables, activation, cells and the generic PDK."""

from __future__ import annotations

import subprocess
import sys

import pytest

import morrow
from morrow import generic_tech


@pytest.fixture
def restore_active_pdk():
    before = morrow.get_active_pdk()
    yield
    morrow._active_pdk = before


def test_pdk_tables_default_to_new_dicts_in_the_instance_dict():
    a, b = morrow.Pdk(name="a"), morrow.Pdk(name="b")
    a.cells["x"] = print
    assert b.cells == {}
    assert {"name", "cells", "models", "containers"} <= set(vars(a))


def test_pdk_keeps_the_given_tables():
    cells = {"x": print}
    assert morrow.Pdk(name="p", cells=cells).cells is cells


def test_activate_makes_the_pdk_active(restore_active_pdk):
    a, b = morrow.Pdk(name="a"), morrow.Pdk(name="b")
    a.activate()
    assert morrow.get_active_pdk() is a
    b.activate()
    assert morrow.get_active_pdk() is b


@pytest.mark.parametrize("with_parens", [False, True])
def test_cell_decorator_keeps_the_function_identity(with_parens):
    def wg(length=1.0):
        """doc"""
        return morrow.Component(ports=[morrow.Port("o1")])

    factory = morrow.cell()(wg) if with_parens else morrow.cell(wg)
    assert (factory.__name__, factory.__module__, factory.__doc__) == ("wg", __name__, "doc")
    c = factory(length=2.0)
    assert c.name == "wg" and c.settings == {"length": 2.0}
    assert [p.name for p in c.ports] == ["o1"]


def test_generic_pdk_is_memoised_and_wrapped_builds_anew():
    pdk = generic_tech.get_generic_pdk()
    assert pdk is generic_tech.get_generic_pdk()
    fresh = generic_tech.get_generic_pdk.__wrapped__()
    assert fresh is not pdk and fresh.name == "generic" and fresh.cells is not pdk.cells


EXPECTED_PORTS = {
    "straight": ("o1", "o2"),
    "bend_euler": ("o1", "o2"),
    "mmi1x2": ("o1", "o2", "o3"),
    "mmi2x2": ("o1", "o2", "o3", "o4"),
    "coupler": ("o1", "o2", "o3", "o4"),
    "grating_coupler": ("o1", "o2"),
}


@pytest.mark.parametrize("name,ports", EXPECTED_PORTS.items())
def test_generic_cells_and_models_share_port_names(name, ports):
    sax = pytest.importorskip("sax")
    pdk = generic_tech.get_generic_pdk()
    assert tuple(p.name for p in pdk.cells[name]().ports) == ports
    assert tuple(sorted(sax.get_ports(pdk.models[name]()))) == ports


def test_sax_is_imported_only_when_a_model_is_used():
    code = (
        "import sys\n"
        "from morrow.generic_tech import get_generic_pdk\n"
        "pdk = get_generic_pdk()\n"
        "pdk.cells['straight']()\n"
        "assert 'sax' not in sys.modules\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True)


def test_a_netlist_of_generic_components_simulates():
    sax = pytest.importorskip("sax")
    np = pytest.importorskip("numpy")
    netlist = {
        "instances": {
            "split": {"component": "mmi1x2"},
            "join": {"component": "mmi1x2"},
            "top": {"component": "straight", "settings": {"length": 10.0}},
            "bot": {"component": "straight", "settings": {"length": 10.0}},
        },
        "connections": {
            "split,o2": "top,o1",
            "split,o3": "bot,o1",
            "top,o2": "join,o2",
            "bot,o2": "join,o3",
        },
        "ports": {"in": "split,o1", "out": "join,o1"},
    }
    circuit, _ = sax.circuit(netlist, models=generic_tech.get_generic_pdk().models)
    # Balanced arms interfere constructively: only the two splitters' excess loss remains.
    transmission = float(np.abs(circuit(wl=1.55)["in", "out"]) ** 2)
    assert transmission == pytest.approx(10 ** (-0.6 / 10), rel=1e-3)

"""Port resolution: which port name each terminal of an element line gets."""

from __future__ import annotations

import types

import pytest

import tessel.core.spiceread as sr


class FakePort:
    def __init__(self, name):
        self.name = name


def cell_with_ports(*names):
    def factory():
        return types.SimpleNamespace(ports=[FakePort(n) for n in names])

    return factory


def model_with_ports(*names):
    def factory():
        # An S-dict; sax reads the port names off its keys.
        return {(a, b): 1.0 for a in names for b in names}

    return factory


def failing_cell():
    raise ValueError("cannot build with defaults")


@pytest.fixture
def pdk(monkeypatch):
    """A fake active PDK whose tables the test fills; the port cache is cleared around it."""
    fake = types.SimpleNamespace(models={}, cells={}, calls=0)

    def get_pdk():
        fake.calls += 1
        return fake

    fake_sax = types.SimpleNamespace(get_ports=lambda s: sorted({p for pair in s for p in pair}))
    monkeypatch.setattr(sr, "ts_pdk", types.SimpleNamespace(get_pdk=get_pdk))
    monkeypatch.setattr(sr, "sax", fake_sax)
    sr._get_ports.cache_clear()
    yield fake
    sr._get_ports.cache_clear()


@pytest.mark.parametrize(
    ("ports", "expected"),
    [
        (["o2", "o10", "o1", "e1", "in2", "in1", "out", "a"],
         ("in1", "in2", "a", "out", "o1", "o2", "o10", "e1")),
        # "out..." and "output" are not optical ports, "opt" is.
        (["output", "out1", "opt", "o1"], ("out1", "output", "o1", "opt")),
        # Prefix tests are case-sensitive: O1 and E1 sort among the others.
        (["O1", "o1", "E1", "e1"], ("E1", "O1", "o1", "e1")),
        # Duplicates stay, the empty name is one of the others.
        (["o1", "o1", "", "b"], ("", "b", "o1", "o1")),
        (["e10", "e9", "in10", "in9"], ("in9", "in10", "e9", "e10")),
        ([], ()),
    ],
)
def test_sort_ports_canonical_order(ports, expected):
    assert sr._sort_ports(ports) == expected
    assert sr._sort_ports(tuple(ports)) == expected


def test_sort_ports_uses_the_module_natsorted(monkeypatch):
    calls = []

    def fake_natsorted(items):
        calls.append(list(items))
        return sorted(items, reverse=True)

    monkeypatch.setattr(sr, "natsorted", fake_natsorted)
    assert sr._sort_ports(["o1", "o2", "e1", "in1", "a", "b"]) == ("in1", "b", "a", "o2", "o1", "e1")
    assert calls == [["o1", "o2"], ["e1"], ["in1"], ["a", "b"]]


@pytest.mark.parametrize("bad", [["o1", 3], [None]])
def test_sort_ports_rejects_names_that_are_not_text(bad):
    with pytest.raises(AttributeError, match="startswith"):
        sr._sort_ports(bad)


@pytest.mark.parametrize(
    ("ports", "i", "expected"),
    [
        (("minus", "plus"), 0, "minus"),
        (("minus", "plus"), 1, "plus"),
        (("minus", "plus"), 2, "o3"),
        ((), 0, "o1"),
        (("a", "b", "c", "d"), 4, "o5"),
        ((), 99, "o100"),
        ((), 10**20, f"o{10**20 + 1}"),
    ],
)
def test_get_port_names_or_positions(ports, i, expected):
    assert sr._get_port(ports, i) == expected


@pytest.mark.parametrize(
    ("ports", "i", "argument"),
    [(None, 0, "ports"), (["a"], 0, "ports"), (("a",), 0.0, "i"), (("a",), True, "i")],
)
def test_get_port_checks_argument_types(ports, i, argument):
    with pytest.raises(TypeError, match=f"_get_port.*'{argument}'"):
        sr._get_port(ports, i)


def test_get_port_rejects_a_name_that_is_not_text():
    with pytest.raises(TypeError, match="must be str"):
        sr._get_port((1, 2), 0)


@pytest.mark.parametrize(
    ("component", "expected"),
    [
        ("vcvs", ("minus", "plus", "out", "gnd_")),
        ("cccs", ("minus", "plus", "out", "gnd_")),
        ("resistor", ("minus", "plus")),
        ("capacitor", ("minus", "plus")),
    ],
)
def test_builtin_elements_never_ask_the_pdk(pdk, component, expected):
    assert sr._get_ports(component) == expected
    assert pdk.calls == 0


def test_model_ports_come_first_and_sorted(pdk):
    pdk.models["mmi"] = model_with_ports("o3", "o1", "o2")
    pdk.cells["mmi"] = cell_with_ports("x", "y")
    assert sr._get_ports("mmi") == ("o1", "o2", "o3")


@pytest.mark.parametrize(
    ("models", "cells", "expected"),
    [
        # wg_ names fall back to the name without the prefix, once only.
        ({"strip": model_with_ports("o1", "o2")}, {}, ("o1", "o2")),
        ({}, {"strip": cell_with_ports("o2", "o1")}, ("o1", "o2")),
        ({"wg_strip": model_with_ports("a")}, {"strip": cell_with_ports("o1")}, ("a",)),
        # A model without ports falls through to the cell.
        ({"wg_strip": model_with_ports()}, {"wg_strip": cell_with_ports("o1")}, ("o1",)),
        ({"wg_strip": model_with_ports()}, {}, None),
        # Unnamed ports are the empty text.
        ({}, {"wg_strip": cell_with_ports(None, "o1", "")}, ("", "", "o1")),
        ({}, {"wg_strip": cell_with_ports()}, ()),
        ({}, {"wg_strip": failing_cell}, None),
        ({}, {}, None),
    ],
)
def test_lookup_through_models_then_cells(pdk, models, cells, expected):
    pdk.models.update(models)
    pdk.cells.update(cells)
    assert sr._get_ports("wg_strip") == expected


def test_prefix_is_removed_once_only(pdk):
    pdk.cells["strip"] = cell_with_ports("o1")
    assert sr._get_ports("wg_wg_strip") is None


def test_results_are_cached_per_name_including_none(pdk):
    pdk.cells["bad"] = failing_cell
    assert sr._get_ports("bad") is None
    pdk.cells["bad"] = cell_with_ports("o1")
    # Registered later, but the cached answer stands until cleared.
    assert sr._get_ports("bad") is None
    assert sr._get_ports.cache_info().hits == 1
    assert sr._get_ports.cache_info().maxsize == 128
    sr._get_ports.cache_clear()
    assert sr._get_ports("bad") == ("o1",)


def test_only_ordinary_errors_of_a_cell_are_swallowed(pdk):
    def interrupted():
        raise KeyboardInterrupt

    pdk.cells["c"] = interrupted
    with pytest.raises(KeyboardInterrupt):
        sr._get_ports_from_component("c")


def test_model_failures_propagate(pdk):
    def broken():
        raise RuntimeError("model is broken")

    pdk.models["m"] = broken
    with pytest.raises(RuntimeError, match="model is broken"):
        sr._get_ports("m")


@pytest.mark.parametrize(
    "function", ["_get_ports", "_get_ports_from_model", "_get_ports_from_component"]
)
def test_component_must_be_exact_text(pdk, function):
    class Name(str):
        pass

    with pytest.raises(TypeError, match=f"{function}.*'component'.*str"):
        getattr(sr, function)(Name("x"))


def test_get_ports_goes_through_the_module_lookups(pdk, monkeypatch):
    monkeypatch.setattr(sr, "_get_ports_from_model", lambda c: ())
    monkeypatch.setattr(sr, "_get_ports_from_component", lambda c: ("from", "cell"))
    assert sr._get_ports("anything") == ("from", "cell")
    assert sr._get_ports.__wrapped__("anything") == ("from", "cell")

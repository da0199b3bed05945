"""Setting keys renamed through the keymap, lengths in metres turned into micrometres."""

from __future__ import annotations

import io
import math

import pytest

import tessel.core.spiceread as sr


@pytest.mark.parametrize(
    ("val", "expected"),
    [
        (1e-6, True),
        (9.99e-3, True),
        (1.0000001e-10, True),
        (1e-10, False),
        (1e-2, False),
        (1e-12, False),
        (0.5, False),
        (-1e-6, False),
        (0, False),
        (math.nan, False),
        (math.inf, False),
    ],
)
def test_is_probably_um_bounds_are_exclusive(val, expected):
    assert sr._is_probably_um(val) is expected


def test_is_probably_um_takes_its_own_bounds():
    assert sr._is_probably_um(5, 1, 10)
    assert sr._is_probably_um(val=0.5, low=0.1, high=1.0)
    assert not sr._is_probably_um(5, low=5)


@pytest.mark.parametrize("bad", ["1e-6", None, [1e-6]])
def test_is_probably_um_needs_a_number(bad):
    with pytest.raises(TypeError):
        sr._is_probably_um(bad)


class Metres(float):
    pass


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        (1e-6, 1.0),
        (5e-7, 0.5),
        (2.2e-7, 0.22),  # its shortest digits, moved: one rounding
        (0.009, 9000.0),
        # A capacitance in range is converted too: keys play no part.
        (1e-9, 0.001),
        (1e-10, 1e-10),
        (0.01, 0.01),
        (1e-12, 1e-12),
        (-1e-6, -1e-6),
        (0, 0),
        (5, 5),
        (100, 100),
        (True, True),
        ("1e-6", "1e-6"),
        (None, None),
        (Metres(1e-6), 1.0),
    ],
)
def test_convert_um_by_value_alone(value, expected):
    settings = {"x": value}
    assert sr._convert_um(settings) is settings
    assert settings == {"x": expected}
    assert type(settings["x"]) is type(expected) or isinstance(value, Metres)


def test_convert_um_uses_the_module_threshold(monkeypatch):
    monkeypatch.setattr(sr, "_is_probably_um", lambda v: v > 1)
    assert sr._convert_um({"a": 2.0, "b": 1e-6, "c": 5}) == {"a": 2e6, "b": 1e-6, "c": 5}


@pytest.mark.parametrize(
    ("settings", "keymap", "expected"),
    [
        ({"w": 1e-6, "l": 2e-6}, {"w": "width"}, [("l", 2e-6), ("width", 1e-6)]),
        # Upper-case sorts before lower-case.
        ({"b": 1, "B": 2, "a": 3}, {}, [("B", 2), ("a", 3), ("b", 1)]),
        # Two old keys on one new key: the later old key's value, at the first position.
        ({"a": 1, "b": 2, "c": 3}, {"a": "x", "c": "x"}, [("x", 3), ("b", 2)]),
        ({}, {"a": "b"}, []),
        ({1: "one", 0: "zero"}, {0: "z"}, [("z", "zero"), (1, "one")]),
    ],
)
def test_map_settings_keys_in_sorted_key_order(settings, keymap, expected):
    before = dict(settings)
    result = sr._map_settings_keys(settings, keymap)
    assert list(result.items()) == expected
    assert result is not settings
    assert settings == before


def test_keys_that_cannot_be_ordered_fail():
    with pytest.raises(TypeError):
        sr._map_settings_keys({"a": 1, 2: 3}, {})


def test_patch_settings_maps_then_converts_without_touching_its_input():
    settings = {"w": 1e-6, "l": 2e-6, "n": 3, "name": "x"}
    result = sr._patch_settings(settings, {"w": "width"})
    assert list(result.items()) == [("l", 2.0), ("n", 3), ("name", "x"), ("width", 1.0)]
    assert settings == {"w": 1e-6, "l": 2e-6, "n": 3, "name": "x"}


def test_patch_settings_of_empty_settings_is_a_new_dict():
    settings = {}
    result = sr._patch_settings(settings, {})
    assert result == {} and result is not settings


def test_patch_settings_collision_converts_the_winner():
    assert sr._patch_settings({"a": 1e-6, "b": 0.5}, {"a": "b"}) == {"b": 0.5}
    assert sr._patch_settings({"a": 0.5, "b": 1e-6}, {"a": "b"}) == {"b": 1.0}


def test_patch_settings_goes_through_the_module_steps(monkeypatch):
    seen = []
    monkeypatch.setattr(sr, "_map_settings_keys", lambda s, k: seen.append("map") or dict(s))
    monkeypatch.setattr(sr, "_convert_um", lambda s: seen.append("convert") or {"done": s})
    assert sr._patch_settings({"a": 1}, {}) == {"done": {"a": 1}}
    assert seen == ["map", "convert"]


class SubDict(dict):
    pass


@pytest.mark.parametrize(
    ("function", "args", "argument"),
    [
        ("_patch_settings", (None, {}), "settings"),
        ("_patch_settings", ({}, None), "settings_keymap"),
        ("_patch_settings", (SubDict(), {}), "settings"),
        ("_map_settings_keys", ({}, SubDict()), "settings_keymap"),
        ("_map_settings_keys", ([], {}), "settings"),
        ("_convert_um", (SubDict(),), "settings"),
    ],
)
def test_settings_must_be_exact_dicts(function, args, argument):
    with pytest.raises(TypeError, match=f"{function}.*'{argument}'.*dict"):
        getattr(sr, function)(*args)


@pytest.mark.parametrize(
    ("written", "metres", "micrometres"),
    [
        ("0.2u", "0.2e-6", "0.2"),
        ("100u", "100e-6", "100"),
        ("10u", "10e-6", "10"),
        ("0.35u", "0.35e-6", "0.35"),
        ("2.5n", "2.5e-9", "0.0025"),
        ("1.1m", "1.1e-3", "1100"),
        ("2e-7", "2e-7", "0.2"),
        ("0.45e-6", "0.45e-6", "0.45"),
        ("0.007", "0.007", "7000"),
        ("3p", "3e-12", "3e-12"),  # outside the metre rule: stays as it is
        ("'4.2u'", "4.2e-6", "4.2"),
    ],
)
def test_values_keep_the_digits_written(written, metres, micrometres):
    # One rounding of the decimal as written, in the unit of the result.
    assert sr._parse_value(written) == float(metres)
    netlist = sr.parse_oc_spice(io.StringIO(
        f".subckt top a b w={written}\nR1 a b w={written} $ location=(0,{written},0)\n.ends\n"))["top"]
    assert netlist["instances"]["R1"]["settings"]["w"] == float(micrometres)
    assert netlist["settings"]["w"] == float(micrometres)
    assert netlist["placements"]["R1"]["y"] == float(metres)  # coordinates are never converted

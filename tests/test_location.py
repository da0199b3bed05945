"""Placements read from "location=" comments: what a netlist's instances end up placed at."""

from __future__ import annotations

import inspect
import io
import math
import warnings

import pytest

import tessel.core.spiceread as spiceread


def unpack_error(expected: int, got: int) -> str:
    """The host's own message for unpacking a list of `got` items into `expected` names."""
    names = ", ".join(f"v{i}" for i in range(expected))
    try:
        exec(f"{names} = items", {"items": list(range(got))})
    except ValueError as error:
        return str(error)
    raise AssertionError("unpacking did not fail")


PLACEMENTS = [
        ("$ just a note", {}),
        ("", {}),
        ("$ location (1,2,3)", {}),
        ("$ location=(10,20,90)", {"x": 10.0, "y": 20.0, "rotation": 90.0}),
        ("* location=(o1)(0,5u,180)", {"x": 0.0, "y": 5e-06, "rotation": 180.0, "port": "o1"}),
        ("$ location=10,20,0 other words", {"x": 10.0, "y": 20.0, "rotation": 0.0}),
        ("$ location=((1,2,3))", {"x": 1.0, "y": 2.0, "rotation": 3.0}),
        ("$ location=(((o2)))((1,2,3", {"x": 1.0, "y": 2.0, "rotation": 3.0, "port": "o2"}),
        ("$ location=()(1,2,3)", {"x": 1.0, "y": 2.0, "rotation": 3.0}),  # empty port: no key
        ("$ location=(,,)", {"x": None, "y": None, "rotation": None}),
        ("$ location=(a,\"b\",1e-3m)", {"x": "a", "y": "b", "rotation": 1e-3 * 0.001}),
        ("$ location=(1,2,3)junk", {"x": 1.0, "y": 2.0, "rotation": "3)junk"}),
        ("note:location=(1,2,3)", {"x": 1.0, "y": 2.0, "rotation": 3.0}),
        ("$ location=(1,\t2,\x0b3)", {"x": 1.0, "y": 2.0, "rotation": 3.0}),  # only blanks end it
        ("$ location=(1,\xa02,\u20033)", {"x": 1.0, "y": 2.0, "rotation": 3.0}),  # Unicode white space
        ("$ location=\t(o\x1c1)\u3000(1,2,3)", {"x": 1.0, "y": 2.0, "rotation": 3.0, "port": "o1"}),
        ("$ location=(٣,'[1]',-inf)", {"x": 3.0, "y": [1], "rotation": -math.inf}),
        ("$ location=(p\ud800)(\ud800,1,2)", {"x": "\ud800", "y": 1.0, "rotation": 2.0, "port": "p\ud800"}),
]


@pytest.mark.parametrize(("comment", "expected"), PLACEMENTS)
def test_placements(comment, expected):
    got = spiceread._parse_location_comment(comment)
    assert got == expected
    assert list(got) == list(expected)  # key order: x, y, rotation, port


def read_with_warnings(text: str) -> tuple[object, list[str]]:
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            read = spiceread.parse_oc_spice(io.StringIO(text))
        except ValueError as error:
            read = repr(error)
    return read, [str(w.message) for w in caught]


def test_a_reading_places_each_instance_as_its_comment_says(monkeypatch):
    # A reading takes most placements as it reads the lines; one that needs
    # a value evaluated, or fails, waits for the assembly with the others of
    # its subcircuit.  Either way each instance gets what its comment gives,
    # in the order of the lines, as a replaced `_parse_location_comment`
    # (called at assembly) would give them.
    # On one line each (a few hold line boundaries), and in UTF-8.
    comments = [c.replace("*", "$", 1) for c, _ in PLACEMENTS if len(c.splitlines()) < 2 and "\ud800" not in c]
    comments = [c if c.startswith("$") or not c else f"$ {c}" for c in comments]
    mixed = "".join(f"R{k % 5} n{k} n{k + 1} {c}\n" for k, c in enumerate(comments))
    each = "".join(f".subckt s{k} a b\nR1 a b {c}\n.ends\n" for k, c in enumerate(comments))
    malformed = ".subckt top a b\nR1 a m $ location=(1,2,3)\nR2 m b $ location=(1,2)\n.ends\n"
    texts = [f".subckt top a b\n{mixed}.ends\n", each, malformed]
    ahead = [read_with_warnings(t) for t in texts]
    own = spiceread._parse_location_comment
    monkeypatch.setattr(spiceread, "_parse_location_comment", lambda comment: own(comment))
    assert ahead == [read_with_warnings(t) for t in texts]


@pytest.mark.parametrize(
    ("comment", "expected", "got"),
    [
        ("$ location=(10, 20, 90)", 3, 2),  # a blank ends the annotation
        ("$ location=(1,2)", 3, 2),
        ("$ location=(o1)()", 3, 1),
        ("$ location=(1,2,3,4)", 3, 4),
        ("$ location=(1,2,3,4,5,6)", 3, 6),
        ("$ location=(o1)(1)(2)(3)", 2, 4),
        ("$ location=(1,2,3) location=(4,5,6)", 2, 3),
        ("$ location=(a)(b)(1,2,3)", 2, 3),
    ],
)
def test_malformed_annotations(comment, expected, got):
    with pytest.raises(ValueError) as info:
        spiceread._parse_location_comment(comment)
    assert str(info.value) == unpack_error(expected, got)


@pytest.mark.parametrize("comment", [None, b"location=(1,2,3)", 5, type("S", (str,), {})("x")])
def test_comment_must_be_str(comment):
    with pytest.raises(TypeError, match=r"_parse_location_comment\(\) argument 'comment' must be str"):
        spiceread._parse_location_comment(comment)


def test_each_coordinate_is_evaluated_once_in_order():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        line = inspect.currentframe().f_lineno + 1
        assert spiceread._parse_location_comment("$ location=('a',1,'b')") == {"x": None, "y": 1.0, "rotation": None}
        with pytest.raises(ValueError):
            spiceread._parse_location_comment("$ location=('c','d')")
    assert [str(w.message).split("'")[1] for w in caught] == ["a", "b", "c", "d"]
    assert {(w.category, w.filename, w.lineno) for w in caught[:2]} == {(spiceread.ParseWarning, __file__, line)}


def test_quoted_coordinate_that_does_not_parse_abandons():
    with pytest.raises(SyntaxError):
        spiceread._parse_location_comment("$ location=('[',1,2)")


def test_coordinates_go_through_the_modules_parse_value(monkeypatch):
    seen = []

    def fake_parse_value(value, **kwargs):
        seen.append((value, kwargs))
        return len(value)

    monkeypatch.setattr(spiceread, "_parse_value", fake_parse_value)
    assert spiceread._parse_location_comment("$ location=(ab,,xyz)") == {"x": 2, "y": 0, "rotation": 3}
    assert seen == [("ab", {}), ("", {}), ("xyz", {})]

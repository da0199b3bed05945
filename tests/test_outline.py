"""The outline: where each word stands in the file, and what the reader makes of each value."""

from __future__ import annotations

import pytest

from tessel.core._outline import read_outline, subckt_nets


def places(words):
    return [(w.text, w.line, w.col, w.end_line, w.end_col) for w in words]


@pytest.mark.parametrize(("text", "expected"), [
    # Columns count code points; a tab is one.
    (".subckt t a b\n\tXé1 a  b straight\n.ends\n", [("Xé1", 2, 2, 2, 5), ("a", 2, 6, 2, 7), ("b", 2, 9, 2, 10)]),
    # Words of + continuation lines map back to their own raw line.
    (".subckt t a b\nX1 a\n  +  b straight\n.ends\n", [("X1", 2, 1, 2, 3), ("a", 2, 4, 2, 5), ("b", 3, 6, 3, 7)]),
    # A quoted word may span a continuation: it ends on the later line.
    (".subckt t a b\nX1 a b straight k='x\n+ y'\n.ends\n", [("X1", 2, 1, 2, 3), ("a", 2, 4, 2, 5), ("b", 2, 6, 2, 7)]),
    # CRLF and U+2028 end lines as str.splitlines does.
    (".subckt t a b\r\n\u2028X1 a b c\r\n.ends", [("X1", 3, 1, 3, 3), ("a", 3, 4, 3, 5), ("b", 3, 6, 3, 7)]),
])
def test_words_know_their_raw_line_and_column(text, expected):
    e = read_outline(text).elements[0]
    assert places([e.name, *e.nets]) == expected


def test_a_value_spanning_lines_ends_on_the_later_line():
    e = read_outline(".subckt t a b\nX1 a b straight k='x\n+ y'\n.ends\n").elements[0]
    assert places([e.settings[0].value]) == [("'x y'", 2, 19, 3, 5)]


@pytest.mark.parametrize(("value", "kind", "number", "unit", "scaled", "metre"), [
    ("10", "number", 10.0, "", False, "above"),
    ("0.5u", "number", 0.5e-6, "u", True, "converted"),
    ("10000u", "number", 10000e-6, "u", True, "above"),
    ("2.2k", "number", 2.2, "k", False, "above"),
    ("3meg", "text", None, "meg", False, ""),
    ("'arm'", "unresolved", None, "", False, ""),
    ("'[1, 2]'", "literal", None, "", False, ""),
    ("'(1'", "invalid", None, "", False, ""),
    ("'5u'", "number", 5e-6, "u", True, "converted"),
    ("", "none", None, "", False, ""),
])
def test_values_are_read_as_the_reader_reads_them(value, kind, number, unit, scaled, metre):
    s = read_outline(f".subckt t a\nX1 a straight k={value}\n.ends\n").elements[0].settings[0]
    assert (s.kind, s.unit, s.scaled, s.metre) == (kind, unit, scaled, metre)
    assert s.number == pytest.approx(number) if number is not None else s.number is None


def test_after_a_refused_statement_the_outline_goes_on():
    o = read_outline(".SUBCKT x\n.ends\n.subckt t a\nX1 a straight k==1\n\n+ c=1\n.ends\n.end\n")
    assert [(r.kind, r.word.line) for r in o.refusals] == [
        ("unsupported_command", 1), ("ends_before_begin", 2), ("several_equals", 4),
        ("element_without_component", 6), ("unsupported_command", 8)]
    assert [s.name.text for s in o.subckts] == ["t"] and o.subckts[0].end is not None


def test_nested_elements_are_given_where_the_reader_puts_them():
    o = read_outline(".subckt outer a\nX1 a m s\n.subckt inner b\nX2 b s\n.ends\nX3 m s\n.ends\n")
    assert [(e.name.text, e.subckt, e.owner) for e in o.elements] == [("X1", 0, 1), ("X2", 1, 1), ("X3", 0, 0)]
    assert [(n.name, n.elements) for n in subckt_nets(o, 1)] == [("a", (0,)), ("m", (0,)), ("b", (1,))]


def test_a_byte_order_mark_belongs_to_no_word():
    # Its column still counts: fixes are edits of the file as it is.
    o = read_outline("\ufeff*cell\n.subckt t a\nX1 a straight\n.ends\n")
    assert o.cuts == () and places([o.comments[0].word]) == [("*cell", 1, 2, 1, 7)]


@pytest.mark.parametrize(("value", "micrometres"), [
    ("0.000123", 123.0),  # 0.000123 * 1e6 would round twice, to 123.00000000000001
    ("0.5u", 0.5),
    ("10000u", 10000.0),  # left in metres by the rule: what was likely meant
    ("10", None),
    ("'arm'", None),
])
def test_micrometres_are_the_readers_own(value, micrometres):
    s = read_outline(f".subckt t a\nX1 a straight k={value}\n.ends\n").elements[0].settings[0]
    assert s.micrometres == micrometres

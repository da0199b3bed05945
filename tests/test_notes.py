"""Errors that escape a reading say where: a note "path:LINE: <statement>"."""

from __future__ import annotations

import io
import sys

import pytest

from tessel.core import spiceread as sr

# Each netlist fails at the statement on line 4 of its text (after a comment,
# a blank line and a line that ends CRLF), and the note shows that line.
HEAD = "* notes\r\n\n.subckt top a b\n"
CASES = [
    ("X1 a m length==3", ValueError),                  # a setting with two "="
    ("X1 w=1", IndexError),                            # no component
    ("X1 a m $ location=(1,2", ValueError),            # three coordinates needed
    ("X1 a m k='('", SyntaxError),                     # a single-quoted value that does not parse
    (".SUBCKT inner", sr.ParseError),                  # commands are lower case
    (".ends\n.ends", sr.ParseError),                   # .ends before begin (line 5)
    ("X1 a b nothing", TypeError),                     # a component whose ports are unknown
    ("X1 a b m\n+ k=1=2", ValueError),                 # a continuation: the statement's first line
]


@pytest.mark.parametrize(("statement", "error"), CASES, ids=[c[0] for c in CASES])
@pytest.mark.parametrize("by", ["path", "stream"])
def test_errors_carry_a_note_with_file_and_line(statement, error, by, tmp_path):
    text = HEAD + statement + "\n.ends\n"
    path = tmp_path / "bad.sp"
    path.write_text(text, encoding="utf-8", newline="")
    source = path if by == "path" else io.StringIO(text, newline="")
    with pytest.raises(error) as info:
        sr.parse_oc_spice(source)
    line = 5 if statement.startswith(".ends") else 4
    first = statement.splitlines()[-1 if line == 5 else 0]
    name = str(path) if by == "path" else "<stream>"
    expected = f"{name}:{line}: {first}" + (" ..." if "\n+" in statement else "")
    assert info.value.__notes__ == [expected]


def test_a_crowded_net_names_its_subcircuit_and_the_line_of_each_terminal():
    text = ".subckt top a\nR1 a mid\nR2 mid b\n\nR3 mid c\n.ends\n"
    with pytest.raises(sr.ParseError) as info:
        sr.parse_oc_spice(io.StringIO(text))
    assert str(info.value).startswith("Net 'mid' is connected to more than two ports")
    assert info.value.__notes__ == [
        "<stream>:2: net 'mid' of subcircuit 'top' joins 3 terminals: "
        "R1,plus (line 2), R2,minus (line 3), R3,minus (line 5)"]


@pytest.mark.parametrize(("text", "error", "note"), [
    # A str may hold lone surrogates (bytes read with "surrogateescape").
    (".subckt top a\nR\udcff a mid\nR2 mid b\nR3 mid c\n.ends\n", sr.ParseError,
     "<stream>:2: net 'mid' of subcircuit 'top' joins 3 terminals: "
     "R\udcff,plus (line 2), R2,minus (line 3), R3,minus (line 4)"),
    (".subckt top a\nX1 a \udcff m k=1=2\n.ends\n", ValueError, "<stream>:2: X1 a \udcff m k=1=2"),
], ids=["crowded net", "statement"])
def test_notes_keep_lone_surrogates(text, error, note):
    with pytest.raises(error) as info:
        sr.parse_oc_spice(io.StringIO(text))
    assert info.value.__notes__ == [note]


def test_undecodable_bytes_say_where(tmp_path):
    path = tmp_path / "latin1.sp"
    path.write_bytes(".subckt top a\n\nX1 a \xe9 m\n.ends\n".encode("latin-1"))
    with pytest.raises(UnicodeDecodeError) as info:
        sr.parse_oc_spice(path)
    assert info.value.__notes__ == [f"{path}:3: X1 a \\xe9 m"]


def test_a_long_statement_is_shortened_in_the_note_only():
    statement = "X1 a m " + " ".join(f"k{i}=1" for i in range(100)) + " bad=1=2"
    with pytest.raises(ValueError) as info:
        sr.parse_oc_spice(io.StringIO(f".subckt s a\n{statement}\n.ends\n"))
    note, = info.value.__notes__
    assert note.startswith("<stream>:2: X1 a m k0=1") and note.endswith("...")
    assert len(note) < 150


WARNED = [
    ("R1 a b k='nope'", 2, "R1 a b k='nope'"),                         # a value nobody resolves
    ("R1 a b $ location=('q',0,0)", 2, "R1 a b $ location=('q',0,0)"),  # a coordinate likewise
    ("R1 a b\nR2 a c", 1, ".subckt top a"),                              # a port's dropped terminal
]


@pytest.mark.parametrize(("statements", "line", "statement"), WARNED, ids=[w[0] for w in WARNED])
@pytest.mark.parametrize("by", ["path", "stream"])
def test_warnings_carry_the_note_errors_have(statements, line, statement, by, tmp_path):
    path = tmp_path / "warn.sp"
    path.write_text(f".subckt top a\n{statements}\n.ends\n", encoding="utf-8")
    with pytest.warns(sr.ParseWarning) as record:
        here = sys._getframe().f_lineno + 1  # the line the warning names, as before
        sr.parse_oc_spice(path if by == "path" else io.StringIO(path.read_text()))
    name = str(path) if by == "path" else "<stream>"
    assert [w.message.__notes__ for w in record] == [[f"{name}:{line}: {statement}"]]
    assert (record[0].filename, record[0].lineno) == (__file__, here)

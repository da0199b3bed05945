"""Rules on comments, quotes and the characters of the file."""

from __future__ import annotations

import re
from collections.abc import Iterator

from ..document import Document
from ..findings import Edit, Hit
from ..registry import ERROR, WARNING, rule

# A comment that reads like a placement: "loc=(1,2,0)", "location (1,2,0)", "Location=...".
_LIKE_LOCATION = re.compile(r"\bloc(?:ation)?\b\s*[=:]?\s*\(?\s*[-+.\d(]", re.IGNORECASE)
_BOM = "\ufeff"


@rule("TS111", WARNING)
def marker_inside_word(doc: Document) -> Iterator[Hit]:
    """A ``$`` or ``*`` inside a word.

    Why: it starts a comment, and the line is cut there (``N$0`` becomes the net ``N``).

    Example: ``R1 a N$0``

    Fix: rename the net or value without ``$`` and ``*``.
    """
    for cut in doc.outline.cuts:
        yield Hit(cut.marker, f"the {cut.marker.text!r} in {cut.word.text!r} starts a comment: the line "
                  "is cut there")


@rule("TS119", ERROR, fatal=True)
def malformed_location(doc: Document) -> Iterator[Hit]:
    """A ``location=`` annotation the reader cannot read.

    Why: the reader refuses the netlist ("not enough values to unpack" and the like): an
    annotation gives x, y and rotation, optionally after a port group, with no blanks.

    Example: ``$ location=(1,2)``

    Fix: write ``location=(x,y,rotation)`` or ``location=(port)(x,y,rotation)``.
    """
    for e in doc.outline.elements:
        if e.owner < 0 or e.location in ("", "found") or e.comment is None:
            continue
        why = {"several_markers": "a comment holds one location= annotation",
               "several_groups": "an annotation has at most a port group and a coordinate group",
               "count": "the coordinates are three numbers (x, y, rotation) with no blank between"}
        yield Hit(e.comment, f"the reader refuses it ({e.location_error}): {why[e.location]}, as in "
                  "location=(10,20,90)", instance=e.name.text)


@rule("TS126", WARNING)
def open_quote(doc: Document) -> Iterator[Hit]:
    """A quote that its line never closes.

    Why: the rest of the line becomes one word, quote included: nets and settings after it
    are lost.

    Example: ``X1 a b straight length='10``

    Fix: close the quote.
    """
    for q in doc.outline.quotes:
        yield Hit(q.word, f"the {q.quote} in {q.word.text!r} is never closed: the rest of the line is "
                  "one word")


@rule("TS130", WARNING)
def unread_location(doc: Document) -> Iterator[Hit]:
    """A comment meant as a placement that the reader does not read as one.

    Why: only ``location=`` (lower case, then the coordinates with no blank) in the comment
    of an element line places the element; ``loc=``, ``location (...)``, or an annotation on
    a line of its own place nothing.

    Example: ``X1 a b straight $ loc=(1,2,0)``

    Fix: write ``$ location=(x,y,rotation)`` at the end of the element's own line.
    """
    elements = {e.id for e in doc.outline.elements if e.owner >= 0}
    for c in doc.outline.comments:
        if c.location and c.id not in elements:
            yield Hit(c.word, "this location annotation belongs to no element line, so it places "
                      "nothing: put it on the element's own line")
        elif not c.location and c.id in elements and _LIKE_LOCATION.search(c.word.text):
            yield Hit(c.word, f"{c.word.text!r} looks like a placement but is not one: the reader reads "
                      "only location=(x,y,rotation)")


@rule("TS131", WARNING)
def byte_order_mark(doc: Document) -> Iterator[Hit]:
    """A byte-order mark at the start of the file.

    Why: it is no part of the netlist, and tools that do not expect it read it as text of the
    first line (a first ``.subckt`` is then an unknown command).

    Example: the bytes EF BB BF before the first line

    Fix: save the file as UTF-8 without a byte-order mark; ``tessel check --fix`` removes it.
    """
    if doc.text.startswith(_BOM):
        edit = Edit(1, 1, 1, 2, "")
        yield Hit(edit, "the file begins with a byte-order mark (U+FEFF)", fix=(edit,))


@rule("TS132", ERROR, phase="file")
def unreadable() -> Iterator[Hit]:
    """A file that cannot be read.

    Why: nothing in it can be checked; the exit status is 2.

    Example: a path that does not exist, a folder without netlists, a file without read
    permission

    Fix: check the path and the file's permissions.
    """
    yield from ()

"""Code actions: the safe fixes that ``tessel check --fix`` makes, one by one or all at once,
and "suppress CODE on this line" (a ``noqa`` comment).

A comment runs from its marker to the end of its statement, continuation lines included,
so the ``noqa`` goes at the end of the statement's last line: inside the comment the
statement has, or in a new ``$`` comment.  (A ``$`` written before the continuation lines
would make them comment too, and one written after a ``*`` comment would move the comment's
start.)  Codes are added to a ``noqa`` that the comment has already.
"""

from __future__ import annotations

from collections.abc import Iterator
from typing import NamedTuple

from tessel.check import FixError, Finding, apply_edits
from tessel.check.config import _NOQA
from tessel.core._outline import Outline

from .text import Text

__all__ = ["FIX_ALL", "QUICKFIX", "Action", "actions"]

QUICKFIX, FIX_ALL = "quickfix", "source.fixAll"


class Action(NamedTuple):
    title: str
    kind: str                          # QUICKFIX or FIX_ALL
    findings: list[Finding]            # what it fixes or suppresses
    edits: list[tuple[int, int, str]]  # offsets into the text and the new text
    preferred: bool = False


def _shown(text: str) -> str:
    words = text.strip()
    if words and words.isprintable():
        return f"'{words}'" if len(words) <= 40 else f"'{words[:37]}...'"
    return " ".join(f"U+{ord(c):04X}" for c in text[:4])


def _edits(text: Text, f: Finding) -> list[tuple[int, int, str]]:
    return [(text.raw_offset(e.line, e.col), text.raw_offset(e.end_line, e.end_col), e.text) for e in f.fix]


def _fix(text: Text, f: Finding) -> Action:
    edits = _edits(text, f)
    changes = [f"remove {_shown(text.source[a:b])}" if not new else
               f"write {_shown(new)}" for a, b, new in edits]
    return Action(f"{f.code}: {', '.join(changes)}", QUICKFIX, [f], edits, True)


def _statements(outline: Outline) -> Iterator[tuple[int, int, int]]:
    """(first raw line, last raw line, line id) of every statement."""
    for group in (outline.elements, outline.subckts, outline.commands, outline.ignored):
        for item in group:
            yield item.statement.line, item.statement.end_line, item.id
    for c in outline.comments:
        yield c.line, c.end_line, c.id
    for r in outline.refusals:
        yield r.word.line, r.word.end_line, r.id


def _suppress(text: Text, outline: Outline, f: Finding) -> Action | None:
    spans = [(first, last, id_) for first, last, id_ in _statements(outline) if first <= f.line <= last]
    if not spans:
        return None
    _, last, statement = min(spans, key=lambda s: s[1] - s[0])
    end = text.raw_offset(last, len(text.raw_line_text(last)) + 1)
    comment = next((c for c in outline.comments if c.id == statement), None)
    if comment is None:
        edit = (end, end, f" $ noqa: {f.code}")
    else:
        start = text.raw_offset(comment.word.line, comment.word.col)
        match = _NOQA.search(text.source, start, end)
        if match is None:
            edit = (end, end, f" noqa: {f.code}")
        elif match["codes"] is None:
            return None  # a bare noqa suppresses every code already
        else:
            edit = (match.end("codes"), match.end("codes"), f", {f.code}")
    return Action(f"Suppress {f.code} on this line", QUICKFIX, [f], [edit])


def actions(text: Text, outline: Outline, findings: list[Finding], first: int, last: int) -> list[Action]:
    """The actions for the findings on raw lines `first` to `last`."""
    here = [f for f in findings if f.line and first <= f.end_line and f.line <= last
            or not f.line and first == 1]
    made = [_fix(text, f) for f in here if f.fix]
    seen: set[tuple[str, int]] = set()
    for f in here:
        if f.line and (f.code, f.line) not in seen:
            seen.add((f.code, f.line))
            if (action := _suppress(text, outline, f)) is not None:
                made.append(action)
    fixable = [f for f in findings if f.fix]
    if len(fixable) > 1:
        try:
            apply_edits(text.source, [e for f in fixable for e in f.fix])
        except FixError:
            return made
        edits = [e for f in fixable for e in _edits(text, f)]
        made.append(Action(f"Fix all: {len(fixable)} safe fixes of tessel check", FIX_ALL,
                           fixable, edits))
    return made


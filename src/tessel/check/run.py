"""Running the rules: the two phases, selection and ``noqa``, and the entry points."""

from __future__ import annotations

import io
from collections.abc import Iterable, Iterator, Mapping
from pathlib import Path
from typing import Any, TextIO

from . import rules  # noqa: F401 - registers the rules
from .document import Document
from .findings import FILE, Batch, Finding, Hit, listing, shorten
from .registry import OUTLINE, READING, rules_of

__all__ = ["check_netlist", "check_outline", "check_reading", "check_text", "read_source"]

def _finding(code: str, hit: Hit) -> Finding:
    w = hit.where
    message = hit.message if isinstance(hit.message, str) else hit.message()
    return Finding(w.line, code, shorten(message), w.col, w.end_line, w.end_col,
                   hit.subckt, hit.instance, hit.net, hit.fix)


def _capped(code: str, hits: Iterable[Hit | Batch], limit: int | None) -> Iterator[Finding]:
    """The findings of `hits`; past `limit`, one finding that says how many more there are."""
    first: Hit | None = None
    lines: list[int] = []
    shown = more = 0
    for found in hits:
        items, make = (found.items, found.hit) if isinstance(found, Batch) else ((found,), None)
        for k, item in enumerate(items):
            if limit is None or shown < limit:
                shown += 1
                yield _finding(code, make(item) if make else item)
            elif len(lines) < 6:
                hit = make(item) if make else item
                if first is None:
                    first = hit
                lines.append(hit.where.line)
                more += 1
            else:  # the rest are only counted
                more += len(items) - k
                break
    if first is not None:
        where = listing(map(str, lines[:5]), 5) + (f" ... and {more - 5} more" if more > 5 else "")
        yield _finding(code, first._replace(
            message=f"{more} more {code} findings in this file (lines {where}) are not shown one by "
            f"one: the first {limit} are"))


def found(doc: Document, phase: str, context: Any = None) -> list[Finding]:
    """Every finding of `phase`, before selection and noqa (kept on `doc`)."""
    if phase not in doc.found:
        subject = doc if context is None else context
        doc.found[phase] = [f for r in rules_of(phase) if r.check
                            for f in _capped(r.code, r.check(subject), doc.limit)]
    return doc.found[phase]

def reported(doc: Document, findings: Iterable[Finding]) -> list[Finding]:
    """The findings `doc`'s configuration selects and no ``noqa`` comment suppresses, in order."""
    kept = []
    for f in findings:
        if f.code not in doc.codes:
            continue
        suppressed = doc.noqa.get(f.line, frozenset())
        if suppressed is None or any(f.code.startswith(c) for c in suppressed):
            continue
        kept.append(f)
    return sorted(kept, key=Finding.sort_key)

def check_outline(doc: Document) -> list[Finding]:
    """The findings that need no reading: from the outline alone, without `sax` or the PDK,
    fast enough for every keystroke of an editor."""
    return reported(doc, found(doc, OUTLINE))

def check_reading(doc: Document) -> list[Finding]:
    """The findings that need the reading: `parse_oc_spice` on the text and the components'
    ports as the reader looks them up (this imports the reader, `sax` and the PDK)."""
    from .rules.reading import Reading

    if not doc.codes & {r.code for r in rules_of(READING)}:
        return []  # nothing selected needs the reader (nor its import of sax)
    found(doc, OUTLINE)
    return reported(doc, found(doc, READING, doc.reading or Reading(doc)))

def check_text(text: str, path: str | Path | None = None, *, params: Mapping[str, Any] | None = None,
               read_options: Mapping[str, Any] | None = None, reading: bool = True,
               **document: Any) -> list[Finding]:
    """The findings of a netlist text, both phases (only the outline's without `reading`).

    `path` selects the configuration (see `Document`), also for a text not on disk."""
    doc = Document(text, path, params=params, read_options=read_options, **document)
    if reading:
        # The reading first: its peak memory and the outline's are then not added up.
        from .rules.reading import Reading

        doc.reading = Reading(doc)
        doc.reading.error  # noqa: B018 - computed now
    try:
        findings = check_outline(doc)
        if reading:
            findings = sorted(findings + check_reading(doc), key=Finding.sort_key)
    finally:
        # The reading refers to its document: left on it, the pair would wait, outline and
        # all, for the cyclic collector.
        doc.reading = None
    return findings

def read_source(source: str | Path | io.TextIOBase | TextIO) -> tuple[str | None, list[Finding]]:
    """The text of a netlist file or stream, or None and the finding that says why not:
    TS132 when it cannot be read, TS100 at the first byte that is not UTF-8."""
    if not isinstance(source, (str, Path)):
        return source.read(), []
    try:
        data = Path(source).read_bytes()
    except OSError as e:
        reason = e.strerror or str(e)
        return None, [_finding("TS132", Hit(FILE, f"the file cannot be read: {reason}"))]
    try:
        return data.decode("utf-8"), []
    except UnicodeDecodeError as e:
        before = data[: e.start].decode("utf-8")
        lines = (before + "|").splitlines()
        span = (len(lines), len(lines[-1]))
        message = (f"UnicodeDecodeError: {e}: the reader reads netlists as UTF-8; save the file "
                   "in that encoding")
        return None, [Finding(span[0], "TS100", shorten(message), span[1], span[0], span[1] + 1)]

def check_netlist(source: str | Path | io.TextIOBase | TextIO, params: Mapping[str, Any] | None = None,
                  **read_options: Any) -> list[Finding]:
    """The findings of a netlist file (a path) or text stream, both phases, in line order.

    `params` are the keyword values `parse_oc_spice` would be given, `read_options` its
    ``settings_keymap`` and ``component_map``; the configuration is that of the file's
    project (see `tessel.check.load_config`).
    """
    text, problems = read_source(source)
    path = Path(source) if isinstance(source, (str, Path)) else None
    if text is None:
        doc = Document("", path)
        return reported(doc, problems)
    return check_text(text, path, params=params, read_options=read_options)

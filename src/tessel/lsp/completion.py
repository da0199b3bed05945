"""Completion on an element line: the nets of the enclosing subcircuit, components (the PDK's
models and cells and the file's subcircuits) and the setting names used for the component
elsewhere in the file.

An element line reads ``NAME NET... COMPONENT KEY=VALUE...`` (an R... or C... name has no
component word): what may come at the cursor follows from the words before it.
"""

from __future__ import annotations

from collections.abc import Iterable
from typing import NamedTuple

from .index import Index
from .text import Text

__all__ = ["LIMIT", "Completion", "Item", "complete"]

# At most this many items are offered at once; the client asks again as more is typed.
LIMIT = 200

NET, COMPONENT, SUBCKT, KEY = "net", "component", "subckt", "key"


class Item(NamedTuple):
    label: str
    kind: str
    insert: str


class Completion(NamedTuple):
    items: list[Item]
    line: int   # the raw line and columns of the word that the items replace
    start: int
    end: int
    complete: bool  # False when items were left out


def _statement_words(text: Text, line: int, before: str) -> list[str]:
    """The words of the statement before the cursor, its continuation lines joined."""
    words = before.split()
    while before.lstrip().startswith("+") and line > 1:
        if words and words[0].startswith("+"):
            words[0] = words[0][1:]
            words = [w for w in words if w]
        line -= 1
        before = text.raw_line_text(line)
        if not before.strip():
            break  # a blank line ends a statement: the '+' line continues nothing
        words = before.split() + words
    return words


def _keys(index: Index, component: str, used: set[str]) -> list[str]:
    keys: dict[str, None] = {}
    for e in index.elements:
        if index.doc.component(e.component.text) == component:
            keys.update((s.key.text, None) for s in e.settings if s.key.text not in used)
    return list(keys)


def complete(index: Index, text: Text, line: int, col: int, components: Iterable[str]) -> Completion | None:
    """What may be written at raw `line`, `col` (1-based, code points)."""
    raw = text.raw_line_text(line)
    before = raw[: col - 1]
    start = len(before) - len(before.split(" ")[-1].split("\t")[-1])
    prefix, head = before[start:], before[:start]
    if "=" in prefix or "$" in before or ("*" in before and "$" not in raw):
        return None  # a value, or inside a comment
    words = _statement_words(text, line, head)
    if not words or words[0].startswith("."):
        return None
    name, rest = words[0], words[1:]
    positional = [w for w in rest if "=" not in w]
    used = {w.partition("=")[0] for w in rest if "=" in w}
    builtin = name[:1] in ("R", "C")
    k = index.enclosing(line)
    nets = index.net_names(k)
    candidates: list[Item] = []
    subckts = {index.doc.component(s.name.text) for s in index.subckts}
    if k >= 0:
        subckts.discard(index.doc.component(index.subckts[k].name.text))
    known = subckts | set(components)
    component = "resistor" if name[:1] == "R" else "capacitor" if name[:1] == "C" else (
        index.doc.component(positional[-1]) if positional else "")
    if builtin or component in known:
        candidates += [Item(f"{key}=", KEY, f"{key}=") for key in _keys(index, component, used)]
    if not (used and not builtin):  # after the first setting only settings follow
        own = index.at(line, start + 1)
        alone = own is not None and own.word.text == prefix and len(index.terminals(k, prefix)) == 1
        candidates += [Item(n, NET, n) for n in nets if not (alone and n == prefix)]
        if not builtin and positional:
            candidates += [Item(c, SUBCKT if c in subckts else COMPONENT, c) for c in sorted(known)]
    folded = prefix.casefold()
    chosen = [c for c in candidates if c.label.casefold().startswith(folded)]
    return Completion(chosen[:LIMIT], line, start + 1, col, len(chosen) <= LIMIT)


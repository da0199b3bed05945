"""What stands where in a netlist, from its outline: the word at a place, the terminals of a
net, the instances of a name, the definitions and uses of a subcircuit.

Places are the reader's (1-based raw lines, columns in code points).  Nets and instance
names belong to a subcircuit: the one the reader puts an element into (its owner), or the
one it is written in when the reader drops it (a subcircuit never closed).
"""

from __future__ import annotations

from bisect import bisect_right
from collections.abc import Iterator
from typing import NamedTuple

from tessel.check import Document
from tessel.core._outline import Element, Setting, Word

__all__ = ["COMPONENT", "INSTANCE", "KEY", "NET", "PORT", "SUBCKT", "VALUE", "Hit", "Index", "Terminal",
           "scope_of", "written_component"]

SUBCKT, INSTANCE, COMPONENT, NET, PORT, KEY, VALUE = (
    "subckt", "instance", "component", "net", "port", "key", "value")


class Hit(NamedTuple):
    """The word at a place and what it is."""

    kind: str
    word: Word
    subckt: int   # the subcircuit it belongs to, or -1
    element: int  # its element, or -1 for a subcircuit's own word
    item: int     # terminal, port or setting position, or -1


class Terminal(NamedTuple):
    """A word that names a net: an element's terminal, or a declared port (element -1)."""

    word: Word
    element: int
    position: int


def scope_of(e: Element) -> int:
    return e.owner if e.owner >= 0 else e.subckt


def _span(word: Word) -> tuple[int, int, int, int]:
    return word.line, word.col, word.end_line, word.end_col


def _contains(word: Word, line: int, col: int) -> bool:
    return word.line == line == word.end_line and word.col <= col <= word.end_col


def written_component(e: Element) -> bool:
    """Whether the element's component is a word of its line (not the resistor or capacitor
    that the reader makes of an R... or C... name, placed on the name)."""
    return _span(e.component) != _span(e.name)


class Index:
    """The outline of `doc`, looked up by place and by name."""

    def __init__(self, doc: Document) -> None:
        self.doc = doc
        outline = doc.outline
        self.elements = outline.elements
        self.subckts = outline.subckts
        self._element_lines = [e.statement.line for e in self.elements]
        self._subckt_lines = [s.statement.line for s in self.subckts]
        # By subcircuit: net -> its terminals, instance name -> its elements.
        self._nets: dict[int, dict[str, list[Terminal]]] = {}
        self._instances: dict[int, dict[str, list[int]]] = {}
        self.uses: dict[str, list[int]] = {}
        for k, s in enumerate(self.subckts):
            nets = self._nets.setdefault(k, {})
            for p, port in enumerate(s.ports):
                nets.setdefault(port.text, []).append(Terminal(port, -1, p))
        component = doc.component if doc.component_map else None
        for i, e in enumerate(self.elements):
            scope = scope_of(e)
            nets = self._nets.get(scope) or self._nets.setdefault(scope, {})
            for p, net in enumerate(e.nets):
                nets.setdefault(net.text, []).append(Terminal(net, i, p))
            self._instances.setdefault(scope, {}).setdefault(e.name.text, []).append(i)
            if written_component(e):
                name = e.component.text
                self.uses.setdefault(component(name) if component else name, []).append(i)
        # The definition the reader keeps: the last closed one of a name.
        self.definitions: dict[str, int] = {}
        for k, s in enumerate(self.subckts):
            name = doc.component(s.name.text)
            if s.end is not None or self.subckts[self.definitions.get(name, k)].end is None:
                self.definitions[name] = k

    def terminals(self, scope: int, net: str) -> list[Terminal]:
        """The terminals of `net` in subcircuit `scope`, declared ports first."""
        return self._nets.get(scope, {}).get(net, [])

    def net_names(self, scope: int) -> list[str]:
        return list(self._nets.get(scope, {}))

    def named(self, scope: int, name: str) -> list[int]:
        """The elements of subcircuit `scope` whose instance name is `name`."""
        return self._instances.get(scope, {}).get(name, [])

    def at(self, line: int, col: int) -> Hit | None:
        """The word at raw `line`, `col`; a place just after a word counts as on it."""
        candidates = [h for h in self._words_near(line) if _contains(h.word, line, col)]
        for hit in candidates:  # a word that begins here wins over one that ends here
            if col < hit.word.end_col:
                return hit
        return candidates[0] if candidates else None

    def _words_near(self, line: int) -> Iterator[Hit]:
        k = bisect_right(self._subckt_lines, line) - 1
        if k >= 0 and self.subckts[k].statement.end_line >= line:
            s = self.subckts[k]
            yield Hit(SUBCKT, s.name, k, -1, -1)
            for p, port in enumerate(s.ports):
                yield Hit(PORT, port, k, -1, p)
            yield from self._settings(s.settings, s.statement, k, -1)
        i = bisect_right(self._element_lines, line) - 1
        if i >= 0 and self.elements[i].statement.end_line >= line:
            e = self.elements[i]
            scope = scope_of(e)
            yield Hit(INSTANCE, e.name, scope, i, -1)
            if written_component(e):
                yield Hit(COMPONENT, e.component, scope, i, -1)
            for p, net in enumerate(e.nets):
                yield Hit(NET, net, scope, i, p)
            yield from self._settings(e.settings, e.statement, scope, i)

    @staticmethod
    def _settings(settings: tuple[Setting, ...], statement: Word, scope: int, element: int) -> Iterator[Hit]:
        for p, setting in enumerate(settings):
            # A controlled source's made-up settings stand on the whole statement.
            if _span(setting.word) != _span(statement):
                yield Hit(KEY, setting.key, scope, element, p)
                yield Hit(VALUE, setting.value, scope, element, p)

    def enclosing(self, line: int) -> int:
        """The innermost subcircuit whose lines hold raw `line`, or -1."""
        for k in range(bisect_right(self._subckt_lines, line) - 1, -1, -1):
            end = self.subckts[k].end
            if end is None or end.end_line >= line:
                return k
        return -1

    def definition(self, name: str) -> int:
        """The index of the subcircuit named `name` (mapped) that the reader keeps, or -1."""
        return self.definitions.get(name, -1)

    def subckt_words(self, name: str) -> list[Word]:
        """Every word that names subcircuit `name`: its definitions and its uses."""
        words = [s.name for s in self.subckts if self.doc.component(s.name.text) == name]
        return words + [self.elements[i].component for i in self.uses.get(name, ())]

"""Navigation: where a subcircuit is defined, the words that name the same net, instance or
subcircuit, what a rename changes, and the outline of subcircuits for the symbol view.

Everything here is in the reader's places (`Word`s); `tessel.lsp.text` turns them into the
protocol's.
"""

from __future__ import annotations

from typing import NamedTuple

from tessel.core._outline import Word

from .index import COMPONENT, INSTANCE, NET, PORT, SUBCKT, Hit, Index, scope_of

__all__ = ["Symbol", "definition", "references", "rename", "renamable", "symbols"]

# Characters that would end a name or change the line it is on: blanks, the comment markers,
# quotes, '=' (a setting) and ',' (it separates instance and port in the result).
_NOT_IN_NAMES = frozenset(" \t\r\n\f\v$*\"'=,")


def definition(index: Index, hit: Hit) -> list[Word]:
    """The definition of a component that is a subcircuit of the file, or the declaration of
    a net that is a declared port."""
    if hit.kind in (COMPONENT, SUBCKT):
        k = index.definition(index.doc.component(hit.word.text))
        return [index.subckts[k].name] if k >= 0 else []
    if hit.kind in (NET, PORT):
        return [t.word for t in index.terminals(hit.subckt, hit.word.text) if t.element < 0][:1]
    return []


def references(index: Index, hit: Hit, declaration: bool = True) -> list[Word]:
    """The words that name what `hit` names: a net or port in its subcircuit, an instance
    name in its subcircuit, a subcircuit in the whole file."""
    if hit.kind in (NET, PORT):
        terminals = index.terminals(hit.subckt, hit.word.text)
        return [t.word for t in terminals if declaration or t.element >= 0]
    if hit.kind == INSTANCE:
        return [index.elements[i].name for i in index.named(hit.subckt, hit.word.text)]
    if hit.kind in (SUBCKT, COMPONENT):
        name = index.doc.component(hit.word.text)
        if hit.kind == COMPONENT and index.definition(name) < 0:
            return [index.elements[i].component for i in index.uses.get(name, [])]
        words = index.subckt_words(name)
        return words if declaration else [w for w in words if w not in {s.name for s in index.subckts}]
    return []


def renamable(hit: Hit | None, index: Index) -> bool:
    """Whether a rename can start at `hit`: a net, an instance, or a subcircuit of the file."""
    if hit is None:
        return False
    if hit.kind == COMPONENT:
        return index.definition(index.doc.component(hit.word.text)) >= 0
    return hit.kind in (NET, PORT, INSTANCE, SUBCKT)


def rename(index: Index, hit: Hit, new: str) -> list[Word]:
    """The words to replace by `new`; ValueError saying why when `new` cannot be the name."""
    if not new or any(c in _NOT_IN_NAMES for c in new) or not new.isprintable():
        raise ValueError(f"{new!r} cannot be a name: a name has no blanks, quotes, '$', '*', '=' or ','")
    if new[0] in ".+":
        raise ValueError(f"{new!r} cannot be a name: a word beginning with {new[0]!r} is read as "
                         f"{'a command' if new[0] == '.' else 'a continuation'}")
    old = hit.word.text
    if hit.kind == INSTANCE and (old[:1] in "RC" or new[:1] in "RC") and old[:1] != new[:1]:
        raise ValueError(f"renaming {old!r} to {new!r} would change its component: the reader makes "
                         "an instance whose name begins with R a resistor, with C a capacitor")
    if not renamable(hit, index):
        raise ValueError(f"{old!r} is not a net, an instance or a subcircuit of this file")
    if new != old and _taken(index, hit, new):
        raise ValueError(f"{new!r} is taken: the rename would join it with {old!r}")
    return references(index, hit)


def _taken(index: Index, hit: Hit, name: str) -> bool:
    if hit.kind in (NET, PORT):
        return bool(index.terminals(hit.subckt, name))
    if hit.kind == INSTANCE:
        return bool(index.named(hit.subckt, name))
    return index.definition(index.doc.component(name)) >= 0


class Symbol(NamedTuple):
    """A subcircuit, port, instance or net for the symbol view."""

    kind: str          # subckt, port, instance or net
    name: str
    detail: str
    word: Word         # what selects it
    span: Word | None  # what it covers (None: the word alone)
    end: Word | None   # where it ends, for a subcircuit
    children: list[Symbol]


def symbols(index: Index) -> list[Symbol]:
    """The subcircuits, each with its ports, instances, nets and nested subcircuits."""
    owned: dict[int, list[int]] = {}
    for i, e in enumerate(index.elements):
        owned.setdefault(scope_of(e), []).append(i)
    made: list[Symbol] = []
    top: list[Symbol] = []
    for k, s in enumerate(index.subckts):
        last = s.end
        children = [Symbol("port", p.text, "port", p, None, None, []) for p in s.ports]
        seen = {p.text for p in s.ports}
        for i in owned.get(k, ()):
            e = index.elements[i]
            children.append(Symbol("instance", e.name.text, e.component.text, e.name, e.statement, None, []))
            for net in e.nets:
                if net.text not in seen:
                    seen.add(net.text)
                    children.append(Symbol("net", net.text, "net", net, None, None, []))
            if s.end is None:
                last = e.statement
        made.append(Symbol("subckt", s.name.text, " ".join(p.text for p in s.ports), s.name, s.statement,
                           last, children))
        (made[s.parent].children if s.parent >= 0 else top).append(made[-1])
    return top

"""Rules on the nets of each subcircuit, as the reader connects them."""

from __future__ import annotations

from collections.abc import Iterator

from tessel.core._outline import Element, Subckt, Word

from ..document import Document
from ..findings import Hit, listing
from ..registry import ERROR, WARNING, rule


Terminals = dict[str, list[tuple[Element, Word]]]


def _terminals(doc: Document, k: int) -> Terminals:
    """Net -> the Words of its terminals in subcircuit `k`, in order."""
    terminals: Terminals = {}
    for e in doc.owned[k]:
        for net in e.nets:
            terminals.setdefault(net.text, []).append((e, net))
    return terminals


def _subckts(doc: Document) -> Iterator[tuple[int, Subckt, Terminals]]:
    for k, s in enumerate(doc.outline.subckts):
        if s.end is not None:
            yield k, s, _terminals(doc, k)


@rule("TS105", WARNING)
def instance_defined_twice(doc: Document) -> Iterator[Hit]:
    """Two instances of the same name in one subcircuit.

    Why: they are one instance, with the later one's settings and both lines' nets.

    Example: ``X1 mid out straight`` (X1 again)

    Fix: rename one of them.
    """
    for k, s in enumerate(doc.outline.subckts):
        if s.end is None:
            continue
        names: dict[str, int] = {}
        for e in doc.owned[k]:
            name = e.name.text
            if name in names:
                yield Hit(e.name, f"instance {name!r} is also defined at line {names[name]}; the later "
                          "one's settings win and its nets join the same instance",
                          subckt=s.name.text, instance=name)
            names.setdefault(name, e.name.line)


@rule("TS106", WARNING)
def one_terminal_net(doc: Document) -> Iterator[Hit]:
    """A net with a single terminal that is not a declared port.

    Why: the reader makes it an external port under its own name, which is usually a
    misspelt net.

    Example: ``X1 a typo_net straight``

    Fix: correct the net's name, or declare it as a port on the ``.subckt`` line.
    """
    for _, s, terminals in _subckts(doc):
        declared = {p.text for p in s.ports}
        for net, ends in terminals.items():
            if net not in declared and len(ends) == 1:
                e, word = ends[0]
                yield Hit(word, f"net {net!r} of subcircuit {s.name.text!r} has one terminal and is no "
                          "declared port, so it becomes an external port (a misspelt net?)",
                          subckt=s.name.text, instance=e.name.text, net=net)


@rule("TS107", WARNING)
def unused_port(doc: Document) -> Iterator[Hit]:
    """A declared port that no element uses.

    Why: the port is missing from the result; a circuit that connects to it finds nothing.

    Example: ``.subckt top a b unused``

    Fix: connect it, or remove it from the ``.subckt`` line.
    """
    for _, s, terminals in _subckts(doc):
        seen: set[str] = set()
        for port in s.ports:
            if port.text not in terminals and port.text not in seen:
                yield Hit(port, f"port {port.text!r} of subcircuit {s.name.text!r} is not used by any "
                          "element", subckt=s.name.text, net=port.text)
            seen.add(port.text)


@rule("TS108", WARNING)
def port_with_several_terminals(doc: Document) -> Iterator[Hit]:
    """Several terminals on one declared port.

    Why: the reader records only the last one; the others are dropped.

    Example: ``R1 a n`` and ``R2 a m`` on port ``a``

    Fix: give each terminal a net of its own and join them with an element that has the
    ports to do so.
    """
    for _, s, terminals in _subckts(doc):
        for port in dict.fromkeys(p.text for p in s.ports):
            ends = terminals.get(port, [])
            if len(ends) > 1:
                e, word = ends[-1]
                lines = listing(str(w.line) for _, w in ends)
                yield Hit(word, f"port {port!r} of subcircuit {s.name.text!r} has {len(ends)} terminals "
                          f"(lines {lines}); only the last one is kept",
                          subckt=s.name.text, instance=e.name.text, net=port)


@rule("TS120", ERROR, fatal=True)
def net_with_many_terminals(doc: Document) -> Iterator[Hit]:
    """A net that joins three or more terminals.

    Why: the reader refuses the netlist ("Net ... is connected to more than two ports"): a
    connection joins exactly two ports.

    Example: ``R3 n c`` (a third terminal on ``n``)

    Fix: split the net with an element that has the ports to join three (a splitter, a
    coupler).
    """
    for _, s, terminals in _subckts(doc):
        declared = {p.text for p in s.ports}
        for net, ends in terminals.items():
            if net in declared or len(ends) < 3:
                continue
            e, word = ends[2]
            names = listing(repr(x.name.text) for x, _ in ends)
            yield Hit(word, f"net {net!r} of subcircuit {s.name.text!r} joins {len(ends)} terminals "
                      f"(of {names}): the reader refuses a net of more than two",
                      subckt=s.name.text, instance=e.name.text, net=net)

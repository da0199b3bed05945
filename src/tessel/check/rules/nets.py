"""Rules on the nets of each subcircuit, as the reader connects them (`subckt_nets`, walked
once per document: `Document.net_tallies`)."""

from __future__ import annotations

from collections.abc import Iterator
from functools import partial

from tessel.core._outline import Net, Subckt

from ..document import Document
from ..findings import Batch, Hit, listing
from ..registry import ERROR, WARNING, rule


def _closed(doc: Document) -> Iterator[tuple[int, Subckt]]:
    return ((k, s) for k, s in enumerate(doc.outline.subckts) if s.end is not None)


@rule("TS105", WARNING)
def instance_defined_twice(doc: Document) -> Iterator[Hit]:
    """Two instances of the same name in one subcircuit.

    Why: they are one instance, with the later one's settings and both lines' nets.

    Example: ``X1 mid out straight`` (X1 again)

    Fix: rename one of them.
    """
    for k, s in _closed(doc):
        names: dict[str, int] = {}
        for e in doc.owned[k]:
            name = e.name.text
            if name in names:
                yield Hit(e.name, f"instance {name!r} is also defined at line {names[name]}; the later "
                          "one's settings win and its nets join the same instance",
                          subckt=s.name.text, instance=name)
            names.setdefault(name, e.name.line)


@rule("TS106", WARNING)
def one_terminal_net(doc: Document) -> Iterator[Batch]:
    """A net with a single terminal that is not a declared port.

    Why: the reader makes it an external port under its own name, which is usually a
    misspelt net.

    Example: ``X1 a typo_net straight``

    Fix: correct the net's name, or declare it as a port on the ``.subckt`` line.
    """
    elements = doc.outline.elements

    def hit(s: Subckt, net: Net) -> Hit:
        return Hit(net.terminals[0], f"net {net.name!r} of subcircuit {s.name.text!r} has one terminal "
                   "and is no declared port, so it becomes an external port (a misspelt net?)",
                   subckt=s.name.text, instance=elements[net.elements[0]].name.text, net=net.name)

    for tally in doc.net_tallies:
        yield Batch(tally.single, partial(hit, tally.subckt))


@rule("TS107", WARNING)
def unused_port(doc: Document) -> Iterator[Hit]:
    """A declared port that no element uses.

    Why: the port is missing from the result; a circuit that connects to it finds nothing.
    A subcircuit without elements (a black box, which the reader leaves out) is not
    reported.

    Example: ``.subckt top a b unused``

    Fix: connect it, or remove it from the ``.subckt`` line.
    """
    for tally in doc.net_tallies:
        s = tally.subckt
        if not s.elements:
            continue  # a black box: the reader leaves it out of the result
        reported: set[str] = set()
        for port in s.ports:
            if port.text not in tally.ports and port.text not in reported:
                reported.add(port.text)
                yield Hit(port, f"port {port.text!r} of subcircuit {s.name.text!r} is not used by any "
                          "element", subckt=s.name.text, net=port.text)


@rule("TS108", WARNING)
def port_with_several_terminals(doc: Document) -> Iterator[Batch]:
    """Several terminals on one declared port.

    Why: the reader records only the last one; the others are dropped.

    Example: ``R1 a n`` and ``R2 a m`` on port ``a``

    Fix: give each terminal a net of its own and join them with an element that has the
    ports to do so.
    """
    elements = doc.outline.elements

    def hit(s: Subckt, net: Net) -> Hit:
        ends = net.terminals
        lines = listing((str(w.line) for w in ends), count=len(ends))
        return Hit(ends[-1], f"port {net.name!r} of subcircuit {s.name.text!r} has {len(ends)} terminals "
                   f"(lines {lines}); only the last one is kept", subckt=s.name.text,
                   instance=elements[net.elements[-1]].name.text, net=net.name)

    for tally in doc.net_tallies:
        shared = [net for net in tally.ports.values() if len(net.terminals) > 1]
        yield Batch(shared, partial(hit, tally.subckt))


@rule("TS120", ERROR, fatal=True)
def net_with_many_terminals(doc: Document) -> Iterator[Batch]:
    """A net that joins three or more terminals.

    Why: the reader refuses the netlist ("Net ... is connected to more than two ports"): a
    connection joins exactly two ports.

    Example: ``R3 n c`` (a third terminal on ``n``)

    Fix: split the net with an element that has the ports to join three (a splitter, a
    coupler).
    """
    elements = doc.outline.elements

    def hit(s: Subckt, net: Net) -> Hit:
        names = listing((repr(elements[k].name.text) for k in net.elements), count=len(net.elements))
        return Hit(net.terminals[2], f"net {net.name!r} of subcircuit {s.name.text!r} joins "
                   f"{len(net.terminals)} terminals (of {names}): the reader refuses a net of more than two",
                   subckt=s.name.text, instance=elements[net.elements[2]].name.text, net=net.name)

    for tally in doc.net_tallies:
        yield Batch(tally.crowded, partial(hit, tally.subckt))

"""Rules that need the reading: the reader's own verdict on the text, and the components'
ports as the reader looks them up in the PDK."""

from __future__ import annotations

import io
import warnings
from collections.abc import Iterator
from functools import cached_property

from tessel.core._outline import Element

from ...suggest import component_names, did_you_mean
from ..document import Document
from ..findings import FILE, Hit, listing
from ..registry import ERROR, OUTLINE, READING, RULES, WARNING, rule

__all__ = ["Reading"]


def _untraced(error: BaseException) -> BaseException:
    """`error` and the errors it was raised from or during, without their tracebacks: their
    frames hold the document in a cycle that only the collector would free, the outline
    with it."""
    pending, seen = [error], set()
    while pending:
        e = pending.pop()
        if id(e) not in seen:
            seen.add(id(e))
            e.__traceback__ = None
            pending += [c for c in (e.__cause__, e.__context__) if c is not None]
    return error


class Reading:
    """A document read as `parse_oc_spice` reads it, with the active PDK."""

    def __init__(self, doc: Document) -> None:
        self.doc = doc
        self._ports: dict[str, tuple[str, ...] | None] = {}

    @cached_property
    def error(self) -> BaseException | None:
        """What `parse_oc_spice` raises on the text, or None."""
        from tessel.core.spiceread import ParseWarning, parse_oc_spice

        doc = self.doc
        with warnings.catch_warnings():
            # Each value the reader cannot evaluate is a finding of its own (TS112).
            warnings.simplefilter("ignore", ParseWarning)
            try:
                parse_oc_spice(io.StringIO(doc.text), settings_keymap=doc.settings_keymap,
                               component_map=doc.component_map, **doc.params)
            except Exception as e:  # noqa: BLE001 - every refusal is a finding
                return _untraced(e)
        return None

    def ports(self, component: str) -> tuple[str, ...] | None:
        """The ports of `component` (as recorded, after the component map), in the order of an
        element's nets, as the reader finds them; None when it knows none."""
        if component not in self._ports:
            self._ports[component] = self._look_up(component)
        return self._ports[component]

    def _look_up(self, component: str) -> tuple[str, ...] | None:
        from tessel.core import spiceread

        try:
            ports = spiceread._get_ports(component)  # type: ignore[attr-defined]
        except Exception:  # noqa: BLE001 - the PDK's failure is the reading's (TS100)
            return None
        if ports is None:
            return self.doc.subckt_ports.get(component)
        return tuple(ports)

    @cached_property
    def components(self) -> list[str]:
        from tessel.core import pdk

        return component_names(pdk.get_pdk(), self.doc.subckt_ports)

    @cached_property
    def uses(self) -> dict[str, list[Element]]:
        """Component (as recorded) -> the elements the reader builds of it, in order."""
        uses: dict[str, list[Element]] = {}
        for k, s in enumerate(self.doc.outline.subckts):
            if s.end is not None:
                for e in self.doc.owned[k]:
                    uses.setdefault(self.doc.component(e.component.text), []).append(e)
        return uses

    def subckt_of(self, element: Element) -> str:
        return self.doc.outline.subckts[element.owner].name.text


@rule("TS100", ERROR, phase=READING)
def reader_refuses(reading: Reading) -> Iterator[Hit]:
    """The reader refuses the netlist for a reason no other check names.

    Why: nothing of the netlist can be used.  Refusals that another check explains (an
    unsupported command, a net of three terminals, a setting with two ``=``, ...) are
    reported by that check instead; this one is what is left: bytes that are not UTF-8, a
    PDK or cell factory that fails, and whatever else ``parse_oc_spice`` raises.

    Example: a file with the byte 0xFF in it

    Fix: what the message says; ``tessel spice`` on the file shows the same error.
    """
    error = reading.error
    if error is None:
        return
    explained = any(RULES[f.code].fatal for f in reading.doc.found.get(OUTLINE, ()))
    if explained or any(True for _ in unknown_component(reading)):
        return
    notes = [str(n) for n in getattr(error, "__notes__", ())]
    message = f"{type(error).__name__}: {error}"
    if notes:
        message += f" [{'; '.join(notes)}]"
    yield Hit(FILE, f"the reader refuses the netlist: {message}")


_HINTS = 5  # at most this many unknown components in a file get a "did you mean"


def _instances(elements: list[Element]) -> str:
    return listing((repr(e.name.text) for e in elements), count=len(elements))


@rule("TS121", ERROR, phase=READING, fatal=True)
def unknown_component(reading: Reading) -> Iterator[Hit]:
    """A component with no known ports.

    Why: the reader refuses the netlist: the component is no built-in element, no model or
    cell of the PDK and no subcircuit of the file, so its instances' terminals cannot be
    named.  One finding per component, at its first instance.

    Example: ``X1 a b stright``

    Fix: correct the name (the message suggests close ones), or register the cell.
    """
    unknown = [(component, wired) for component, elements in reading.uses.items()
               if reading.ports(component) is None and (wired := [e for e in elements if e.nets])]
    # Many unknown components are no typos: a deck for another simulator.
    typos = len(unknown) <= _HINTS
    for component, wired in unknown:
        hint = did_you_mean(component, reading.components) if typos else ""
        first = wired[0]
        yield Hit(first.component, f"component {component!r} (of {_instances(wired)}) has no known "
                  "ports: it is no built-in element, no model or cell of the PDK and no subcircuit "
                  f"of this file{'; ' + hint if hint else ''}",
                  subckt=reading.subckt_of(first), instance=first.name.text)


@rule("TS122", WARNING, phase=READING)
def more_nets_than_ports(reading: Reading) -> Iterator[Hit]:
    """Instances with more nets than their component has ports.

    Why: the reader invents a positional port (``o3``) for each extra net; the simulation
    fails on it later.  One finding per component, at its first such instance.

    Example: ``X1 a b c straight`` (straight has two ports)

    Fix: remove the extra nets, or use a component with that many ports.
    """
    for component, elements in reading.uses.items():
        ports = reading.ports(component)
        if ports is None:
            continue
        over = [e for e in elements if len(e.nets) > len(ports)]
        if not over:
            continue
        first = over[0]
        extra = first.nets[len(ports):]
        invented = listing(f"o{len(ports) + k + 1}" for k in range(len(extra)))
        yield Hit(extra[0], f"component {component!r} has {len(ports)} ports "
                  f"({listing(ports) or 'none'}) but {_instances(over)} "
                  f"{'has' if len(over) == 1 else 'have'} more nets: for {first.name.text!r} the reader "
                  f"invents {invented}", subckt=reading.subckt_of(first), instance=first.name.text,
                  net=extra[0].text)


@rule("TS123", WARNING, phase=READING)
def fewer_nets_than_ports(reading: Reading) -> Iterator[Hit]:
    """Instances with fewer nets than their component has ports.

    Why: the ports without a net are left open; the circuit leaves them out.  A controlled
    source's control words decide how many of its ports it uses, so sources are not
    reported.  One finding per component, at its first such instance.

    Example: ``X1 a coupler`` (a coupler has four ports)

    Fix: give every port a net.
    """
    for component, elements in reading.uses.items():
        ports = reading.ports(component)
        if ports is None:
            continue
        under = [e for e in elements if e.nets and len(e.nets) < len(ports) and not e.source]
        if not under:
            continue
        first = under[0]
        open_ports = ports[len(first.nets):]
        yield Hit(first.name, f"component {component!r} has {len(ports)} ports but {_instances(under)} "
                  f"{'has' if len(under) == 1 else 'have'} fewer nets: for {first.name.text!r}, "
                  f"{listing(map(repr, open_ports))} {'stays' if len(open_ports) == 1 else 'stay'} open",
                  subckt=reading.subckt_of(first), instance=first.name.text)

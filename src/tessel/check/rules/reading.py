"""Rules that need the reading: the reader's own verdict on the text, and the components'
ports as the reader looks them up in the PDK."""

from __future__ import annotations

import io
import warnings
from collections.abc import Iterator
from functools import cached_property
from typing import Any

from ...suggest import component_names, did_you_mean
from ..document import Document
from ..findings import FILE, Hit, listing
from ..registry import ERROR, OUTLINE, READING, RULES, WARNING, rule

__all__ = ["Reading"]


class Reading:
    """A document read as `parse_oc_spice` reads it, with the active PDK."""

    def __init__(self, doc: Document) -> None:
        self.doc = doc

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
                return e
        return None

    def ports(self, component: str) -> tuple[str, ...] | None:
        """The ports of `component` (as recorded, after the component map), in the order of an
        element's nets, as the reader finds them; None when it knows none."""
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

    def elements(self) -> Iterator[tuple[Any, str, tuple[str, ...] | None]]:
        """The elements the reader builds, with their component and its ports."""
        doc = self.doc
        subckts = doc.outline.subckts
        for k, s in enumerate(subckts):
            if s.end is None:
                continue
            for e in doc.owned[k]:
                component = doc.component(e.component.text)
                yield e, component, self.ports(component)


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


@rule("TS121", ERROR, phase=READING, fatal=True)
def unknown_component(reading: Reading) -> Iterator[Hit]:
    """An element whose component has no known ports.

    Why: the reader refuses the netlist: the component is no built-in element, no model or
    cell of the PDK and no subcircuit of the file, so its terminals cannot be named.

    Example: ``X1 a b stright``

    Fix: correct the name (the message suggests close ones), or register the cell.
    """
    for e, component, ports in reading.elements():
        if ports is None and e.nets:
            hint = did_you_mean(component, reading.components)
            yield Hit(e.component, f"component {component!r} of instance {e.name.text!r} has no known "
                      f"ports: it is no built-in element, no model or cell of the PDK and no subcircuit "
                      f"of this file{'; ' + hint if hint else ''}",
                      subckt=reading.doc.outline.subckts[e.owner].name.text, instance=e.name.text)


@rule("TS122", WARNING, phase=READING)
def more_nets_than_ports(reading: Reading) -> Iterator[Hit]:
    """An element with more nets than its component has ports.

    Why: the reader invents a positional port (``o3``) for each extra net; the simulation
    fails on it later.

    Example: ``X1 a b c straight`` (straight has two ports)

    Fix: remove the extra nets, or use a component with that many ports.
    """
    for e, component, ports in reading.elements():
        if ports is not None and len(e.nets) > len(ports):
            extra = e.nets[len(ports):]
            invented = listing(f"o{len(ports) + k + 1}" for k in range(len(extra)))
            yield Hit(extra[0], f"instance {e.name.text!r} has {len(e.nets)} nets but component "
                      f"{component!r} has {len(ports)} ports ({listing(ports) or 'none'}): the reader "
                      f"invents the port{'s' if len(extra) > 1 else ''} {invented}",
                      subckt=reading.doc.outline.subckts[e.owner].name.text, instance=e.name.text,
                      net=extra[0].text)


@rule("TS123", WARNING, phase=READING)
def fewer_nets_than_ports(reading: Reading) -> Iterator[Hit]:
    """An element with fewer nets than its component has ports.

    Why: the ports without a net are left open; the circuit leaves them out.

    Example: ``X1 a coupler`` (a coupler has four ports)

    Fix: give every port a net.
    """
    for e, component, ports in reading.elements():
        # A controlled source's controls decide how many of its ports it uses.
        if ports is not None and e.nets and len(e.nets) < len(ports) and not e.source:
            open_ports = ports[len(e.nets):]
            yield Hit(e.name, f"instance {e.name.text!r} has {len(e.nets)} net{'s' if len(e.nets) > 1 else ''}"
                      f" but component {component!r} has {len(ports)} ports: "
                      f"{listing(map(repr, open_ports))} stay{'s' if len(open_ports) == 1 else ''} open",
                      subckt=reading.doc.outline.subckts[e.owner].name.text, instance=e.name.text)

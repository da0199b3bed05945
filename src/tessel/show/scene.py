"""What a drawing of a netlist holds: one sheet per subcircuit, with its instances (symbol,
origin, source line, placement) and its nets (connections, external ports, open ends).

Everything comes from the reader's result (instances, connections, ports, placements) and
the outline of the file (the file line of each subcircuit and element, the nets of each
element as written, the declared ports); port names come from the reader's own port look-up,
in terminal order.  The drawing shows what the reader made of the file, so a name that only
the outline knows (a declared port no element uses) is drawn apart, as unused.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field
from typing import Any

from .geometry import Symbol, layered, make_symbol, unit_for

# Net kinds: a connection of two terminals, an external port, a net of one terminal that no
# declared port names (it becomes an external port, usually a misspelt net), and a declared
# port that no element uses.
WIRE, PORT, LONE, UNUSED = "wire", "port", "lone", "unused"

# Automatic layout: columns and rows apart, in symbol widths.
_COLUMN_PITCH = 2.0
_ROW_GAP = 0.6
# Port markers stand this far out of their port, in symbol widths.
MARKER_REACH = 0.7


Direction = tuple[float, float, float, float]  # x, y and the unit vector it faces


@dataclass(slots=True)
class Instance:
    name: str
    component: str
    settings: dict[str, Any]
    line: int  # file line of its element, 0 when unknown
    placement: dict[str, Any] | None  # as the reader gives it
    placed: bool  # drawn at its placement; otherwise laid out automatically
    note: str  # why a placement could not be used
    symbol: int
    x: float = 0.0  # origin, drawing coordinates
    y: float = 0.0
    nets: list[int] = field(default_factory=list)  # per port, -1 for an open port


@dataclass(slots=True)
class Net:
    name: str
    kind: str
    ends: list[tuple[int, int]]  # (instance, port)
    at: Direction | None = None  # a port's marker
    points: list[Direction] = field(default_factory=list)  # where its terminals are


@dataclass(slots=True)
class Sheet:
    name: str
    line: int
    unit: float  # symbol width
    symbols: list[Symbol]
    instances: list[Instance]
    nets: list[Net]
    bbox: tuple[float, float, float, float] = (0.0, 0.0, 0.0, 0.0)

    def index(self) -> dict[str, int]:
        return {inst.name: k for k, inst in enumerate(self.instances)}


PortLookup = Callable[[str], "tuple[str, ...] | None"]


def build_sheets(netlists: Mapping[str, Any], outline: Any, port_names: PortLookup,
                 component_map: Mapping[str, str] | None = None) -> list[Sheet]:
    """One sheet per netlist of the reader's result, in its order (`outline`: the file's
    `tessel.core._outline.Outline`)."""
    mapped = dict(component_map or {})
    written: dict[str, _Written] = {}
    for s in outline.subckts:
        if s.end is not None:  # the later definition of a name wins, as in the reader
            written[mapped.get(s.name.text, s.name.text)] = _Written.of(outline, s)
    declared = {name: w.ports for name, w in written.items()}

    names: dict[str, tuple[str, ...]] = {}

    def names_of(component: str) -> tuple[str, ...]:
        if component not in names:
            known = port_names(component)
            names[component] = tuple(known) if known is not None else declared.get(component, ())
        return names[component]

    return [_Builder(name, netlist, written.get(name), names_of).sheet()
            for name, netlist in netlists.items()]


@dataclass
class _Written:
    """A subcircuit as the file writes it: its line, declared ports, and the line and nets of
    each element the reader gives it (the first of a name, as the reader keeps its place)."""

    line: int = 0
    ports: tuple[str, ...] = ()
    elements: dict[str, tuple[int, tuple[str, ...]]] = field(default_factory=dict)

    @classmethod
    def of(cls, outline: Any, subckt: Any) -> _Written:
        elements: dict[str, tuple[int, tuple[str, ...]]] = {}
        for k in subckt.elements:
            e = outline.elements[k]
            elements.setdefault(e.name.text, (e.name.line, tuple(n.text for n in e.nets)))
        return cls(subckt.name.line, tuple(p.text for p in subckt.ports), elements)


_End = tuple[str, str]  # instance name, port name
_Position = tuple[float, float, float, bool, str]  # x, y, rotation, mirror, port placed by


class _Builder:
    def __init__(self, name: str, netlist: Mapping[str, Any], written: _Written | None,
                 names_of: Callable[[str], tuple[str, ...]]) -> None:
        self.name, self.netlist, self.written = name, netlist, written or _Written()
        self.elements = self.written.elements
        self.names_of = names_of

    def sheet(self) -> Sheet:
        instances = self.netlist["instances"]
        index = {name: k for k, name in enumerate(instances)}
        wires = [(_split(a), _split(b)) for a, b in self.netlist["connections"].items()]
        externals = [(port, _split(ip)) for port, ip in self.netlist["ports"].items()]
        names = [self._port_names(name, inst["component"]) for name, inst in instances.items()]
        for inst, port in [end for pair in wires for end in pair] + [end for _, end in externals]:
            k = index[inst]
            if port not in names[k]:  # a port the look-up does not know: drawn all the same
                names[k] += (port,)
        placements = self.netlist.get("placements") or {}
        where = [_position(placements.get(name)) for name in instances]
        unit = unit_for([(at[0], at[1]) for at in where if at is not None])
        symbols: list[Symbol] = []
        keys: dict[tuple[Any, ...], int] = {}
        out: list[Instance] = []
        for (name, inst), ports, at in zip(instances.items(), names, where):
            rotation, mirror = (at[2], at[3]) if at else (0.0, False)
            key = (inst["component"], ports, rotation, mirror)
            if key not in keys:
                keys[key] = len(symbols)
                symbols.append(make_symbol(key[0], ports, rotation, mirror, unit))
            element = self.elements.get(name)
            placement = placements.get(name)
            out.append(Instance(name, inst["component"], inst.get("settings") or {},
                                element[0] if element else 0, placement, at is not None,
                                "" if at else _why_not_placed(placement), keys[key],
                                nets=[-1] * len(ports)))
        sheet = Sheet(self.name, self.written.line, unit, symbols, out, [])
        self._place(sheet, where, [(index[a[0]], index[b[0]]) for a, b in wires])
        self._nets(sheet, index, wires, externals)
        sheet.bbox = _bbox(sheet)
        return sheet

    def _port_names(self, name: str, component: str) -> tuple[str, ...]:
        names = self.names_of(component)
        element = self.elements.get(name)
        terminals = len(element[1]) if element else 0
        if terminals <= len(names):
            return names
        return names + tuple(f"o{k + 1}" for k in range(len(names), terminals))

    def _place(self, sheet: Sheet, where: list[_Position | None], edges: list[tuple[int, int]]) -> None:
        for inst, at in zip(sheet.instances, where):
            if at is None:
                continue
            x, y, _, _, by_port = at
            symbol = sheet.symbols[inst.symbol]
            dx = dy = 0.0
            if by_port in symbol.names:
                dx, dy = symbol.ports[symbol.names.index(by_port)][:2]
            elif by_port:
                inst.note = f"it has no port {by_port!r} to be placed by: placed by its origin"
            inst.x, inst.y = x - dx, y - dy
        loose = [k for k, at in enumerate(where) if at is None]
        if not loose:
            return
        grid = layered(loose, [(a, b) for a, b in edges if where[a] is None and where[b] is None])
        placed = [inst for inst in sheet.instances if inst.placed]
        left, top = 0.0, 0.0
        if placed:
            x0, _, _, y1 = _bbox(sheet, placed)
            left, top = x0, y1 + sheet.unit * 2
        tallest = max(_height(sheet.symbols[sheet.instances[k].symbol]) for k in loose)
        first_row = min(row for _, row in grid.values())
        pitch = tallest + sheet.unit * _ROW_GAP
        for k, (column, row) in grid.items():
            inst = sheet.instances[k]
            inst.x = left + column * sheet.unit * _COLUMN_PITCH
            inst.y = top + (row - first_row) * pitch + tallest / 2

    def _nets(self, sheet: Sheet, index: dict[str, int], wires: list[tuple[_End, _End]],
              externals: list[tuple[str, _End]]) -> None:
        port_index = [{name: p for p, name in enumerate(s.names)} for s in sheet.symbols]

        def end(at: _End) -> tuple[int, int]:
            k = index[at[0]]
            return k, port_index[sheet.instances[k].symbol][at[1]]

        def written(inst: str, port: int) -> str | None:
            """The net on that terminal as the file names it."""
            nets = self.elements[inst][1] if inst in self.elements else ()
            return nets[port] if port < len(nets) else None

        def point(i: int, p: int) -> Direction:
            inst = sheet.instances[i]
            x, y, dx, dy = sheet.symbols[inst.symbol].ports[p]
            return inst.x + x, inst.y + y, dx, dy

        for a, b in wires:
            ends = [end(a), end(b)]
            name = written(a[0], ends[0][1]) or written(b[0], ends[1][1]) or f"{a[0]},{a[1]}"
            sheet.nets.append(Net(name, WIRE, ends, points=[point(*ends[0]), point(*ends[1])]))
        declared = set(self.written.ports)
        reach = sheet.unit * MARKER_REACH
        for port, at in externals:
            i, p = end(at)
            x, y, dx, dy = here = point(i, p)
            sheet.nets.append(Net(port, PORT if port in declared else LONE, [(i, p)],
                                  (x + dx * reach, y + dy * reach, dx, dy), [here]))
        for k, net in enumerate(sheet.nets):
            for i, p in net.ends:
                sheet.instances[i].nets[p] = k
        unused = [p for p in dict.fromkeys(self.written.ports) if p not in self.netlist["ports"]]
        if unused:
            # In a column left of the drawing, facing west.
            x0, y0, _, _ = _bbox(sheet)
            for row, port in enumerate(unused):
                marker = (x0 - sheet.unit * 2, y0 + row * sheet.unit * 0.6, -1.0, 0.0)
                sheet.nets.append(Net(port, UNUSED, [], marker))


def _split(instance_port: str) -> tuple[str, str]:
    inst, _, port = instance_port.partition(",")
    return inst, port


def _number(value: Any) -> float | None:
    """A finite float or int as a float (not a bool, not text), else None."""
    if (type(value) is float or type(value) is int) and math.isfinite(value):
        return float(value)
    return None


def _position(placement: Mapping[str, Any] | None) -> _Position | None:
    """x, y (drawing coordinates), rotation, mirror and the port placed, or None when the
    placement is missing or its coordinates are no numbers."""
    if not placement:
        return None
    x, y = _number(placement.get("x")), _number(placement.get("y"))
    if x is None or y is None:
        return None
    rotation = _number(placement.get("rotation")) or 0.0
    port = placement.get("port")
    return x, -y, rotation % 360.0, bool(placement.get("mirror")), port if isinstance(port, str) else ""


def _why_not_placed(placement: Mapping[str, Any] | None) -> str:
    if not placement:
        return ""
    bad = [f"{k}={placement.get(k)!r}" for k in ("x", "y") if _number(placement.get(k)) is None]
    return f"its location is no number ({', '.join(bad)})"


def _height(symbol: Symbol) -> float:
    ys = [y for _, y in symbol.box]
    return max(ys) - min(ys)


def _bbox(sheet: Sheet, instances: list[Instance] | None = None) -> tuple[float, float, float, float]:
    """The extent of `instances` (of the whole sheet, markers included, by default)."""
    extents = [(min(x for x, _ in s.box), min(y for _, y in s.box), max(x for x, _ in s.box),
                max(y for _, y in s.box)) for s in sheet.symbols]
    xs: list[float] = []
    ys: list[float] = []
    for inst in sheet.instances if instances is None else instances:
        x0, y0, x1, y1 = extents[inst.symbol]
        xs += (inst.x + x0, inst.x + x1)
        ys += (inst.y + y0, inst.y + y1)
    if instances is None:
        for net in sheet.nets:
            if net.at is not None:
                xs.append(net.at[0])
                ys.append(net.at[1])
    if not xs:
        return (0.0, 0.0, 0.0, 0.0)
    return (min(xs), min(ys), max(xs), max(ys))

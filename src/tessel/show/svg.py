"""SVG markup of a sheet: the drawing that the SVG files hold and the page shows.

Each instance is one ``<g class='inst'>``, translated to its origin, with its box, its detail
(a ``<use>`` of its symbol, that is its ports, port names and component name, drawn once per
component and rotation in ``<defs>``; and its own name) and a ring on each open port.  Each
net is one element: a ``<path class='net wire'>`` for a connection, a ``<g class='net marker
port|lone|unused'>`` for an external port.  Classes carry what the page and the style sheet
act on: ``auto`` for an instance laid out automatically, ``flag`` for an instance or net that
a finding is about.

An SVG file holds all of them.  The page holds them as markup for its script, which puts in
the drawing those of the instances in view (a browser lays out and paints every element of a
drawing whenever its view changes, which is slow for many thousands); what the page draws
beyond that is the overview: the boxes and straight wires of all instances as a few paths,
one per part of the sheet and kind of box.  Wires lie under the instances, port markers
over them.  Strokes keep their width in pixels at any zoom
(``vector-effect`` in the style sheet).  Attributes are in single quotes, so that the markup
needs no escaping in the page's data.
"""

from __future__ import annotations

import math
from collections.abc import Collection
from html import escape
from importlib.resources import files

from .geometry import Symbol
from .scene import MARKER_REACH, WIRE, Net, Sheet

NS = "http://www.w3.org/2000/svg"
Flagged = tuple[Collection[int], Collection[int]]  # instances and nets that findings are about
# The overview is cut into at most this many parts each way, each a path of its own, so that
# painting a part of the sheet need not walk all of it.
_PARTS = 16


def _f(value: float) -> str:
    # Seven digits: a nanometre on a centimetre; what a drawing needs, and short.
    return f"{value:.7g}"


def _points(points: list[tuple[float, float]]) -> str:
    return "M" + "L".join(f"{_f(x)} {_f(y)}" for x, y in points) + "Z"


def view_box(sheet: Sheet) -> tuple[float, float, float, float]:
    """The sheet's extent with a margin for labels: x, y, width, height."""
    x0, y0, x1, y1 = sheet.bbox
    margin = sheet.unit * 2.5
    return x0 - margin, y0 - margin, x1 - x0 + 2 * margin, y1 - y0 + 2 * margin


def sheet_svg(sheet: Sheet, ident: str, flagged: Flagged = ((), ()), *, standalone: bool) -> str:
    """The sheet as an ``<svg>`` element: whole (`standalone`, for a file of its own) or as the
    page starts it (symbols, overview and the markers of unused ports).  `ident` makes its
    symbol ids unique in a page."""
    x, y, w, h = view_box(sheet)
    size = ""
    if standalone:
        scale = 1200 / max(w, h) if max(w, h) > 0 else 1
        size = f" width='{_f(w * scale)}' height='{_f(h * scale)}'"
    parts = [f"<svg xmlns='{NS}' class='sheet' data-name='{escape(sheet.name)}' "
             f"viewBox='{_f(x)} {_f(y)} {_f(w)} {_f(h)}'{size}>"]
    if standalone:
        css = files(__package__).joinpath("assets", "drawing.css").read_text("utf-8")
        parts.append(f"<style>{css}</style>")
    parts.append("<defs>")
    parts += (_symbol(s, f"{ident}-{k}", sheet.unit) for k, s in enumerate(sheet.symbols))
    parts.append(f"</defs><g font-size='{_f(sheet.unit * 0.2)}'>")
    if standalone:
        insts, nets = _shapes(sheet, ident, flagged)
        wires = [m for m, n in zip(nets, sheet.nets) if n.kind == WIRE]
        markers = [m for m, n in zip(nets, sheet.nets) if n.kind != WIRE]
        parts += ["<g class='wires'>", *wires, "</g><g class='insts'>", *insts,
                  "</g><g class='markers'>", *markers, "</g>"]
        parts.append(_scale_bar(x, y + h, w, sheet.unit))
    else:
        parts.append(_overview(sheet, flagged[0]))
        net_classes = classes(sheet, flagged)[1]
        parts.append("<g class='wires'></g><g class='insts'></g><g class='markers'>")
        parts += (_marker(sheet, k, net_classes[k]) for k, n in enumerate(sheet.nets) if not n.ends)
        parts.append("</g>")
    parts.append("</g></svg>")
    return "".join(parts)


# A wire, with {cls} (the classes after "wire"), {n} (its index) and {d} (its path) to fill in.
WIRE_MARKUP = "<path class='net wire{cls}' data-n='{n}' d='{d}'/>"


def instance_markup(sheet: Sheet, ident: str) -> list[tuple[str, list[str]]]:
    """For each symbol, the markup of its instances and the ring of each of its ports.

    The markup has these to fill in: {cls} (the classes after "inst"), {i} (the instance's
    index), {x} and {y} (its origin), {name} and {rings} (the rings of its open ports).  The
    page's script fills them in the same way, for the instances it draws."""
    ring = _f(sheet.unit * 0.09)
    out = []
    for k, s in enumerate(sheet.symbols):
        lx, ly = s.label
        out.append((f"<g class='inst{{cls}}' data-i='{{i}}' transform='translate({{x}},{{y}})'>"
                    f"<path class='box' d='{_points(s.box)}'/><g class='detail'><use href='#{ident}-{k}'/>"
                    f"<text x='{_f(lx)}' y='{_f(ly)}'>{{name}}</text></g>{{rings}}</g>",
                    [f"<circle class='open' cx='{_f(x)}' cy='{_f(y)}' r='{ring}'/>"
                     for x, y, _, _ in s.ports]))
    return out


def classes(sheet: Sheet, flagged: Flagged) -> tuple[list[str], list[str]]:
    """The classes, after "inst" or "net ...", of each instance and each net."""
    flag_insts, flag_nets = flagged
    insts = [(" auto" if not inst.placed else "") + (" flag" if k in flag_insts else "")
             for k, inst in enumerate(sheet.instances)]
    return insts, [" flag" if k in flag_nets else "" for k in range(len(sheet.nets))]


def net_shape(sheet: Sheet, k: int, cls: str) -> str:
    """A wire's path, or a marker's markup."""
    net = sheet.nets[k]
    return _wire(sheet, net) if net.kind == WIRE else _marker(sheet, k, cls)


def _shapes(sheet: Sheet, ident: str, flagged: Flagged) -> tuple[list[str], list[str]]:
    """The markup of every instance and every net."""
    templates = instance_markup(sheet, ident)
    inst_classes, net_classes = classes(sheet, flagged)
    insts = []
    for k, (inst, cls) in enumerate(zip(sheet.instances, inst_classes)):
        template, rings = templates[inst.symbol]
        insts.append(template.format(cls=cls, i=k, x=_f(inst.x), y=_f(inst.y), name=escape(inst.name),
                                     rings="".join(rings[p] for p, n in enumerate(inst.nets) if n < 0)))
    nets = []
    for k, (net, cls) in enumerate(zip(sheet.nets, net_classes)):
        shape = net_shape(sheet, k, cls)
        nets.append(WIRE_MARKUP.format(cls=cls, n=k, d=shape) if net.kind == WIRE else shape)
    return insts, nets


def _symbol(symbol: Symbol, ident: str, unit: float) -> str:
    """What every instance of `symbol` shows inside and on its box: ports, their names and the
    component's name."""
    out = [f"<g id='{ident}'>"]
    dot, inset, label = _f(unit * 0.045), unit * 0.14, _f(unit * 0.11)
    for name, (x, y, dx, dy) in zip(symbol.names, symbol.ports):
        out.append(f"<circle cx='{_f(x)}' cy='{_f(y)}' r='{dot}' fill='#3b4a6b' stroke='none'/>"
                   f"<text x='{_f(x - dx * inset)}' y='{_f(y - dy * inset)}' font-size='{label}' "
                   f"text-anchor='middle' dominant-baseline='central' fill='#55607a' "
                   f"stroke='none'>{escape(name)}</text>")
    xs = [x for x, _ in symbol.box]
    ys = [y for _, y in symbol.box]
    out.append(f"<text x='{_f((min(xs) + max(xs)) / 2)}' y='{_f((min(ys) + max(ys)) / 2)}' "
               f"font-size='{_f(unit * 0.13)}' text-anchor='middle' dominant-baseline='central' "
               f"fill='#8a93a6' stroke='none'>{escape(symbol.component)}</text></g>")
    return "".join(out)


def _wire(sheet: Sheet, net: Net) -> str:
    """A curve leaving each port the way it faces."""
    (ax, ay, adx, ady), (bx, by, bdx, bdy) = net.points
    reach = min(math.hypot(bx - ax, by - ay) / 2, sheet.unit)
    return (f"M{ax:.7g} {ay:.7g}C{ax + adx * reach:.7g} {ay + ady * reach:.7g} "
            f"{bx + bdx * reach:.7g} {by + bdy * reach:.7g} {bx:.7g} {by:.7g}")


def _marker(sheet: Sheet, k: int, cls: str) -> str:
    net = sheet.nets[k]
    assert net.at is not None
    x, y, dx, dy = net.at
    s = sheet.unit * 0.12
    lead = ""
    if net.ends:
        reach = sheet.unit * MARKER_REACH
        lead = f"<path d='M{_f(x - dx * reach)} {_f(y - dy * reach)}L{_f(x)} {_f(y)}'/>"
    diamond = _points([(x - s, y), (x, y - s), (x + s, y), (x, y + s)])
    anchor = "start" if dx > 0.3 else "end" if dx < -0.3 else "middle"
    tx, ty = x + dx * s * 2, y + dy * s * 2 + (s * 2 if abs(dx) <= 0.3 and dy > 0 else 0)
    return (f"<g class='net marker {net.kind}{cls}' data-n='{k}' font-size='{_f(sheet.unit * 0.15)}'>{lead}"
            f"<path class='pin' d='{diamond}'/><text x='{_f(tx)}' y='{_f(ty)}' "
            f"text-anchor='{anchor}' dominant-baseline='central'>{escape(net.name)}</text></g>")


def _overview(sheet: Sheet, flag_insts: Collection[int]) -> str:
    """All boxes and wires as a few paths: one per part of the sheet and kind of box.  Wires lie under the instances, port markers
over them."""
    x0, y0, x1, y1 = sheet.bbox
    cell = max(x1 - x0, y1 - y0, sheet.unit) / _PARTS
    # Each box as its first corner and the steps to the others, the steps the same for all
    # instances of a symbol.
    tails = []
    for s in sheet.symbols:
        steps = "".join(f"l{_f(b[0] - a[0])} {_f(b[1] - a[1])}" for a, b in zip(s.box, s.box[1:]))
        tails.append((s.box[0], steps + "z"))
    parts: dict[tuple[str, int, int], list[str]] = {}
    for k, inst in enumerate(sheet.instances):
        (bx, by), tail = tails[inst.symbol]
        kind = "box flag" if k in flag_insts else "box" if inst.placed else "box auto"
        key = (kind, int((inst.x - x0) // cell), int((inst.y - y0) // cell))
        parts.setdefault(key, []).append(f"M{inst.x + bx:.7g} {inst.y + by:.7g}{tail}")
    for net in sheet.nets:
        if net.kind == WIRE:
            (ax, ay, _, _), (bx, by, _, _) = net.points
            key = ("wire", int((ax - x0) // cell), int((ay - y0) // cell))
            parts.setdefault(key, []).append(f"M{ax:.7g} {ay:.7g}L{bx:.7g} {by:.7g}")
    paths = [f"<path class='{key[0]}' d='{''.join(d)}'/>" for key, d in sorted(parts.items())]
    return "<g class='overview'>" + "".join(paths) + "</g>"


def nice_length(span: float) -> float:
    """The largest of 1, 2 or 5 times a power of ten that is at most `span`."""
    if span <= 0 or not math.isfinite(span):
        return 1.0
    power = 10 ** math.floor(math.log10(span))
    return max(m * power for m in (1, 2, 5) if m * power <= span)


def _scale_bar(x: float, bottom: float, width: float, unit: float) -> str:
    length = nice_length(width / 4)
    x0, y0 = x + unit, bottom - unit * 0.8
    return (f"<g class='scale' font-size='{_f(unit * 0.25)}'><path d='M{_f(x0)} {_f(y0)}h{_f(length)}'/>"
            f"<text x='{_f(x0 + length / 2)}' y='{_f(y0 - unit * 0.2)}' text-anchor='middle'>"
            f"{_f(length)} µm</text></g>")

"""The outputs of `tessel show`: one self-contained HTML page for all sheets, or one SVG
document per sheet.

The page holds everything it needs (style, script, drawings, data) and loads nothing, so
it works from a file.  Its data, what each instance and net of a drawing is, is a script
value rather than JSON, so that settings such as ``inf`` and ``nan`` stay numbers.
"""

from __future__ import annotations

import json
from html import escape
from collections.abc import Sequence
from importlib.resources import files
from string import Template
from typing import Any

from .. import __version__
from .findings import Target
from .scene import Instance, Sheet
from .svg import WIRE_MARKUP, Flagged, classes, instance_markup, net_shape, sheet_svg, view_box


def _asset(name: str) -> str:
    return files(__package__).joinpath("assets", name).read_text(encoding="utf-8")


def _flagged(targets: Sequence[Target], k: int) -> Flagged:
    mine = [t for t in targets if t.sheet == k]
    return ({t.instance for t in mine if t.instance >= 0}, {n for t in mine for n in t.nets})


def svg_document(sheets: Sequence[Sheet], k: int, targets: Sequence[Target] = ()) -> str:
    """Sheet `k` as an SVG document of its own."""
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            + sheet_svg(sheets[k], "s", _flagged(targets, k), standalone=True) + "\n")


def html_page(title: str, sheets: Sequence[Sheet], findings: Sequence[Any],
              targets: Sequence[Target]) -> str:
    """The page of `sheets` and the `findings` of the file, each with its target."""
    count = sum(len(s.instances) for s in sheets)
    summary = (f"{len(sheets)} subcircuit{'s' if len(sheets) != 1 else ''}, "
               f"{count} instance{'s' if count != 1 else ''}, "
               f"{len(findings)} finding{'s' if len(findings) != 1 else ''}")
    data = {
        "file": title,
        "sheets": [_sheet_data(s, f"s{k}", _flagged(targets, k)) for k, s in enumerate(sheets)],
        "findings": [[getattr(f, "line", 0), f.severity, f.code, f.message, t.sheet, t.instance, t.nets]
                     for f, t in zip(findings, targets)],
    }
    # Python writes NaN and Infinity as script values; "</" would end the script element.
    script_value = json.dumps(data, default=str, ensure_ascii=False, separators=(",", ":"))
    script_value = script_value.replace("</", "<\\/").replace("<!--", "<\\!--")
    drawings = "\n".join(sheet_svg(s, f"s{k}", _flagged(targets, k), standalone=False)
                         for k, s in enumerate(sheets))
    return Template(_asset("page.html")).substitute(
        version=__version__,
        title=escape(title),
        summary=summary,
        css=_asset("drawing.css") + _asset("page.css"),
        drawings=drawings,
        data=script_value,
        script=_asset("page.js"),
    )


def _sheet_data(sheet: Sheet, ident: str, flagged: Flagged) -> dict[str, Any]:
    inst_classes, net_classes = classes(sheet, flagged)
    return {
        "name": sheet.name,
        "line": sheet.line,
        "unit": sheet.unit,
        "view": list(view_box(sheet)),
        # Port names, the box's extent (for telling what is under the pointer) and the markup.
        "symbols": [[list(s.names), [min(x for x, _ in s.box), min(y for _, y in s.box),
                                     max(x for x, _ in s.box), max(y for _, y in s.box)], *markup]
                    for s, markup in zip(sheet.symbols, instance_markup(sheet, ident))],
        # The nets of each instance's ports the page finds from the nets' ends.
        "insts": [[i.name, i.component, i.settings, i.line, i.symbol, _short(i.x), _short(i.y),
                   _placement(i), i.note, cls] for i, cls in zip(sheet.instances, inst_classes)],
        "nets": [[n.name, n.kind, n.ends, cls, net_shape(sheet, k, cls)]
                 for k, (n, cls) in enumerate(zip(sheet.nets, net_classes))],
        "wire": WIRE_MARKUP,
    }


def _short(value: float) -> float:
    return float(f"{value:.7g}")


def _placement(inst: Instance) -> list[Any] | int:
    """The placement as written, for the page to tell: x, y, rotation and the port placed
    by; 0 for an instance laid out automatically."""
    p = inst.placement
    if not inst.placed or p is None:
        return 0
    return [p.get("x"), p.get("y"), p.get("rotation"), p.get("port", "")]

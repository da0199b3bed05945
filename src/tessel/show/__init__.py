"""Drawings of netlists: each subcircuit as a sheet of labelled symbols and the wires
between their ports, as one interactive HTML page or as SVG documents (`tessel show`).

`draw` turns the reader's result, the text it was read from and the findings of
`tessel check` into sheets; `html_page` and `svg_document` write them.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any

from .findings import Target, locate
from .page import html_page, svg_document
from .scene import Sheet, build_sheets

__all__ = ["Sheet", "Target", "draw", "html_page", "svg_document"]


def draw(netlists: Mapping[str, Any], text: str, findings: Sequence[Any] = (), *,
         component_map: Mapping[str, str] | None = None) -> tuple[list[Sheet], list[Target]]:
    """The sheets of `netlists` (what `parse_oc_spice` made of `text`, with the same
    `component_map`) and the target of each finding in them."""
    from tessel.core import spiceread
    from tessel.core._outline import read_outline

    outline = read_outline(text)
    # The reader's own port look-up, whose order is the terminal order.
    ports = spiceread._get_ports  # type: ignore[attr-defined]
    sheets = build_sheets(netlists, outline, ports, component_map)
    return sheets, locate(findings, sheets, outline, component_map)

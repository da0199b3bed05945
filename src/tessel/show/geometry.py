"""Where things go in a drawing: component symbols, the size they are drawn at, and the
automatic layout of instances that have no placement.

Drawing coordinates are micrometres with y pointing down (the screen's way); placements,
written with y up, are turned over on the way in.  A symbol is a box with the component's
ports on its sides, in terminal order counter-clockwise from the bottom left: the first half
on the west side from bottom to top, the rest on the east side from top to bottom (the order
of the generic PDK's cells).  Its origin is the middle of the west side.
"""

from __future__ import annotations

import math
from collections.abc import Iterable, Sequence
from dataclasses import dataclass

import numpy as np

# Symbol width when nothing tells how far apart instances are (one or no placement).
DEFAULT_UNIT = 10.0
# Width of a symbol as a share of the typical distance between placed neighbours.
_UNIT_SHARE = 0.5
# Neighbours looked at, on each side in each sort order, for that distance.
_WINDOW = 8


@dataclass(slots=True)
class Symbol:
    """A component's box and ports at one rotation, relative to the instance's origin."""

    component: str
    names: tuple[str, ...]
    box: list[tuple[float, float]]  # corners, in order
    ports: list[tuple[float, float, float, float]]  # x, y and the unit vector it faces
    label: tuple[float, float]  # the bottom middle of the instance's name, above the box


def make_symbol(component: str, names: Sequence[str], rotation: float, mirror: bool,
                unit: float) -> Symbol:
    pitch = unit / 2
    west = len(names) // 2
    east = len(names) - west
    height = max(1, west, east) * pitch
    local = [(0.0, -height / 2 + pitch * (k + 0.5), 180.0) for k in range(west)]
    local += [(unit, height / 2 - pitch * (k + 0.5), 0.0) for k in range(east)]
    corners = [(0.0, -height / 2), (unit, -height / 2), (unit, height / 2), (0.0, height / 2)]
    place = _placer(rotation, mirror)
    box = [place(x, y) for x, y in corners]
    ports = []
    for x, y, facing in local:
        px, py = place(x, y)
        angle = math.radians((-facing if mirror else facing) + rotation)
        ports.append((px, py, _clean(math.cos(angle)), _clean(-math.sin(angle))))
    top = min(y for _, y in box)
    middle = (min(x for x, _ in box) + max(x for x, _ in box)) / 2
    return Symbol(component, tuple(names), box, ports, (middle, top - unit * 0.08))


def _placer(rotation: float, mirror: bool):  # noqa: ANN202 - a small closure
    angle = math.radians(rotation)
    cos, sin = _clean(math.cos(angle)), _clean(math.sin(angle))

    def place(x: float, y: float) -> tuple[float, float]:
        if mirror:
            y = -y
        # Rotated with y up, then turned over into drawing coordinates.
        return x * cos - y * sin, -(x * sin + y * cos)

    return place


def _clean(value: float) -> float:
    """cos and sin of right angles exactly: 0 rather than 6e-17."""
    return round(value, 12) + 0.0


def unit_for(points: Sequence[tuple[float, float]]) -> float:
    """The symbol width for placed instances at `points`: half the typical distance between
    neighbours, so that neighbouring symbols do not overlap."""
    if len(points) < 2:
        return DEFAULT_UNIT
    gap = _typical_gap(np.asarray(points, dtype=float))
    return gap * _UNIT_SHARE if gap > 0 else DEFAULT_UNIT


def _typical_gap(xy: np.ndarray) -> float:
    """The median distance from a point to its nearest neighbour (coincident points aside).

    The neighbour is sought among the points next to it when sorted by x and by y, which
    finds it for points on rows, columns and grids, in linear time after the sorts."""
    nearest = np.full(len(xy), np.inf)
    for order in (np.lexsort((xy[:, 1], xy[:, 0])), np.lexsort((xy[:, 0], xy[:, 1]))):
        p = xy[order]
        best = np.full(len(p), np.inf)
        for k in range(1, min(_WINDOW, len(p) - 1) + 1):
            d = np.hypot(*(p[k:] - p[:-k]).T)
            d[d == 0] = np.inf
            np.minimum(best[:-k], d, out=best[:-k])
            np.minimum(best[k:], d, out=best[k:])
        np.minimum(nearest[order], best, out=best)
        nearest[order] = best
    finite = nearest[np.isfinite(nearest)]
    return float(np.median(finite)) if len(finite) else 0.0


def layered(nodes: Sequence[int], edges: Iterable[tuple[int, int]]) -> dict[int, tuple[float, float]]:
    """Grid positions (column, row) of `nodes` from the connection graph: breadth-first layers
    from the first node of each connected part, layers as columns left to right, each column
    centred on row 0.

    The layering is networkx's (`bfs_layers`, from which its `bfs_layout` draws); the grid is
    made here, because `bfs_layout` scales its drawing into a unit square and builds it layer
    by layer, which is quadratic in the number of layers (seconds for a chain of 100,000).
    """
    import networkx as nx

    graph = nx.Graph()
    graph.add_nodes_from(nodes)
    graph.add_edges_from(edges)
    order = {node: k for k, node in enumerate(nodes)}
    sources = [min(part, key=order.__getitem__) for part in nx.connected_components(graph)]
    sources.sort(key=order.__getitem__)
    positions: dict[int, tuple[float, float]] = {}
    for column, layer in enumerate(nx.bfs_layers(graph, sources)):
        middle = (len(layer) - 1) / 2
        for row, node in enumerate(layer):
            positions[node] = (float(column), row - middle)
    return positions

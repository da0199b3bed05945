"""The generic PDK: a handful of basic photonic cells with simulation models.

Cells and models share their names and their port names (o1, o2, ...), so a
netlist written with these components can be simulated with the PDK's
`models`.  The models wrap those of `sax`, renaming sax's ports; `sax` is
imported only when a model is first used, because it is slow to import.
"""

from __future__ import annotations

import functools
import inspect
import math
from typing import Any

from morrow import Component, Pdk, cell

__all__ = ["get_generic_pdk"]


# Cells.  Ports are numbered counter-clockwise from the bottom-left, as
# callers expect: west side first, then east side top to bottom.


@cell
def straight(length: float = 10.0, width: float = 0.5) -> Component:
    """A straight waveguide."""
    c = Component()
    c.add_port("o1", center=(0.0, 0.0), orientation=180.0, width=width)
    c.add_port("o2", center=(length, 0.0), orientation=0.0, width=width)
    return c


@cell
def bend_euler(radius: float = 10.0, angle: float = 90.0, width: float = 0.5) -> Component:
    """A bend with an Euler (clothoid) profile, turning left by `angle` degrees."""
    a = math.radians(angle)
    end = (radius * math.sin(a), radius * (1.0 - math.cos(a)))
    c = Component()
    c.add_port("o1", center=(0.0, 0.0), orientation=180.0, width=width)
    c.add_port("o2", center=end, orientation=angle % 360.0, width=width)
    return c


@cell
def mmi1x2(
    width: float = 0.5, length_mmi: float = 5.5, width_mmi: float = 2.5, gap_mmi: float = 0.25
) -> Component:
    """A 1x2 multimode-interference splitter."""
    y = (gap_mmi + width) / 2
    c = Component()
    c.add_port("o1", center=(0.0, 0.0), orientation=180.0, width=width)
    c.add_port("o2", center=(length_mmi, y), orientation=0.0, width=width)
    c.add_port("o3", center=(length_mmi, -y), orientation=0.0, width=width)
    return c


def _four_port(length: float, y: float, width: float) -> Component:
    c = Component()
    c.add_port("o1", center=(0.0, -y), orientation=180.0, width=width)
    c.add_port("o2", center=(0.0, y), orientation=180.0, width=width)
    c.add_port("o3", center=(length, y), orientation=0.0, width=width)
    c.add_port("o4", center=(length, -y), orientation=0.0, width=width)
    return c


@cell
def mmi2x2(
    width: float = 0.5, length_mmi: float = 5.5, width_mmi: float = 2.5, gap_mmi: float = 0.25
) -> Component:
    """A 2x2 multimode-interference coupler."""
    return _four_port(length_mmi, (gap_mmi + width) / 2, width)


@cell
def coupler(gap: float = 0.236, length: float = 20.0, width: float = 0.5) -> Component:
    """A directional coupler: two waveguides running `length` um side by side `gap` um apart."""
    return _four_port(length, (gap + width) / 2, width)


@cell
def grating_coupler(period: float = 0.66, n_periods: int = 30, width: float = 0.5) -> Component:
    """A grating coupler: o1 is the waveguide port, o2 the fibre port above the grating."""
    c = Component()
    c.add_port("o1", center=(0.0, 0.0), orientation=180.0, width=width)
    c.add_port("o2", center=(period * n_periods / 2, 0.0), orientation=90.0, width=10.0)
    return c


# Models.


class _SaxModel:
    """A model of `sax.models` under this PDK's port names.

    Called with the same keyword settings as the sax model; `inspect.signature`
    reports the sax model's parameters, which is how circuit builders find a
    model's settings.
    """

    def __init__(self, name: str, ports: dict[str, str]) -> None:
        self.__name__ = self.__qualname__ = name
        self._ports = ports

    def _model(self) -> Any:
        import sax.models

        return getattr(sax.models, self.__name__)

    @property
    def __signature__(self) -> inspect.Signature:
        return inspect.signature(self._model())

    def __call__(self, **settings: Any) -> dict[tuple[str, str], Any]:
        ports = self._ports
        return {(ports[a], ports[b]): v for (a, b), v in self._model()(**settings).items()}

    def __repr__(self) -> str:
        return f"<model {self.__name__} ports={list(self._ports.values())}>"


_TWO_PORT = {"in0": "o1", "out0": "o2"}
# sax's in0 -> out0 is the through path, which is o1 -> o4 here.
_FOUR_PORT = {"in0": "o1", "in1": "o2", "out1": "o3", "out0": "o4"}


@functools.cache
def get_generic_pdk() -> Pdk:
    """Return the generic PDK (one object per process; call `__wrapped__` for a new one)."""
    cells = {
        "straight": straight,
        "bend_euler": bend_euler,
        "mmi1x2": mmi1x2,
        "mmi2x2": mmi2x2,
        "coupler": coupler,
        "grating_coupler": grating_coupler,
    }
    models = {
        "straight": _SaxModel("straight", _TWO_PORT),
        "bend_euler": _SaxModel("bend", _TWO_PORT),
        "mmi1x2": _SaxModel("mmi1x2", {"in0": "o1", "out0": "o2", "out1": "o3"}),
        "mmi2x2": _SaxModel("mmi2x2", _FOUR_PORT),
        "coupler": _SaxModel("coupler", _FOUR_PORT),
        "grating_coupler": _SaxModel("grating_coupler", _TWO_PORT),
    }
    return Pdk(name="generic", cells=cells, models=models)

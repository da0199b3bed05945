"""Thermal phase shifters.

This file does not import yet (its `thermal` module is not written), which
shows how registration treats a broken file: its cells are still registered,
as factories that raise the import error when called.
"""

from morrow import Component, cell

from .thermal import HEATER_RESISTANCE


@cell
def heater_straight(length: float = 100.0) -> Component:
    """A waveguide with a resistive heater on top."""
    c = Component(settings={"resistance": HEATER_RESISTANCE * length})
    c.add_port("o1", center=(0.0, 0.0), orientation=180.0)
    c.add_port("o2", center=(length, 0.0), orientation=0.0)
    return c

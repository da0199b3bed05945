"""Waveguide sections."""

import morrow as mw


@mw.cell
def straight_wg(length: float = 10.0, width: float = 0.5) -> mw.Component:
    """A straight waveguide of `length` um."""
    c = mw.Component()
    c.add_port("o1", center=(0.0, 0.0), orientation=180.0, width=width)
    c.add_port("o2", center=(length, 0.0), orientation=0.0, width=width)
    return c


@mw.cell()
def taper(length: float = 20.0, width1: float = 0.5, width2: float = 3.0) -> mw.Component:
    """A linear taper from `width1` to `width2` um over `length` um."""
    c = mw.Component()
    c.add_port("o1", center=(0.0, 0.0), orientation=180.0, width=width1)
    c.add_port("o2", center=(length, 0.0), orientation=0.0, width=width2)
    return c

"""Circuits built from the waveguide sections."""

from morrow import Component, cell

from .waveguides import straight_wg


@cell
def mzi(delta_length: float = 10.0, length: float = 40.0) -> Component:
    """A Mach-Zehnder interferometer whose arms differ by `delta_length` um."""
    short_arm = straight_wg(length=length)
    long_arm = straight_wg(length=length + delta_length)
    c = Component(settings={"arms": [short_arm.name, long_arm.name]})
    c.add_port("o1", center=(0.0, 0.0), orientation=180.0)
    c.add_port("o2", center=(long_arm.port("o2").center[0], 0.0), orientation=0.0)
    return c


@cell
def ring_single(radius: float = 10.0, gap: float = 0.2) -> Component:
    """A ring resonator coupled to one bus waveguide."""
    bus = straight_wg(length=2 * radius)
    c = Component(settings={"gap": gap})
    c.add_port("o1", center=bus.port("o1").center, orientation=180.0)
    c.add_port("o2", center=bus.port("o2").center, orientation=0.0)
    return c

"""Simulation models of the chip's own components."""

import cmath
import math

from tessel.core.models import model


@model(name="straight_wg")
def straight_wg_model(
    wl: float = 1.55, length: float = 10.0, neff: float = 2.34, loss_db_cm: float = 2.0
) -> dict[tuple[str, str], complex]:
    """Transmission of a straight waveguide: phase from `neff`, amplitude from the loss."""
    amplitude = 10 ** (-loss_db_cm * length * 1e-4 / 20)
    t = amplitude * cmath.exp(2j * math.pi * neff * length / wl)
    return {("o1", "o2"): t, ("o2", "o1"): t}

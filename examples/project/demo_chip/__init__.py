"""demo_chip: cells and models of a small photonic circuit on the generic PDK."""

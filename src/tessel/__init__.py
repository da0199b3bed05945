"""tessel: a design environment for chip layouts."""

__version__ = "0.1.0"

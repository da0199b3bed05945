"""The rules, one module per kind of problem; importing this package registers them all."""

from . import comments, nets, reading, structure, values  # noqa: F401

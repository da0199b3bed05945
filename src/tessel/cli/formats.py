"""Netlist dictionaries as JSON or YAML text.

Both formats hold the same plain data: tuples become lists and objects of any
other type their text.  JSON has no infinities or not-a-number, so non-finite
numbers are written as the strings "Infinity", "-Infinity" and "NaN" (the
spelling of JavaScript and of Python's own non-standard JSON); YAML writes them
as its own ``.inf``, ``-.inf`` and ``.nan``.
"""

from __future__ import annotations

import json
import math
from typing import Any

FORMATS = ("json", "yaml")

_NON_FINITE = {math.inf: "Infinity", -math.inf: "-Infinity"}


def _plain(value: Any, *, finite_only: bool) -> Any:
    kind = type(value)
    if kind is dict:
        return {k: _plain(v, finite_only=finite_only) for k, v in value.items()}
    if kind is list or kind is tuple:
        return [_plain(v, finite_only=finite_only) for v in value]
    if kind is float:
        if finite_only and not math.isfinite(value):
            return _NON_FINITE.get(value, "NaN")
        return value
    if value is None or kind is str or kind is int or kind is bool:
        return value
    return str(value)


def _yaml_dumper() -> Any:
    import yaml

    # The C emitter, where PyYAML was built with it, is several times faster.
    return getattr(yaml, "CSafeDumper", yaml.SafeDumper)


def format_netlist(netlist: Any, fmt: str) -> str:
    """Return `netlist` (any plain data) as `fmt` text ending in a newline."""
    if fmt == "yaml":
        import yaml

        data = _plain(netlist, finite_only=False)
        return yaml.dump(data, Dumper=_yaml_dumper(), sort_keys=False, allow_unicode=True)
    if fmt == "json":
        data = _plain(netlist, finite_only=True)
        return json.dumps(data, indent=2, allow_nan=False) + "\n"
    raise ValueError(f"unknown format {fmt!r}; expected one of {', '.join(FORMATS)}")

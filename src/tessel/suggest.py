"""Close matches for a name that is probably misspelt, for messages that say "did you mean ...".

Only close matches are offered: a suggestion that is far from what was written sends the
reader looking in the wrong place, which is worse than none.
"""

from __future__ import annotations

import difflib
from collections.abc import Iterable
from typing import Any

__all__ = ["close_matches", "component_names", "did_you_mean"]

# How alike two names must be (difflib's ratio): one letter swapped, dropped or added
# in a name of six or more letters passes, an unrelated name of the same length does not.
_CUTOFF = 0.8


def close_matches(name: str, candidates: Iterable[str], limit: int = 3) -> list[str]:
    """The candidates closest to `name`, best first; `name` itself is never one of them."""
    pool = {c for c in candidates if isinstance(c, str) and c != name}
    return difflib.get_close_matches(name, sorted(pool), n=limit, cutoff=_CUTOFF)


def did_you_mean(name: str, candidates: Iterable[str]) -> str:
    """``"did you mean 'straight'?"`` (or two or three names), or ``""`` without a close match."""
    matches = [repr(m) for m in close_matches(name, candidates)]
    if not matches:
        return ""
    names = matches[0] if len(matches) == 1 else f"{', '.join(matches[:-1])} or {matches[-1]}"
    return f"did you mean {names}?"


def component_names(pdk: Any, subckts: Iterable[str] = ()) -> list[str]:
    """What an element line may name as its component: the PDK's models and cells and the
    netlist's own subcircuits."""
    names = list(subckts)
    for table in ("models", "cells"):
        names += [n for n in getattr(pdk, table, None) or () if isinstance(n, str)]
    return names

"""Safe fixes: applying a finding's text edits to the text they were made for."""

from __future__ import annotations

from collections.abc import Iterable

from .findings import Edit

__all__ = ["FixError", "apply_edits"]


class FixError(ValueError):
    """Edits that cannot all be applied (they overlap, or reach past the text)."""


def _offsets(text: str) -> list[int]:
    """Offset of the start of each raw line, lines ending where `str.splitlines` ends them,
    and one past the last line."""
    starts = [0]
    for line in text.splitlines(keepends=True):
        starts.append(starts[-1] + len(line))
    return starts


def apply_edits(text: str, edits: Iterable[Edit]) -> str:
    """`text` with every edit made, or FixError when they cannot all be made; nothing else
    changes."""
    starts = _offsets(text)

    def offset(line: int, col: int) -> int:
        if line == len(starts) and col == 1:
            return len(text)  # just after the last line
        if not 1 <= line < len(starts):
            raise FixError(f"line {line} is past the end of the text")
        at = starts[line - 1] + col - 1
        if not starts[line - 1] <= at <= starts[line]:
            raise FixError(f"column {col} is past the end of line {line}")
        return at

    ranges = sorted((offset(e.line, e.col), offset(e.end_line, e.end_col), e.text) for e in edits)
    pieces, at = [], 0
    for start, end, new in ranges:
        if start < at or end < start:
            raise FixError("two fixes overlap")
        pieces += [text[at:start], new]
        at = end
    pieces.append(text[at:])
    return "".join(pieces)

"""A buffer's text and the one place where positions change their counting.

The checks count as the reader does: 1-based raw lines (where `str.splitlines` ends them)
and 1-based columns in code points.  The protocol counts 0-based lines that only ``\\n``,
``\\r\\n`` and ``\\r`` end, and characters in the position encoding agreed at
initialisation (UTF-16 code units unless the client offered UTF-8 or UTF-32).  The two
countings differ on texts with other line breaks (form feeds, U+2028, ...) and on lines
with characters beyond ASCII, so every position goes through `Text`: a code-point offset
into the text is the common ground.
"""

from __future__ import annotations

import re
from bisect import bisect_right
from functools import cached_property
from itertools import accumulate

from lsprotocol.types import Position, PositionEncodingKind, Range, TextDocumentContentChangePartial

from tessel.check.findings import Place

__all__ = ["Text"]

UTF8, UTF16, UTF32 = (PositionEncodingKind.Utf8.value, PositionEncodingKind.Utf16.value,
                      PositionEncodingKind.Utf32.value)

_PROTOCOL_BREAK = re.compile(r"\r\n|\r|\n")
# What str.splitlines also takes for a line break, beyond \n and \r.
_OTHER_BREAKS = "\v\f\x1c\x1d\x1e"
_OTHER_BREAKS_WIDE = "\x85\u2028\u2029"


def _raw_starts(source: str) -> list[int]:
    """Where each raw line of `source` begins, and the empty line after a final break."""
    lines = source.splitlines(keepends=True)
    starts = [0, *accumulate(map(len, lines))]
    if lines and len(lines[-1].splitlines()[0]) == len(lines[-1]):
        starts.pop()  # the last line has no break, so no line follows it
    return starts


class Text:
    """An immutable text in an encoding of the protocol."""

    __slots__ = ("__dict__", "encoding", "source")

    def __init__(self, source: str, encoding: str = UTF16) -> None:
        self.source = source
        self.encoding = encoding

    @cached_property
    def _ascii(self) -> bool:
        return self.source.isascii()

    @cached_property
    def _other_breaks(self) -> bool:
        s = self.source
        return (any(c in s for c in _OTHER_BREAKS)
                or not self._ascii and any(c in s for c in _OTHER_BREAKS_WIDE))

    @cached_property
    def lines(self) -> list[int]:
        """Offset of the start of each protocol line."""
        if self._other_breaks:
            return [0, *(m.end() for m in _PROTOCOL_BREAK.finditer(self.source))]
        return self.raw_lines

    @cached_property
    def raw_lines(self) -> list[int]:
        """Offset of the start of each raw line, as the reader counts them."""
        return _raw_starts(self.source)

    def _line_end(self, line: int) -> int:
        """Offset of the end of protocol line `line`, before its break."""
        starts = self.lines
        end = starts[line + 1] if line + 1 < len(starts) else len(self.source)
        s = self.source
        if end > starts[line] and s[end - 1] == "\n":
            end -= 1
        if end > starts[line] and s[end - 1] == "\r":
            end -= 1
        return end

    def _units(self, text: str) -> int:
        if self._ascii or self.encoding == UTF32:
            return len(text)
        if self.encoding == UTF8:
            return len(text.encode("utf-8", "surrogatepass"))
        return len(text.encode("utf-16-le", "surrogatepass")) // 2

    # From the protocol's counting.

    def offset(self, position: Position) -> int:
        """The offset of a protocol position; past the end of its line is the line's end,
        past the last line is the end of the text."""
        if position.line >= len(self.lines):
            return len(self.source)
        start = self.lines[position.line]
        end = self._line_end(position.line)
        if self._ascii or self.encoding == UTF32:
            return min(start + position.character, end)
        units = 0
        for at in range(start, end):
            units += self._units(self.source[at])
            if units > position.character:
                return at
        return end

    def point(self, position: Position) -> tuple[int, int]:
        """The raw line and column (1-based, code points) of a protocol position."""
        offset = self.offset(position)
        line = bisect_right(self.raw_lines, offset)
        return line, offset - self.raw_lines[line - 1] + 1

    # To the protocol's counting.

    def raw_offset(self, line: int, col: int) -> int:
        """The offset of raw line `line`, column `col` (1-based); a line past the last is the
        end of the text."""
        starts = self.raw_lines
        if line < 1:
            return 0
        if line > len(starts):
            return len(self.source)
        end = starts[line] if line < len(starts) else len(self.source)
        return min(starts[line - 1] + max(col, 1) - 1, end)

    def position(self, offset: int) -> Position:
        line = bisect_right(self.lines, offset) - 1
        start = self.lines[line]
        offset = min(offset, self._line_end(line))
        return Position(line=line, character=self._units(self.source[start:offset]))

    def range(self, place: Place) -> Range:
        """The protocol range of `place`.  A place of line 0 (the whole file) is the first
        line; one without a column, its whole lines."""
        if place.line == 0:
            return Range(start=Position(line=0, character=0), end=self.position(self._line_end(0)))
        start = self.raw_offset(place.line, place.col or 1)
        end_line = place.end_line or place.line
        if place.col:
            end = self.raw_offset(end_line, place.end_col or place.col)
        else:
            end = self.raw_offset(end_line + 1, 1)
        return Range(start=self.position(start), end=self.position(max(start, end)))

    def raw_line_text(self, line: int) -> str:
        """Raw line `line` (1-based) without its break."""
        starts = self.raw_lines
        if not 1 <= line <= len(starts):
            return ""
        end = starts[line] if line < len(starts) else len(self.source)
        return self.source[starts[line - 1]:end].splitlines()[0] if end > starts[line - 1] else ""

    def changed(self, changes: list[object]) -> Text:
        """This text with the content changes of a didChange notification made, in order."""
        text = self
        for change in changes:
            if isinstance(change, TextDocumentContentChangePartial):
                start, end = text.offset(change.range.start), text.offset(change.range.end)
                if end < start:
                    start, end = end, start
                source = f"{text.source[:start]}{change.text}{text.source[end:]}"
            else:
                source = change.text  # type: ignore[attr-defined]
            text = Text(source, self.encoding)
        return text

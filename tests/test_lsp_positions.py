"""Positions in a buffer, as the checks count them and as the protocol does: the lines only
\\n, \\r\\n and \\r end, characters in each of the protocol's encodings."""

from __future__ import annotations

import re

import pytest

pytest.importorskip("lsprotocol")

from tessel.lsp.text import Text  # noqa: E402

TEXTS = ["a\nbc", "a\r\nb\rc\r\n", "x\fy\u2028z\x85w\n", "\U0001d707a\n\u00e9\U0001f600b", "", "\n\n", "ab\r"]
UNITS = {"utf-8": lambda s: len(s.encode("utf-8")), "utf-16": lambda s: len(s.encode("utf-16-le")) // 2,
         "utf-32": len}


def protocol_position(source: str, offset: int, encoding: str) -> tuple[int, int]:
    breaks = list(re.finditer(r"\r\n|\r|\n", source[:offset]))
    start = breaks[-1].end() if breaks else 0
    return len(breaks), UNITS[encoding](source[start:offset])


def raw_point(source: str, offset: int) -> tuple[int, int]:
    lines = source[:offset].splitlines(keepends=True)
    if not lines or lines[-1] != lines[-1].splitlines()[0]:  # at the start of a line
        return len(lines) + 1, 1
    return len(lines), len(lines[-1]) + 1


@pytest.mark.parametrize("encoding", sorted(UNITS))
@pytest.mark.parametrize("source", TEXTS)
def test_every_offset_has_the_position_an_editor_shows(source: str, encoding: str):
    text = Text(source, encoding)
    for offset in range(len(source) + 1):
        if source[offset - 1:offset + 1] == "\r\n":
            continue  # inside a line break
        position = text.position(offset)
        assert (position.line, position.character) == protocol_position(source, offset, encoding)
        assert text.offset(position) == offset
        assert text.point(position) == raw_point(source, offset)
        assert text.raw_offset(*raw_point(source, offset)) == offset

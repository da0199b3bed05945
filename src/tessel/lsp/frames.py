"""What the server and its reading processes say to each other, and how: pickled messages,
each after its length (4 bytes, big-endian), over the process's standard input and output.

Both ends are the same tessel, so pickles are safe here; they never come from elsewhere.
"""

from __future__ import annotations

import asyncio
import pickle
import struct
from dataclasses import dataclass, field
from typing import IO, Any

from tessel.check import Finding

__all__ = ["Ready", "Request", "Result", "pack", "read", "read_async"]

_LENGTH = struct.Struct(">I")


@dataclass(frozen=True)
class Ready:
    """The reading process has imported the reader and loaded the project."""

    components: tuple[str, ...]  # the PDK's models and cells
    problem: str | None = None   # why the project or its PDK could not be loaded


@dataclass(frozen=True)
class Request:
    """Read a buffer's text; `outline` holds the findings of the outline phase, made already."""

    text: str
    path: str | None
    outline: list[Finding] = field(default_factory=list)


@dataclass(frozen=True)
class Result:
    """The findings of the reading phase, and the ports of each component of the text (None
    for a component whose ports are unknown)."""

    findings: list[Finding]
    ports: dict[str, tuple[str, ...] | None]
    failure: str | None = None  # a traceback, when the reading itself failed


def pack(message: Any) -> bytes:
    body = pickle.dumps(message, protocol=pickle.HIGHEST_PROTOCOL)
    return _LENGTH.pack(len(body)) + body


def read(stream: IO[bytes]) -> Any | None:
    """The next message, or None at the end of the stream."""
    head = stream.read(_LENGTH.size)
    if len(head) < _LENGTH.size:
        return None
    (size,) = _LENGTH.unpack(head)
    body = stream.read(size)
    return pickle.loads(body) if len(body) == size else None


async def read_async(reader: asyncio.StreamReader) -> Any | None:
    """The next message, or None at the end of the stream."""
    try:
        (size,) = _LENGTH.unpack(await reader.readexactly(_LENGTH.size))
        return pickle.loads(await reader.readexactly(size))
    except asyncio.IncompleteReadError:
        return None

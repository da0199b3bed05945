"""What every ``tessel`` command shares: exit statuses, one-line messages, writing results.

Exit statuses: 0 success; 1 an input problem (a netlist, a project file or its settings
could not be read, or the output could not be written); 2 a usage error; 130 interrupted.

Every problem is one line on stderr, ``tessel: WHERE: MESSAGE``, never a traceback.
"""

from __future__ import annotations

import os
import re
import signal
import sys
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from pathlib import Path
from types import FrameType
from typing import Any

OK = 0
INPUT_PROBLEM = 1
USAGE = 2
INTERRUPTED = 130

STDOUT = "<stdout>"

# A note that a reader attaches to its exceptions and warnings: "path:LINE: statement".
_LOCATION_NOTE = re.compile(r"(?P<path>.+?):(?P<line>\d+): (?P<statement>.*)")


class CommandError(Exception):
    """An input problem to report as one line (exit status 1)."""

    def __init__(self, where: str | None, message: str) -> None:
        super().__init__(message)
        self.where = where
        self.message = message


class UsageError(Exception):
    """The command was given something it cannot work with; reported in the argument parser's
    style, ``tessel COMMAND: error: MESSAGE``, with exit status 2."""


class OutputClosed(Exception):
    """The reader of our standard output went away (a closed pipe)."""


@contextmanager
def on_interrupt(handler: Callable[[int, FrameType | None], Any] | int) -> Iterator[None]:
    """Let `handler` take Ctrl-C (SIGINT) while the block runs."""
    try:
        previous = signal.signal(signal.SIGINT, handler)
    except ValueError:  # not the main thread: signals are its owner's
        yield
        return
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)


def one_line(text: str) -> str:
    return " ".join(text.split())


def say(where: str | None, message: str) -> None:
    """Print ``tessel: WHERE: MESSAGE`` on stderr."""
    prefix = f"tessel: {where}: " if where else "tessel: "
    print(prefix + one_line(message), file=sys.stderr)


def describe(exc: BaseException) -> str:
    """The exception as ``Type: message`` on one line (an OS error by its reason only)."""
    if isinstance(exc, OSError) and exc.strerror:
        message = exc.strerror
    elif isinstance(exc, MemoryError):
        message = "out of memory"
    else:
        message = one_line(str(exc)) or "(no message)"
    return f"{type(exc).__name__}: {message}"


def report(where: str, exc: BaseException, *, hint: str = "") -> None:
    """Report `exc` raised while working on `where`, with `hint` (a sentence) after it.

    A note of the form ``path:LINE: statement`` names the place more exactly: the line
    then reads ``tessel: WHERE:LINE: Type: message [statement]``; other notes follow in
    brackets too.
    """
    say_noted(where, exc, describe(exc) + (f" {hint}" if hint else ""))


def say_noted(where: str, noted: BaseException, text: str) -> None:
    """Say `text` about `where`, placed at the line that a note of `noted` gives."""
    line, notes = _notes(noted)
    if line is not None:
        where = f"{where}:{line}"
    if notes:
        text += " [" + "; ".join(notes) + "]"
    say(where, text)


def noted_line(noted: BaseException) -> int | None:
    """The line that a note ``path:LINE: statement`` of `noted` gives, if any."""
    return _notes(noted)[0]


def _notes(noted: BaseException) -> tuple[int | None, list[str]]:
    """The line the first location note gives, and the notes on one line each (that
    one by its statement alone)."""
    line, texts = None, []
    for note in getattr(noted, "__notes__", ()):
        text = one_line(str(note))
        match = _LOCATION_NOTE.fullmatch(text)
        if match and line is None:
            line, text = int(match["line"]), match["statement"]
        texts.append(text)
    return line, texts


# One write of many megabytes to a pipe whose reader goes away ends early without an
# error; pieces of this size make the next one fail.
_PIECE = 1 << 20


def write_stdout(text: str) -> None:
    """Write `text` to stdout and flush it, so that a failure shows here and not at exit."""
    try:
        for start in range(0, len(text), _PIECE):
            sys.stdout.write(text[start : start + _PIECE])
            sys.stdout.flush()
    except BrokenPipeError:
        _discard_stdout()
        raise OutputClosed from None
    except (OSError, UnicodeError) as e:
        _discard_stdout()
        raise CommandError(STDOUT, describe(e)) from None


def _discard_stdout() -> None:
    # What is left in the buffer is flushed again when Python exits; let it go
    # nowhere, or the exit status becomes 120.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)


def write_file(path: Path, text: str) -> None:
    """Write `text` to `path` whole or not at all (see `output.writing`)."""
    from .output import writing

    with writing(path) as write:
        write(text)

"""What a check reports: `Finding`, with the range it concerns, the names it is about and its
safe fix as text `Edit`s; and the helpers that keep messages short."""

from __future__ import annotations

from collections.abc import Callable, Iterable, Sequence
from dataclasses import dataclass, field
from itertools import islice
from typing import Any, NamedTuple, Protocol

__all__ = ["DOCS_URL", "ERROR", "FILE", "WARNING", "Batch", "Edit", "Finding", "Hit", "Place", "Span",
           "listing", "shorten"]

ERROR, WARNING = "error", "warning"

# Each code's documentation is the anchor of its code, lower case, in docs/checks.md.
DOCS_URL = "https://tessel.dev/docs/checks"

# Longest message shown; lists inside messages are cut sooner (`listing`).
_LONGEST = 400


class Place(Protocol):
    """Anything with a range: an outline Word, a Span, a Finding."""

    @property
    def line(self) -> int: ...
    @property
    def col(self) -> int: ...
    @property
    def end_line(self) -> int: ...
    @property
    def end_col(self) -> int: ...


class Span(NamedTuple):
    """A range of the file: 1-based lines and columns (code points), end exclusive."""

    line: int
    col: int
    end_line: int
    end_col: int


FILE = Span(0, 0, 0, 0)  # a finding of the whole file


@dataclass(frozen=True, slots=True)
class Edit:
    """Replace the text from (line, col) to (end_line, end_col), end exclusive, by `text`.

    Lines and columns are 1-based, columns count code points of the raw line; a range may end
    at column 1 of the line after the last to take the last line break with it."""

    line: int
    col: int
    end_line: int
    end_col: int
    text: str


@dataclass(frozen=True, slots=True)
class Finding:
    """One problem at one place.

    `line`, `col`, `end_line`, `end_col` give the range of the word or statement concerned
    (1-based, code points, end exclusive; all 0 when the finding belongs to the whole file).
    `subckt`, `instance` and `net` name what it is about (None when they do not apply);
    `fix` is its safe fix, if it has one, as edits of the file's text.
    """

    line: int
    code: str
    message: str
    col: int = 0
    end_line: int = 0
    end_col: int = 0
    subckt: str | None = None
    instance: str | None = None
    net: str | None = None
    fix: tuple[Edit, ...] = field(default=())

    @property
    def severity(self) -> str:
        from .registry import RULES

        return RULES[self.code].severity

    @property
    def url(self) -> str:
        return f"{DOCS_URL}#{self.code.lower()}"

    def sort_key(self) -> tuple[int, int, str, str]:
        return (self.line, self.col, self.code, self.message)

    def as_dict(self, path: str) -> dict[str, Any]:
        return {
            "path": path, "line": self.line, "col": self.col, "end_line": self.end_line,
            "end_col": self.end_col, "code": self.code, "severity": self.severity,
            "message": self.message, "subckt": self.subckt, "instance": self.instance,
            "net": self.net, "url": self.url,
            "fix": [{"line": e.line, "col": e.col, "end_line": e.end_line, "end_col": e.end_col,
                     "text": e.text} for e in self.fix],
        }


class Hit(NamedTuple):
    """What a rule finds: where, what it says, and what it is about; the rule's code is added
    when it becomes a `Finding`.  A message that is costly to make may be given as a function
    that makes it, called only when the finding is shown."""

    where: Place
    message: str | Callable[[], str]
    subckt: str | None = None
    instance: str | None = None
    net: str | None = None
    fix: tuple[Edit, ...] = ()


class Batch(NamedTuple):
    """Hits that a rule may find by the thousand (in a deck for another simulator), yielded
    together: `hit(item)` is the Hit of each of `items`, made only when it is shown; past a
    code's limit the others are only counted."""

    items: Sequence[Any]
    hit: Callable[[Any], Hit]


def listing(items: Iterable[Any], limit: int = 5, *, count: int | None = None) -> str:
    """``'a', 'b' and 'c'``, or the first `limit` and ``... and N more``.  With `count` (how
    many items there are), only the first `limit` items are taken from `items`."""
    shown: list[str] = []
    more = 0
    for item in items if count is None else islice(items, limit):
        if len(shown) < limit:
            shown.append(item if isinstance(item, str) else repr(item))
        else:
            more += 1
    if count is not None:
        more = count - len(shown)
    if more:
        return f"{', '.join(shown)} ... and {more} more"
    if len(shown) <= 1:
        return "".join(shown)
    return f"{', '.join(shown[:-1])} and {shown[-1]}"


def shorten(message: str, limit: int = _LONGEST) -> str:
    """`message` cut to about `limit` characters."""
    if len(message) <= limit:
        return message
    return f"{message[: limit - 30].rstrip()} ... and {len(message) - limit + 30} more characters"

"""The rule registry: one function per rule, each with its code, severity, phase and doc.

A rule is registered with `rule`; its docstring is its documentation (a first line saying
what it finds, then "Why:", "Example:" and "Fix:" paragraphs), from which docs/checks.md is
made.  A rule yields a `Hit` for each problem, or a `Batch` of hits made only when shown.
Rules of the "outline" phase look only at the netlist's outline (no reading, no PDK);
rules of the "reading" phase need the reader and the PDK.  A "fatal" rule finds what makes
the reader refuse the netlist: when one of them explains a refusal, TS100 is not reported.
"""

from __future__ import annotations

import inspect
from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass

from .findings import DOCS_URL, ERROR, WARNING, Batch, Hit

__all__ = ["ERROR", "FILE_PHASE", "OUTLINE", "READING", "RULES", "WARNING", "Rule", "expand", "rule"]

OUTLINE, READING, FILE_PHASE = "outline", "reading", "file"


@dataclass(frozen=True)
class Rule:
    code: str
    severity: str
    phase: str
    fatal: bool
    summary: str  # the doc's first line
    doc: str      # the rest: why, example, fix
    check: Callable[..., Iterable[Hit | Batch]] | None

    @property
    def url(self) -> str:
        return f"{DOCS_URL}#{self.code.lower()}"

    def section(self, name: str) -> str:
        """The doc's paragraph that begins with `name` (``"Why"``, ``"Example"``, ``"Fix"``)."""
        for paragraph in self.doc.split("\n\n"):
            if paragraph.startswith(f"{name}:"):
                return paragraph[len(name) + 1 :].strip()
        return ""


RULES: dict[str, Rule] = {}


def rule(code: str, severity: str, *, phase: str = OUTLINE, fatal: bool = False
         ) -> Callable[[Callable[..., Iterable[Hit | Batch]]], Callable[..., Iterable[Hit | Batch]]]:
    """Registers the decorated function as the rule `code`."""

    def register(check: Callable[..., Iterable[Hit | Batch]]) -> Callable[..., Iterable[Hit | Batch]]:
        if code in RULES:
            raise ValueError(f"two rules of code {code}")
        summary, _, doc = inspect.cleandoc(check.__doc__ or "").partition("\n\n")
        RULES[code] = Rule(code, severity, phase, fatal, " ".join(summary.split()), doc,
                           None if phase == FILE_PHASE else check)
        return check

    return register


def expand(selectors: Iterable[str], where: str) -> set[str]:
    """The codes that `selectors` name: codes, code prefixes (``TS1``) or ``ALL``.

    A selector that names no code is a ValueError saying so, with `where` it was given.
    """
    codes: set[str] = set()
    for selector in selectors:
        name = selector.strip().upper()
        found = set(RULES) if name == "ALL" else {c for c in RULES if c.startswith(name)} if name else set()
        if not found:
            raise ValueError(f"{where}: {selector!r} is no check code (they are {min(RULES)} to {max(RULES)})")
        codes |= found
    return codes


def rules_of(phase: str) -> Iterator[Rule]:
    return (r for r in RULES.values() if r.phase == phase)

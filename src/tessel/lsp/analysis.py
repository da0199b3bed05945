"""What is known of one version of a buffer: its `Document`, the findings of both phases,
the reading's ports and the index that navigation looks things up in."""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path

from lsprotocol.types import Diagnostic

from tessel import settings
from tessel.check import CheckConfig, Document, Finding, check_outline

from .diagnostics import diagnostic
from .frames import Result
from .index import Index
from .text import Text

__all__ = ["Analysis", "analyse", "document"]


def document(text: str, path: str | Path | None) -> tuple[Document, str | None]:
    """The `Document` of a buffer, and why the project's configuration is not used, if it is
    not (a pyproject.toml that cannot be read: the default selection applies)."""
    try:
        return Document(text, path), None
    except settings.ProjectConfigError as e:
        return Document(text, path, config=CheckConfig()), str(e)


@dataclass(eq=False)
class Analysis:
    version: int
    text: Text
    doc: Document
    outline: list[Finding]  # the findings of the outline phase
    problem: str | None      # why the project's configuration is not used
    shown: list[tuple[tuple[int, int, str, str], Diagnostic]]  # the outline's, in line order
    reading: Result | None = None
    index: Index | None = None

    @property
    def findings(self) -> list[Finding]:
        return self.outline + (self.reading.findings if self.reading is not None else [])

    def diagnostics(self) -> list[Diagnostic]:
        """The findings of both phases (of the outline's alone before the reading), in line
        order."""
        shown = self.shown
        if self.reading is not None and self.reading.findings:
            read = [(f.sort_key(), diagnostic(self.text, f)) for f in self.reading.findings]
            shown = sorted(shown + read, key=lambda pair: pair[0])
        return [d for _, d in shown]

    def indexed(self) -> Index:
        """The index, made on first use (on the background thread: see `Buffers.current`)."""
        if self.index is None:
            self.index = Index(self.doc)
        return self.index


def analyse(text: Text, path: Path | None, version: int) -> Analysis:
    """The outline phase of `text`, as of `version`, its findings made diagnostics."""
    doc, problem = document(text.source, path)
    findings = check_outline(doc)
    shown = [(f.sort_key(), diagnostic(text, f)) for f in findings]
    return Analysis(version, text, doc, findings, problem, shown)

"""Findings of `tessel check` as the protocol's diagnostics."""

from __future__ import annotations

from lsprotocol.types import CodeDescription, Diagnostic, DiagnosticSeverity

from tessel.check import ERROR, Finding

from .text import Text

__all__ = ["SOURCE", "diagnostic"]

SOURCE = "tessel check"


def diagnostic(text: Text, f: Finding) -> Diagnostic:
    return Diagnostic(
        range=text.range(f),
        message=f.message,
        severity=DiagnosticSeverity.Error if f.severity == ERROR else DiagnosticSeverity.Warning,
        code=f.code,
        code_description=CodeDescription(href=f.url),
        source=SOURCE,
    )


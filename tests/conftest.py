"""Shared test helpers."""

from __future__ import annotations

import subprocess
import sys
import textwrap

import pytest


def run_python(code: str, **kwargs) -> subprocess.CompletedProcess:
    """Run `code` in a fresh interpreter of the running Python; raise when it fails."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True, text=True, check=True, **kwargs,
    )


@pytest.fixture
def isolated_imports(monkeypatch):
    """Forget the modules and import roots that a test adds."""
    monkeypatch.setattr(sys, "path", list(sys.path))
    before = set(sys.modules)
    yield
    for name in set(sys.modules) - before:
        del sys.modules[name]

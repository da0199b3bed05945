"""Shared test helpers."""

from __future__ import annotations

import subprocess
import sys
import textwrap


def run_python(code: str, **kwargs) -> subprocess.CompletedProcess:
    """Run `code` in a fresh interpreter of the running Python; raise when it fails."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True, text=True, check=True, **kwargs,
    )

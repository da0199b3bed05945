"""Shared test helpers."""

from __future__ import annotations

import os
import shutil
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


def as_a_user(command: list[str]) -> list[str]:
    """`command`, run so that file permissions bind it as they bind a user: root loses the
    powers that override them (read-only folders and files are then read-only for it too)."""
    if os.geteuid() != 0:
        return command
    setpriv = shutil.which("setpriv")
    if setpriv is None:
        pytest.skip("running as root, and without setpriv to give up its file powers")
    return [setpriv, "--bounding-set=-dac_override,-dac_read_search", "--", *command]


# Ways a factory database is found damaged: its bytes, or what another program made.
DAMAGES = ["random bytes", "truncated", "corrupted page", "another program's", "other columns"]


def damage_database(path, kind: str) -> bytes:
    """Damage the database file at `path` (a few pages of records) as `kind` says; return its bytes."""
    import random
    import sqlite3
    from contextlib import closing

    noise = random.Random(kind).randbytes
    good = path.read_bytes()
    if kind in ("another program's", "other columns"):
        path.unlink()
        with closing(sqlite3.connect(path)) as conn:
            conn.execute("CREATE TABLE notes (x)" if kind == "another program's" else
                         "CREATE TABLE factories (a, b)")
            conn.commit()
    else:
        assert len(good) > 3 * 4096, "too small a database to damage a page of"
        damaged = {"random bytes": noise(len(good)), "truncated": good[: len(good) // 2],
                   # The table's root page.
                   "corrupted page": good[:4096] + noise(4096) + good[8192:]}[kind]
        path.write_bytes(damaged)
    return path.read_bytes()

"""Which files `tessel check DIR` reads: the netlists below a folder."""

from __future__ import annotations

import os
import shutil
import subprocess
from collections.abc import Callable, Iterator
from pathlib import Path

__all__ = ["SUFFIXES", "netlists_below"]

# File name suffixes of netlists, compared in lower case.
SUFFIXES = (".sp", ".spi", ".spice", ".cir", ".ckt", ".net")


def _git_ignored(folder: Path, paths: list[Path]) -> set[Path]:
    """Those of `paths` that git ignores, when `folder` is in a git work tree."""
    git = shutil.which("git")
    if git is None or not paths:
        return set()
    try:
        done = subprocess.run([git, "-C", str(folder), "check-ignore", "--stdin", "-z"],
                              input="\0".join(map(str, paths)) + "\0", capture_output=True,
                              text=True, timeout=60, check=False)
    except (OSError, subprocess.SubprocessError):
        return set()
    return {Path(p) for p in done.stdout.split("\0") if p}


def netlists_below(folder: Path, excluded: Callable[[Path], bool] = lambda p: False) -> Iterator[Path]:
    """The netlist files below `folder`, in name order, skipping hidden files and folders,
    those `excluded` names, and those git ignores."""
    found: list[Path] = []
    folders: list[Path] = []
    for root, dirs, files in os.walk(folder):
        here = Path(root)
        dirs[:] = sorted(d for d in dirs if not d.startswith(".") and not excluded(here / d))
        folders += [here / d for d in dirs]
        found += [here / f for f in sorted(files)
                  if not f.startswith(".") and f.lower().endswith(SUFFIXES) and not excluded(here / f)]
    ignored = _git_ignored(folder, found + folders)
    for path in found:
        if path not in ignored and not any(parent in ignored for parent in path.parents):
            yield path

"""Which codes are reported for which file: ``[tool.tessel.check]`` of the project, the command
line's ``--select``/``--ignore``/``--extend-select``, and ``noqa`` comments in the netlist.

Selection works as in other linters: `select` (all codes by default) replaces the default,
`extend-select` adds to it, `ignore` takes codes out, and `per-file-ignores` takes codes out
for the files that match a pattern (relative to the project folder, ``*`` and ``**`` as in
globs; a pattern without ``/`` matches the file name).  Codes may be given as prefixes.
"""

from __future__ import annotations

import re
from collections.abc import Iterable, Mapping
from dataclasses import dataclass, replace
from fnmatch import fnmatch
from functools import lru_cache
from pathlib import Path, PurePosixPath
from typing import Any

from .. import settings
from .registry import RULES, expand

__all__ = ["CheckConfig", "load_config", "noqa_lines"]

# `$ noqa` or `* noqa: TS106, TS107` anywhere in a comment.
_NOQA = re.compile(r"\bnoqa\b(?::\s*(?P<codes>[A-Za-z]+\d*(?:[\s,]+[A-Za-z]+\d*)*))?", re.IGNORECASE)


@dataclass(frozen=True)
class CheckConfig:
    """What to report; `root` is the folder that per-file patterns are relative to."""

    select: frozenset[str] | None = None
    extend_select: frozenset[str] = frozenset()
    ignore: frozenset[str] = frozenset()
    per_file_ignores: tuple[tuple[str, frozenset[str]], ...] = ()
    exclude: tuple[str, ...] = ()
    root: Path | None = None

    def with_options(self, *, select: Iterable[str] | None = None, extend_select: Iterable[str] = (),
                     ignore: Iterable[str] = ()) -> CheckConfig:
        """This configuration with the command line's codes over it (`select` replaces)."""
        return replace(
            self,
            select=frozenset(expand(select, "--select")) if select is not None else self.select,
            extend_select=self.extend_select | expand(extend_select, "--extend-select"),
            ignore=self.ignore | expand(ignore, "--ignore"),
        )

    def codes_for(self, path: Path | None) -> frozenset[str]:
        """The codes reported for the file `path` (None: a text of no file)."""
        codes = set(RULES if self.select is None else self.select) | self.extend_select
        codes -= self.ignore
        if path is not None and self.per_file_ignores:
            name = self._relative(path)
            for pattern, ignored in self.per_file_ignores:
                if _matches(name, pattern):
                    codes -= ignored
        return frozenset(codes)

    def excludes(self, path: Path) -> bool:
        """Whether `tessel check DIR` skips `path`."""
        name = self._relative(path)
        return any(_matches(name, pattern) for pattern in self.exclude)

    def _relative(self, path: Path) -> str:
        full = path.resolve()
        if self.root is not None and full.is_relative_to(self.root):
            return full.relative_to(self.root).as_posix()
        return full.as_posix()


def _matches(name: str, pattern: str) -> bool:
    pattern = pattern.strip("/")
    if "/" not in pattern:
        return any(fnmatch(part, pattern) for part in PurePosixPath(name).parts)
    return fnmatch(name, pattern) or fnmatch(name, pattern + "/*") or PurePosixPath(name).match(pattern)


def _codes(path: Path | None, key: str, value: Any) -> frozenset[str]:
    where = f"{path}: [tool.tessel.check] {key}"
    if not isinstance(value, list) or not all(isinstance(v, str) for v in value):
        raise settings.ProjectConfigError(f"{where} must be a list of codes")
    try:
        return frozenset(expand(value, where))
    except ValueError as e:
        raise settings.ProjectConfigError(str(e)) from None


def _from_table(path: Path | None, table: Mapping[str, Any]) -> CheckConfig:
    per_file = table.get("per-file-ignores", {})
    if not isinstance(per_file, dict):
        raise settings.ProjectConfigError(f"{path}: [tool.tessel.check] per-file-ignores must be a table")
    exclude = table.get("exclude", [])
    if not isinstance(exclude, list) or not all(isinstance(v, str) for v in exclude):
        raise settings.ProjectConfigError(f"{path}: [tool.tessel.check] exclude must be a list of paths")
    return CheckConfig(
        select=_codes(path, "select", table["select"]) if "select" in table else None,
        extend_select=_codes(path, "extend-select", table.get("extend-select", [])),
        ignore=_codes(path, "ignore", table.get("ignore", [])),
        per_file_ignores=tuple((pattern, _codes(path, f"per-file-ignores {pattern!r}", codes))
                               for pattern, codes in per_file.items()),
        exclude=tuple(exclude),
        root=path.parent if path is not None else None,
    )


@lru_cache(maxsize=64)
def _load(pyproject: Path, stamp: int) -> CheckConfig:
    table_path, table = settings.get_check_settings(pyproject.parent)
    return _from_table(table_path, table)


def load_config(path: Path | str | None = None) -> CheckConfig:
    """The configuration that applies to the netlist `path` (or to the current folder): the
    ``[tool.tessel.check]`` table of the nearest pyproject.toml.

    Raises `tessel.settings.ProjectConfigError` for a key or value it does not know.
    """
    start = Path(path).resolve() if path is not None else None
    pyproject = settings.get_pyproject_path(start)
    if pyproject is None:
        return CheckConfig()
    try:
        stamp = pyproject.stat().st_mtime_ns
    except OSError:
        stamp = 0
    return _load(pyproject, stamp)


def noqa_lines(comments: Iterable[Any]) -> dict[int, frozenset[str] | None]:
    """Raw line -> the codes its ``noqa`` comment suppresses (None: all), from the outline's
    comments: a comment covers every raw line of its statement."""
    lines: dict[int, frozenset[str] | None] = {}
    for comment in comments:
        match = _NOQA.search(comment.word.text)
        if not match:
            continue
        codes = None
        if match["codes"]:
            codes = frozenset(c.upper() for c in re.split(r"[\s,]+", match["codes"]) if c)
        for line in range(comment.line, comment.end_line + 1):
            old = lines.get(line, frozenset())
            lines[line] = None if codes is None or old is None else old | codes
    return lines

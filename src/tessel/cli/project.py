"""The project a command works on: choosing it, checking its settings, registering its cells.

The factory database is an aid to registration, not a condition of it: `register` can
leave it unwritten (`persist=False`) or, when it cannot be used, go on without it.
"""

from __future__ import annotations

import argparse
import logging
import os
import sys
from collections.abc import Iterator, Sequence
from contextlib import AbstractContextManager, contextmanager, nullcontext
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

from .. import settings
from ..core import database
from ..core.lazy import lazy_import
from ..logger import get_logger
from ..models import ERROR
from .console import CommandError, UsageError, describe, one_line

# Loading the PDK module loads the layout library: only when it is needed.
ts_pdk = lazy_import("tessel.core.pdk")


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--project",
        metavar="DIR",
        type=Path,
        help="the project folder (default: the folder of the nearest pyproject.toml, "
        f"or ${settings.PROJECT_DIR_ENV})",
    )
    parser.add_argument(
        "--pdk",
        metavar="NAME",
        help="import name of the PDK package, over the project's setting "
        f"(or ${settings.PDK_ENV}); 'generic' is the layout library's generic PDK",
    )


@contextmanager
def selected(args: argparse.Namespace) -> Iterator[None]:
    """Work on the project and PDK that `--project` and `--pdk` name, while the command runs."""
    chosen: dict[str, str] = {}
    if args.project is not None:
        folder = args.project.expanduser().resolve()
        if not (folder / "pyproject.toml").is_file():
            reason = "holds no pyproject.toml" if folder.is_dir() else "no such folder"
            raise UsageError(f"--project {args.project}: {reason}")
        chosen[settings.PROJECT_DIR_ENV] = str(folder)
    if args.pdk:
        chosen[settings.PDK_ENV] = args.pdk
    saved = {name: os.environ.get(name) for name in chosen}
    os.environ.update(chosen)
    try:
        yield
    finally:
        for name, value in saved.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value


def check_settings() -> Path | None:
    """Read the project's settings once, so that a broken pyproject.toml is reported as such.

    Returns the project's pyproject.toml, or None without a project.
    """
    try:
        settings.get_project_name()
        settings.get_pdk_name()
        settings.is_a_pdk()
        settings.has_tool_settings()
    except settings.ProjectConfigError as e:
        raise CommandError("project settings", one_line(str(e))) from None
    return settings.get_pyproject_path()


def load_pdk() -> Any:
    """Import and activate the PDK, reporting a failure as the PDK's."""
    try:
        return ts_pdk.get_pdk()
    except Exception as e:  # noqa: BLE001 - whatever the PDK package raises
        raise CommandError(f"PDK {settings.get_pdk_name()!r}", describe(e)) from None


@contextmanager
def without_bytecode() -> Iterator[None]:
    """Import without touching compiled files (``__pycache__``) in the project's folders:
    none is written, and none is removed (a reloaded file's stale one would be)."""
    saved = sys.dont_write_bytecode, sys.pycache_prefix
    # Compiled files are looked for below a file, where there can be none.
    sys.dont_write_bytecode, sys.pycache_prefix = True, os.path.join(os.devnull, "tessel")
    try:
        yield
    finally:
        sys.dont_write_bytecode, sys.pycache_prefix = saved


def relative(path: Path) -> str:
    """`path` relative to the project folder when inside it, else as it is."""
    project = settings.get_project_dir()
    return str(path.relative_to(project)) if path.is_relative_to(project) else str(path)


@dataclass
class Registration:
    added: list[str]
    updated: list[str]
    removed: list[str]
    # Project-relative file -> why its cells could not be registered.
    failures: dict[str, list[str]] = field(default_factory=dict)
    # What registration logged as warnings, other than the failures.
    warnings: list[str] = field(default_factory=list)
    # Why the factory database could not be used, when registration went on without it.
    database_problem: database.UnusableDatabase | None = None


def register(
    paths: Sequence[Path] = (),
    *,
    reload: bool = True,
    verbose: bool = False,
    persist: bool = True,
    database_optional: bool = False,
) -> Registration:
    """Register the project's cells (of `paths` only, when given) into the PDK and the database.

    With `persist` false the database is read but nothing is written: no file or folder is
    made or changed.  A database that cannot be used is a `CommandError` saying why (and,
    for a damaged file, how to mend it), or, with `database_optional`, no reason to stop:
    the cells are then registered against an empty database in memory and
    `database_problem` says what was wrong.
    """
    store: AbstractContextManager[None] = nullcontext() if persist else database.detached()
    try:
        with store:
            return _register(paths, reload=reload, verbose=verbose)
    except database.UnusableDatabase as e:
        if not database_optional:
            raise CommandError(str(e.path), e.reason + mend(e)) from None
        problem = e
    # A write may fail halfway through, after the PDK has taken some cells: all again.
    with database.detached(from_file=False):
        result = _register(paths, reload=reload, verbose=verbose)
    result.database_problem = problem
    return result


def mend(problem: database.UnusableDatabase) -> str:
    """How to get a usable database again, to follow the reason ("" when the reason says it)."""
    return "; 'tessel register --rebuild' moves it aside and makes a new one" if problem.damaged else ""


def _register(paths: Sequence[Path], *, reload: bool, verbose: bool) -> Registration:
    before = set(database.get_all_factories())
    try:
        with _logged(verbose=verbose) as logged:
            added, removed = ts_pdk.register_cells(paths=paths, reload=reload)
    except database.UnusableDatabase:
        raise
    except Exception as e:  # noqa: BLE001 - one line for the user, not a traceback
        raise CommandError(f"project {settings.get_project_dir()}", describe(e)) from None
    result = Registration(
        added=[n for n in added if n not in before],
        updated=[n for n in added if n in before],
        removed=list(removed),
    )
    wanted = set(paths)
    for record in database.get_all_factories().values():
        source = record.absolute_source()
        if record.status == ERROR and (not wanted or source in wanted):
            reasons = result.failures.setdefault(relative(source), [])
            reason = record.message or "its cells could not be registered"
            if reason not in reasons:
                reasons.append(reason)
    # Failures are logged by file name alone; they are reported by path instead.
    known = {
        text
        for file, reasons in result.failures.items()
        for reason in reasons
        for text in (reason, f"{Path(file).name}: {reason}")
    }
    result.warnings = [text for text in logged if text not in known]
    return result


@contextmanager
def _logged(*, verbose: bool) -> Iterator[list[str]]:
    """Collect the package logger's warnings; with `verbose`, show its information at once."""
    logger = get_logger()
    warnings: list[str] = []

    class Collect(logging.Handler):
        def emit(self, record: logging.LogRecord) -> None:
            warnings.append(record.getMessage())

    collect = Collect(logging.WARNING)
    handlers: list[logging.Handler] = [collect]
    if verbose:
        show = logging.StreamHandler(sys.stderr)
        show.setFormatter(logging.Formatter("tessel: %(message)s"))
        show.addFilter(lambda record: record.levelno < logging.WARNING)
        show.setLevel(logging.INFO)
        handlers.append(show)
    level = logger.level
    if verbose:
        logger.setLevel(logging.INFO)
    for handler in handlers:
        logger.addHandler(handler)
    try:
        yield warnings
    finally:
        for handler in handlers:
            logger.removeHandler(handler)
        logger.setLevel(level)

"""``tessel register [PATH ...]``: register the project's cells into the PDK and the database."""

from __future__ import annotations

import argparse
import logging
import sys
from collections.abc import Iterator, Sequence
from contextlib import contextmanager
from pathlib import Path

from .. import settings
from ..core import callgraph, database
from ..core.lazy import lazy_import
from ..logger import get_logger

# Loading the PDK module loads the layout library: only when registering.
ts_pdk = lazy_import("tessel.core.pdk")

PROG = "tessel register"


class UsageError(Exception):
    """The command was given something it cannot register."""


def add_parser(subparsers: argparse._SubParsersAction) -> None:
    parser = subparsers.add_parser(
        "register",
        help="register the project's cells",
        description="Register the cell factories of the current project (the folder of the "
        "nearest pyproject.toml, or $TESSEL_PROJECT_DIR) into its PDK and its factory "
        "database, and print the factories added, updated and removed.",
    )
    parser.add_argument(
        "paths",
        nargs="*",
        metavar="PATH",
        help="Python files or folders of the project to register (default: the whole project)",
    )
    parser.add_argument(
        "--no-reload",
        dest="reload",
        action="store_false",
        help="keep files that are already imported as they are, and do not re-register models",
    )
    parser.add_argument(
        "-v", "--verbose", action="store_true", help="also log what registration finds"
    )
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    try:
        with _logging(verbose=args.verbose):
            return _register(args.paths, reload=args.reload)
    except UsageError as e:
        print(f"{PROG}: error: {e}", file=sys.stderr)
        return 2
    except Exception as e:  # noqa: BLE001 - one line for the user, not a traceback
        print(f"{PROG}: error: {type(e).__name__}: {e}", file=sys.stderr)
        return 1


def _register(given: Sequence[str], *, reload: bool) -> int:
    if settings.get_pyproject_path() is None:
        raise UsageError(
            f"no project: no pyproject.toml in {Path.cwd()} or its parents "
            f"(or set {settings.PROJECT_DIR_ENV})"
        )
    project = settings.get_project_dir()
    paths = _expand(given, project)
    before = set(database.get_all_factories())
    added, removed = ts_pdk.register_cells(paths=paths, reload=reload)
    new = [n for n in added if n not in before]
    updated = [n for n in added if n in before]
    # Files that failed to import were logged as warnings while registering.
    print(f"project {settings.get_project_name()} (PDK {settings.get_pdk_name()})")
    for label, names in (("added", new), ("updated", updated), ("removed", removed)):
        print(f"{label} ({len(names)}): {', '.join(names) or '-'}")
    return 0


def _expand(given: Sequence[str], project: Path) -> list[Path]:
    """Resolve the PATH arguments into the project's Python files they name."""
    files: dict[Path, None] = {}
    for arg in given:
        path = Path(arg).resolve()
        if not path.exists():
            raise UsageError(f"{arg}: no such file or folder")
        if not path.is_relative_to(project):
            raise UsageError(f"{arg}: not inside the project folder {project}")
        if path.is_dir():
            found = [p.resolve() for p in callgraph.iter_python_files(path)]
            if not found:
                # Passing nothing on would register the whole project instead.
                raise UsageError(f"{arg}: holds no Python files")
            files.update(dict.fromkeys(found))
        else:
            files[path] = None
    return list(files)


@contextmanager
def _logging(*, verbose: bool) -> Iterator[None]:
    logger = get_logger()
    handler = logging.StreamHandler(sys.stderr)
    handler.setFormatter(logging.Formatter(f"{PROG}: %(message)s"))
    handler.setLevel(logging.INFO if verbose else logging.WARNING)
    level = logger.level
    if verbose:
        logger.setLevel(logging.INFO)
    logger.addHandler(handler)
    try:
        yield
    finally:
        logger.removeHandler(handler)
        logger.setLevel(level)

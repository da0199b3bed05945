"""``tessel register [PATH ...]``: register the project's cells into the PDK and the database.

Prints the project, then one line per category (added, updated, removed, failed) with its
count and names, shortened to one line (``-v`` lists every name on a line of its own).
Each file whose cells could not be registered is reported on stderr by its path in the
project, and makes the exit status 1.  A factory database that cannot be used stops the
command with one line saying why; ``--rebuild`` moves the file aside and starts a new one.
"""

from __future__ import annotations

import argparse
import shutil
from collections.abc import Sequence
from pathlib import Path

from .. import settings
from ..core import callgraph, database
from . import project
from .console import INPUT_PROBLEM, OK, CommandError, UsageError, say


def add_parser(subparsers: argparse._SubParsersAction, common: argparse.ArgumentParser) -> None:
    parser = subparsers.add_parser(
        "register",
        parents=[common],
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
        "--rebuild",
        action="store_true",
        help="move the factory database aside (it is kept, renamed) and make a new one",
    )
    project.add_arguments(parser)
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    with project.selected(args):
        if project.check_settings() is None:
            raise UsageError(
                f"no project: no pyproject.toml in {Path.cwd()} or its parents "
                f"(or set {settings.PROJECT_DIR_ENV})"
            )
        paths = _expand(args.paths, settings.get_project_dir())
        aside = _move_database_aside() if args.rebuild else None
        done = project.register(paths, reload=args.reload, verbose=args.verbose)
        for file, reasons in done.failures.items():
            for reason in reasons:
                say(file, reason)
        if not args.quiet:
            for text in done.warnings:
                say(None, f"warning: {text}")
            if aside is not None:
                print(f"factory database moved aside to {project.relative(aside)}")
            print(f"project {settings.get_project_name()} (PDK {settings.get_pdk_name()})")
            for label, names in (
                ("added", done.added),
                ("updated", done.updated),
                ("removed", done.removed),
                ("failed", list(done.failures)),
            ):
                print(_summary(label, names, every_name=args.verbose))
    return INPUT_PROBLEM if done.failures else OK


def _summary(label: str, names: Sequence[str], *, every_name: bool) -> str:
    head = f"{label} ({len(names)}):"
    if not names:
        return f"{head} -"
    if every_name:
        return "\n".join([head, *(f"  {name}" for name in names)])
    width = max(shutil.get_terminal_size().columns, 60)
    line = f"{head} {', '.join(names)}"
    if len(line) <= width:
        return line
    line = head
    for i, name in enumerate(names):
        longer = f"{line}{',' if i else ''} {name}"
        if i and len(longer) + len(_more(names, i)) > width:
            return line + _more(names, i)
        line = longer
    return line


def _move_database_aside() -> Path | None:
    try:
        return database.move_aside()
    except database.UnusableDatabase as e:
        raise CommandError(str(e.path), f"cannot be moved aside: {e.reason}") from None


def _more(names: Sequence[str], shown: int) -> str:
    return f", ... ({len(names) - shown} more; -v lists them)"

def _expand(given: Sequence[str], project_dir: Path) -> list[Path]:
    """Resolve the PATH arguments into the project's Python files they name."""
    files: dict[Path, None] = {}
    for arg in given:
        path = Path(arg).resolve()
        if not path.exists():
            raise UsageError(f"{arg}: no such file or folder")
        if not path.is_relative_to(project_dir):
            raise UsageError(f"{arg}: not inside the project folder {project_dir}")
        if path.is_dir():
            found = [p.resolve() for p in callgraph.iter_python_files(path)]
            if not found:
                # Passing nothing on would register the whole project instead.
                raise UsageError(f"{arg}: holds no Python files")
            files.update(dict.fromkeys(found))
        else:
            files[path] = None
    return list(files)

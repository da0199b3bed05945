"""``tessel spice FILE ...``: read OC spice netlists and print their netlist dictionaries.

Options::

    -o FILE, --output FILE      write the result to FILE instead of stdout
    --out-dir DIR               write each file's result to DIR/<name>.<format>
    --format json|yaml          output format (json by default)
    --param NAME=VALUE          a netlist parameter; VALUE is a number when it looks like one
    --component-map OLD=NEW     read component OLD as NEW
    --settings-keymap OLD=NEW   rename setting OLD to NEW
    --project DIR, --pdk NAME   the project whose cells the netlists use, and its PDK

FILE ``-`` is standard input.  One file gives its netlist dictionary; several give one
dictionary from each path (as given) to its netlist dictionary, each written as soon as it
is read.  The three NAME=VALUE options may be repeated; for a name given twice the last one
counts.  A file that cannot be read gives one line on stderr and makes the exit status 1;
the others are still read.  What ``-o`` and ``--out-dir`` may write over is `output`'s to
decide.

Before reading, the cells of the project are registered (see `tessel register`), so that
netlists of the project's own cells resolve: the project that ``--project`` names, or else
the nearest one when it is a tessel project (its pyproject.toml has a ``[tool.tessel]``
table, or it has a factory database).
"""

from __future__ import annotations

import argparse
from collections.abc import Iterator
from contextlib import nullcontext
from pathlib import Path
from typing import Any

from .. import settings
from ..core import database
from . import output, project
from .console import INPUT_PROBLEM, OK, CommandError, UsageError, describe, say
from .formats import FORMATS, Entries, write_netlist
from .reading import STDIN, parse_number_or_text, read_netlist

__all__ = ["STDIN", "add_pair_options", "parse_number_or_text", "prepare_project", "refuse_second_stdin"]


def _pair(text: str) -> tuple[str, str]:
    name, sep, value = text.partition("=")
    if not sep or not name:
        raise argparse.ArgumentTypeError(f"expected NAME=VALUE, got {text!r}")
    return name, value


# Repeatable NAME=VALUE options: flag, metavar, help.
_PAIR_OPTIONS = (
    ("--param", "NAME=VALUE", "value of a netlist parameter (a number when it looks like one)"),
    ("--component-map", "OLD=NEW", "read component OLD as NEW"),
    ("--settings-keymap", "OLD=NEW", "rename setting OLD to NEW"),
)


def add_parser(subparsers: argparse._SubParsersAction, common: argparse.ArgumentParser) -> None:
    parser = subparsers.add_parser(
        "spice",
        parents=[common],
        help="read OC spice netlists",
        description="Read OC spice netlists and print their netlist dictionaries.",
    )
    parser.add_argument(
        "files", nargs="+", metavar="FILE", help="a netlist file; - reads standard input"
    )
    where = parser.add_mutually_exclusive_group()
    where.add_argument("-o", "--output", metavar="FILE", type=Path, help="write to FILE")
    where.add_argument(
        "--out-dir",
        metavar="DIR",
        type=Path,
        help="write each file's result to DIR/NAME.FORMAT, NAME being the file's name "
        "without its suffix (stdin for -)",
    )
    parser.add_argument(
        "--format", choices=FORMATS, default="json", help="output format (default: json)"
    )
    add_pair_options(parser)
    project.add_arguments(parser)
    parser.set_defaults(run=run)


def add_pair_options(parser: argparse.ArgumentParser) -> None:
    """The repeatable --param, --component-map and --settings-keymap options."""
    for flag, metavar, help_text in _PAIR_OPTIONS:
        parser.add_argument(
            flag, metavar=metavar, type=_pair, action="append", default=[],
            help=f"{help_text}; repeatable",
        )


def refuse_second_stdin() -> None:
    raise UsageError("standard input (-) can be read only once")


def run(args: argparse.Namespace) -> int:
    if args.files.count(STDIN) > 1:
        refuse_second_stdin()
    targets = _targets(args.files, args.out_dir, args.format) if args.out_dir else None
    if targets is None and args.output is not None:
        output.check_targets([(f"-o {args.output}", args.output)], args.files)
    failed = False

    def netlists() -> Iterator[tuple[str, Any]]:
        nonlocal failed
        for name in args.files:
            netlist = read_netlist(name, args)
            if netlist is None:
                failed = True
                continue
            yield name, netlist
            del netlist  # before the next file is read

    with project.selected(args):
        prepare_project(args)
        if targets is not None:
            for name, netlist in netlists():
                with output.writing(targets[name]) as write:
                    write_netlist(netlist, args.format, write)
                del netlist
        elif len(args.files) == 1:
            for _, netlist in netlists():
                with output.writing(args.output) as write:
                    write_netlist(netlist, args.format, write)
        else:
            # One result per path, each written as soon as it is read; nothing when none is.
            with output.writing(args.output) as write:
                write_netlist(Entries(netlists()), args.format, write)
    return INPUT_PROBLEM if failed else OK


def _targets(files: list[str], out_dir: Path, fmt: str) -> dict[str, Path]:
    targets: dict[str, Path] = {}
    for name in files:
        target = out_dir / f"{'stdin' if name == STDIN else Path(name).stem}.{fmt}"
        if target in targets.values():
            raise UsageError(f"{name}: another file's result is also written to {target}")
        targets[name] = target
    output.check_targets(((f"--out-dir {out_dir}: {t}", t) for t in targets.values()), files)
    try:
        out_dir.mkdir(parents=True, exist_ok=True)
    except OSError as e:
        raise CommandError(str(out_dir), describe(e)) from None
    return targets


def prepare_project(args: argparse.Namespace, *, persist: bool = True) -> None:
    """Check the settings, load the PDK and register the project's cells, if any.

    With `persist` false nothing is written on disk (no factory database, no compiled
    files); the cells still reach the PDK.  A factory database that cannot be used is a
    warning: the cells are registered without it.
    """
    pyproject = project.check_settings()
    with nullcontext() if persist else project.without_bytecode():
        project.load_pdk()
        if args.project is None and (
            pyproject is None
            or not (settings.has_tool_settings() or database.get_database_path().is_file())
        ):
            return
        done = project.register(verbose=args.verbose, persist=persist, database_optional=True)
    if args.quiet:
        return
    if done.database_problem is not None:
        problem = done.database_problem
        say(str(problem.path), f"warning: {problem.reason} (the project's cells are registered "
            f"without it){project.mend(problem)}")
    for file, reasons in done.failures.items():
        for reason in reasons:
            say(file, f"warning: its cells fail when used: {reason}")
    for text in done.warnings:
        say(None, f"warning: {text}")

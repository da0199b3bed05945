"""``tessel check FILE ...``: report what is likely wrong in OC spice netlists.

Each file is read as ``tessel spice`` reads it (same options, the project's cells and PDK),
and every finding is one line on stdout::

    path:LINE: severity: message [CODE]

(``--format json`` prints a list of objects instead).  The checks and their codes are
described in ``docs/checks.md``.  Exit status: 0 when nothing was found, 1 when any file has
an error or a warning, or cannot be read at all, 2 on a usage error.
"""

from __future__ import annotations

import argparse
import json
import sys
from typing import Any

from ..check import check_netlist
from . import project, spice
from .console import INPUT_PROBLEM, OK, describe, say, write_stdout

STDIN = spice.STDIN


def add_parser(subparsers: argparse._SubParsersAction, common: argparse.ArgumentParser) -> None:
    parser = subparsers.add_parser(
        "check",
        parents=[common],
        help="report likely mistakes in OC spice netlists",
        description="Report what is likely wrong in OC spice netlists, one finding per line.",
    )
    parser.add_argument("files", nargs="+", metavar="FILE", help="a netlist file; - reads standard input")
    parser.add_argument("--format", choices=("text", "json"), default="text",
                        help="text lines (default) or a JSON list")
    spice.add_pair_options(parser)
    project.add_arguments(parser)
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    if args.files.count(STDIN) > 1:
        spice.refuse_second_stdin()
    found: list[dict[str, Any]] = []
    unreadable = False
    with project.selected(args):
        spice.prepare_project(args, persist=False)
        params = {key: spice.parse_number_or_text(value) for key, value in args.param}
        options = {"settings_keymap": dict(args.settings_keymap), "component_map": dict(args.component_map)}
        for name in args.files:
            where = "<stdin>" if name == STDIN else name
            try:
                findings = check_netlist(sys.stdin if name == STDIN else name, params, **options)
            except (OSError, UnicodeError) as e:
                say(where, describe(e))
                unreadable = True
                continue
            found += [f.as_dict(where) for f in findings]
    if args.format == "json":
        write_stdout(json.dumps(found, indent=1) + "\n")
    elif found:
        write_stdout("".join(f"{f['path']}{':' + str(f['line']) if f['line'] else ''}: "
                             f"{f['severity']}: {f['message']} [{f['code']}]\n" for f in found))
    if not args.quiet and args.verbose:
        say(None, f"{len(found)} finding(s) in {len(args.files)} file(s)")
    return INPUT_PROBLEM if found or unreadable else OK

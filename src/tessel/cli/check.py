"""``tessel check PATH ...``: report what is likely wrong in OC spice netlists.

Each file is read as ``tessel spice`` reads it (same options, the project's cells and PDK);
a folder stands for the netlists below it (see `tessel.check.files`).  Every finding is one
line on stdout::

    path:LINE:COL: CODE message

(``--format json``, ``sarif`` or ``github`` write the same findings for tools).  The checks,
their codes and how to select them are described in ``docs/checks.md``.  Exit status: 0 when
nothing was found, 1 when something was, 2 on a usage error or when a file cannot be read.
"""

from __future__ import annotations

import argparse
import difflib
import gc
import sys
from collections.abc import Callable
from pathlib import Path
from typing import Any

from .. import settings
from ..check import CheckConfig, Finding, FixError, apply_edits, check_text, load_config, read_source
from ..check.files import netlists_below
from ..check.formats import FORMATS, render
from . import project, spice
from .console import INPUT_PROBLEM, OK, USAGE, UsageError, say, write_file, write_stdout

STDIN = spice.STDIN


def _codes(text: str) -> list[str]:
    return [code for code in text.replace(" ", ",").split(",") if code]


def add_parser(subparsers: argparse._SubParsersAction, common: argparse.ArgumentParser) -> None:
    parser = subparsers.add_parser(
        "check",
        parents=[common],
        help="report likely mistakes in OC spice netlists",
        description="Report what is likely wrong in OC spice netlists, one finding per line.",
    )
    parser.add_argument("files", nargs="+", metavar="PATH",
                        help="a netlist file, or a folder of them; - reads standard input")
    parser.add_argument("--format", choices=FORMATS, default="text",
                        help="text lines (default), a JSON list, SARIF 2.1.0 or GitHub workflow commands")
    codes = parser.add_argument_group("which checks (codes or prefixes, comma-separated)")
    codes.add_argument("--select", type=_codes, metavar="CODES",
                       help="report these codes only (over the project's select)")
    codes.add_argument("--extend-select", type=_codes, default=[], metavar="CODES",
                       help="report these codes too")
    codes.add_argument("--ignore", type=_codes, default=[], metavar="CODES",
                       help="do not report these codes")
    fixing = parser.add_mutually_exclusive_group()
    fixing.add_argument("--fix", action="store_true",
                        help="apply the safe fixes (lower-case commands, a trailing .end, a "
                        "byte-order mark) and report what is left")
    fixing.add_argument("--diff", action="store_true", help="only show the safe fixes, as a diff")
    parser.add_argument("--stdin-filename", type=Path, metavar="PATH",
                        help="the path standard input stands for (selects the configuration)")
    spice.add_pair_options(parser)
    project.add_arguments(parser)
    parser.set_defaults(run=run)


def _paths(names: list[str]) -> list[tuple[str, Path | None]]:
    """(name as shown, path or None for stdin) of every file to check."""
    paths: list[tuple[str, Path | None]] = []
    for name in names:
        if name == STDIN:
            paths.append(("<stdin>", None))
            continue
        path = Path(name)
        if path.is_dir():
            config = _config(path)
            below = list(netlists_below(path, config.excludes))
            paths += [(str(p), p) for p in below] or [(name, path)]
        else:
            paths.append((name, path))
    return paths


def _config(path: Path | None) -> CheckConfig:
    try:
        return load_config(path)
    except settings.ProjectConfigError as e:
        raise UsageError(str(e)) from None


def _diff(name: str, before: str, after: str) -> str:
    return "".join(difflib.unified_diff(before.splitlines(keepends=True), after.splitlines(keepends=True),
                                        f"{name}", f"{name} (fixed)"))


# A fix can uncover another (a command behind a byte-order mark): a few rounds at most.
_ROUNDS = 3


def _fixed(shown: str, text: str, findings: list[Finding],
           findings_of: Callable[[str], list[Finding]]) -> tuple[str, int, list[Finding]]:
    """The text with every safe fix applied, how many were, and the findings left."""
    fixed, count = text, 0
    for _ in range(_ROUNDS):
        edits = [e for f in findings for e in f.fix]
        if not edits:
            break
        try:
            fixed = apply_edits(fixed, edits)
        except FixError as e:
            say(shown, f"the fixes are not applied: {e}")
            return text, 0, findings_of(text)
        count += len(edits)
        findings = findings_of(fixed)
    return fixed, count, findings


class _Outcome:
    """What a run found, fixed and could not read."""

    def __init__(self) -> None:
        self.found: list[tuple[str, Finding]] = []
        self.diffs: list[str] = []
        self.unreadable = self.changed = False


def _check_file(shown: str, path: Path | None, args: argparse.Namespace, read: dict[str, Any],
                outcome: _Outcome) -> None:
    """Checks one file (stdin for None path) and fixes it or shows its fixes, as asked."""
    config_path = path if path is not None else args.stdin_filename
    try:
        config = _config(config_path).with_options(
            select=args.select, extend_select=args.extend_select, ignore=args.ignore)
    except ValueError as e:
        raise UsageError(str(e)) from None
    text, problems = read_source(sys.stdin if path is None else path)
    if text is None:
        for f in problems:
            if f.code == "TS132":
                say(shown, f"{f.code} {f.message}")
                outcome.unreadable = True
        outcome.found += [(shown, f) for f in problems if f.code in config.codes_for(path)]
        return

    def findings_of(text: str) -> list[Finding]:
        return check_text(text, config_path, config=config, **read)

    findings = findings_of(text)
    if path is not None and (args.fix or args.diff):
        fixed, count, findings = _fixed(shown, text, findings, findings_of)
        if fixed != text and args.diff:
            outcome.diffs.append(_diff(shown, text, fixed))
        elif fixed != text:
            write_file(path, fixed)
            outcome.changed = True
            if not args.quiet:
                say(shown, f"fixed {count} problem{'s' if count > 1 else ''}")
    outcome.found += [(shown, f) for f in findings]


def run(args: argparse.Namespace) -> int:
    if args.files.count(STDIN) > 1:
        spice.refuse_second_stdin()
    if (args.fix or args.diff) and STDIN in args.files:
        raise UsageError("--fix and --diff work on files, not on standard input")
    outcome = _Outcome()
    with project.selected(args):
        spice.prepare_project(args, persist=False)
        # What is imported by now (the PDK, the circuit library) lives as long as the
        # process: the collector need not walk it again for every netlist.
        gc.freeze()
        read = {
            "params": {key: spice.parse_number_or_text(value) for key, value in args.param},
            "read_options": {"settings_keymap": dict(args.settings_keymap),
                             "component_map": dict(args.component_map)},
        }
        for shown, path in _paths(args.files):
            _check_file(shown, path, args, read, outcome)
    if args.diff:
        write_stdout("".join(outcome.diffs))
        return USAGE if outcome.unreadable else INPUT_PROBLEM if outcome.diffs else OK
    listed = [(p, f) for p, f in outcome.found if not args.quiet or f.severity == "error"]
    if listed or args.format in ("json", "sarif"):
        write_stdout(render(listed, args.format))
    if args.verbose:
        say(None, f"{len(outcome.found)} finding(s) in {len({p for p, _ in outcome.found})} file(s)"
            f"{'; files fixed' if outcome.changed else ''}")
    return USAGE if outcome.unreadable else INPUT_PROBLEM if outcome.found else OK

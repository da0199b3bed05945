"""The ``tessel`` command line.

Each subcommand lives in its own module, which provides ``add_parser(subparsers, common)``
and sets the parser's ``run`` default to a function taking the parsed arguments
and returning the exit status (see `console` for the statuses and how problems are
reported).
"""

from __future__ import annotations

import argparse
import signal
import sys
from collections.abc import Sequence

from .. import __version__
from . import check, lsp, register, show, spice
from .console import INPUT_PROBLEM, INTERRUPTED, USAGE, CommandError, OutputClosed, UsageError, describe
from .console import on_interrupt, say

__all__ = ["main"]

EPILOG = "exit status: 0 success, 1 input problem, 2 usage error, 130 interrupted"


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tessel",
        description="tessel: a design environment for chip layouts.",
        epilog=EPILOG,
    )
    parser.add_argument("--version", action="version", version=f"tessel {__version__}")
    common = argparse.ArgumentParser(add_help=False)
    chatter = common.add_mutually_exclusive_group()
    chatter.add_argument(
        "-q", "--quiet", action="store_true", help="print errors only, no warnings or summaries"
    )
    chatter.add_argument(
        "-v", "--verbose", action="store_true", help="also say what is found and done"
    )
    subparsers = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    spice.add_parser(subparsers, common)
    check.add_parser(subparsers, common)
    register.add_parser(subparsers, common)
    show.add_parser(subparsers, common)
    lsp.add_parser(subparsers, common)
    for command in subparsers.choices.values():
        command.set_defaults(command_parser=command)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    # Ctrl-C kills the process at once, as it does other command-line tools: Python's own
    # handler only raises KeyboardInterrupt between bytecodes, and some imports (the
    # circuit library's numerical stack) run long stretches of native code or catch the
    # exception; the run would go on for a minute.
    with on_interrupt(signal.SIG_DFL):
        args, unknown = build_parser().parse_known_args(argv)
        if unknown:
            # Said by the command's own parser, with its usage: the options are its.
            args.command_parser.error(f"unrecognized arguments: {' '.join(unknown)}")
        try:
            return args.run(args)
        except UsageError as e:
            print(f"tessel {args.command}: error: {e}", file=sys.stderr)
            return USAGE
        except CommandError as e:
            say(e.where, e.message)
            return INPUT_PROBLEM
        except OutputClosed:
            return INPUT_PROBLEM
        except KeyboardInterrupt:
            return INTERRUPTED
        except MemoryError:
            pass
    # Out of memory; said outside the handler, when what filled the memory is gone.
    say(None, describe(MemoryError()))
    return INPUT_PROBLEM


if __name__ == "__main__":
    sys.exit(main())

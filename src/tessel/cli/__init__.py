"""The ``tessel`` command line.

Each subcommand lives in its own module, which provides ``add_parser(subparsers)``
and sets the parser's ``run`` default to a function taking the parsed arguments
and returning the exit status.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence

from . import register, spice

__all__ = ["main"]


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="tessel", description=__doc__.splitlines()[0])
    subparsers = parser.add_subparsers(dest="command", required=True)
    spice.add_parser(subparsers)
    register.add_parser(subparsers)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    return args.run(args)


if __name__ == "__main__":
    sys.exit(main())

"""``tessel register [PATH ...]``: register the project's cells into the PDK and the database."""

from __future__ import annotations

import argparse


def add_parser(subparsers: argparse._SubParsersAction) -> None:
    parser = subparsers.add_parser("register", help="register the project's cells")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    raise NotImplementedError("tessel register")

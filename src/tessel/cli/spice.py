"""``tessel spice FILE``: read an OC spice netlist and print its netlist dictionary."""

from __future__ import annotations

import argparse


def add_parser(subparsers: argparse._SubParsersAction) -> None:
    parser = subparsers.add_parser("spice", help="read an OC spice netlist")
    parser.add_argument("file")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    raise NotImplementedError("tessel spice")

"""``tessel spice FILE``: read an OC spice netlist and print its netlist dictionary.

Options::

    --format json|yaml          output format (json by default)
    --param NAME=VALUE          a netlist parameter; VALUE is a number when it looks like one
    --component-map OLD=NEW     read component OLD as NEW
    --settings-keymap OLD=NEW   rename setting OLD to NEW

The three NAME=VALUE options may be repeated; for a name given twice the last one counts.
A netlist that cannot be read gives one line on stderr (file, error type and message)
and exit status 1.
"""

from __future__ import annotations

import argparse
import json
import re
import sys
from typing import Any

_NUMBER = re.compile(r"[+-]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?")
_INTEGER = re.compile(r"[+-]?\d+")


def parse_number_or_text(value: str) -> Any:
    """``"3"`` -> 3, ``"1e-6"`` -> 1e-06, anything else stays text (``"nan"`` included)."""
    text = value.strip()
    if _INTEGER.fullmatch(text):
        return int(text)
    if _NUMBER.fullmatch(text):
        return float(text)
    return value


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


def add_parser(subparsers: argparse._SubParsersAction) -> None:
    parser = subparsers.add_parser(
        "spice",
        help="read an OC spice netlist",
        description="Read an OC spice netlist and print its netlist dictionary.",
    )
    parser.add_argument("file", help="the netlist file")
    parser.add_argument(
        "--format", choices=("json", "yaml"), default="json", help="output format (default: json)"
    )
    for flag, metavar, help_text in _PAIR_OPTIONS:
        parser.add_argument(
            flag, metavar=metavar, type=_pair, action="append", default=[],
            help=f"{help_text}; repeatable",
        )
    parser.set_defaults(run=run)


def _plain(value: Any) -> Any:
    """The netlist as JSON types only (tuples become lists, unknown objects text)."""
    return json.loads(json.dumps(value, default=str))


def format_netlist(netlist: dict[str, Any], fmt: str) -> str:
    if fmt == "yaml":
        import yaml

        return yaml.safe_dump(_plain(netlist), sort_keys=False)
    return json.dumps(netlist, indent=2, default=str) + "\n"


def run(args: argparse.Namespace) -> int:
    from tessel.core.spiceread import parse_oc_spice

    params = {name: parse_number_or_text(value) for name, value in args.param}
    try:
        netlist = parse_oc_spice(
            args.file,
            settings_keymap=dict(args.settings_keymap),
            component_map=dict(args.component_map),
            **params,
        )
        text = format_netlist(netlist, args.format)
    except Exception as e:  # noqa: BLE001 - every failure becomes one line
        message = " ".join(str(e).split()) or "(no message)"
        print(f"tessel spice: {args.file}: {type(e).__name__}: {message}", file=sys.stderr)
        return 1
    sys.stdout.write(text)
    return 0

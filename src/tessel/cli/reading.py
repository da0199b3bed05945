"""One netlist read for a command, its warnings and errors turned into lines a person can act on.

Each warning and error names the file and, where the reader's note gives it, the line
(``path:LINE: warning: ...``, ``path:LINE: Type: message``); what the reader tells a Python
caller to do is told in command-line terms; an unknown component comes with the close
matches among the names the netlist could have meant.
"""

from __future__ import annotations

import argparse
import re
import shlex
import sys
import warnings
from pathlib import Path
from typing import Any

from ..suggest import component_names, did_you_mean
from .console import noted_line, report, say, say_noted
from .project import load_pdk

STDIN = "-"


def parse_number_or_text(value: str) -> Any:
    """``"3"`` -> 3, ``"1e-6"`` -> 1e-06, anything else stays text (``"nan"`` included)."""
    text = value.strip()
    if _INTEGER.fullmatch(text):
        return int(text)
    if _NUMBER.fullmatch(text):
        return float(text)
    return value


_NUMBER = re.compile(r"[+-]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?")
_INTEGER = re.compile(r"[+-]?\d+")


def read_netlist(name: str, args: argparse.Namespace) -> Any:
    """The netlist dictionary of the file `name` (``-``: standard input), or None when it
    cannot be read (reported)."""
    from tessel.core.spiceread import ParseWarning, parse_oc_spice

    where = "<stdin>" if name == STDIN else name
    source: Any = _Stdin() if name == STDIN else name
    params = {key: parse_number_or_text(value) for key, value in args.param}
    component_map = dict(args.component_map)
    netlist, failure = None, None
    with warnings.catch_warnings(record=True) as caught:
        # Every warning of the reader, each on its line; other warnings (of the
        # libraries it imports) as Python's filters decide.
        warnings.simplefilter("always", ParseWarning)
        try:
            netlist = parse_oc_spice(
                source,
                settings_keymap=dict(args.settings_keymap),
                component_map=component_map,
                **params,
            )
        except Exception as e:  # noqa: BLE001 - every failure becomes one line
            failure = e
    if not args.quiet:
        for warning in caught:
            message = warning.message
            text = f"warning: {for_the_command_line(str(message))}"
            if isinstance(message, Warning):
                say_noted(where, message, text)
            else:
                say(where, text)
    if failure is not None:
        report(where, failure, hint=_unknown_component_hint(failure, source, component_map))
    if args.verbose and netlist is not None:
        say(where, f"netlists read: {', '.join(netlist) or '-'}")
    return netlist


class _Stdin:
    """Standard input, keeping the text the reader took from it, to look at again."""

    def __init__(self) -> None:
        self.text: str | None = None

    def read(self) -> str:
        self.text = sys.stdin.read()
        return self.text


# The reader's warning for a single-quoted value that no parameter gives.
_UNRESOLVED = re.compile(
    r"Could not parse '(?P<name>.*)'\. Setting it to None \(to be specified during the circuit "
    r"call\)\. You can also set the value of '(?P=name)'(?P<how> as a keyword argument of "
    r"ts\.parse_oc_spice)", re.S)


def for_the_command_line(message: str) -> str:
    """A reader's warning as a command-line user acts on it: a value is given with ``--param``."""
    match = _UNRESOLVED.fullmatch(message)
    if match is None:
        return message
    option = shlex.quote(f"{match['name']}=VALUE")
    return f"{message[: match.start('how')]} with --param {option}"


def _unknown_component_hint(failure: Exception, source: str | _Stdin,
                            component_map: dict[str, str]) -> str:
    """"Did you mean ...?" for an element whose component is none the netlist can name."""
    line = noted_line(failure)
    if not isinstance(failure, TypeError) or line is None:
        return ""
    from tessel.core._outline import read_outline

    try:
        text = source.text if isinstance(source, _Stdin) else Path(source).read_text(encoding="utf-8")
        outline = read_outline(text or "")
        written = [e.component.text for e in outline.elements if e.statement.line == line]
        subckts = [component_map.get(s.name.text, s.name.text) for s in outline.subckts]
    except Exception:  # noqa: BLE001 - a hint is an aid: without one, the error is still said
        return ""
    if not written:
        return ""
    component = component_map.get(written[0], written[0])
    names = component_names(load_pdk(), subckts)
    if component in names:
        return ""
    hint = did_you_mean(component, names)
    return hint[:1].upper() + hint[1:]

"""Checks of OC spice netlists: what the reader accepts but is likely not what was meant.

`check_netlist` reads a netlist as `parse_oc_spice` would and reports, with the file line of
each, the problems listed in `CHECKS`: the reader's own errors, and what it accepts quietly
but changes or drops (an element outside any subcircuit, a misspelt net that becomes an
external port, a scale suffix it does not know, a value it takes for metres, ...).  Each
check has a short stable code; ``docs/checks.md`` describes them.
"""

from __future__ import annotations

import io
import re
import warnings
from collections import Counter
from collections.abc import Mapping
from dataclasses import asdict, dataclass
from pathlib import Path
from typing import Any

from tessel.core._outline import read_outline

__all__ = ["CHECKS", "Finding", "check_netlist"]

ERROR, WARNING = "error", "warning"

# code: (severity, what it finds)
CHECKS: dict[str, tuple[str, str]] = {
    "TS100": (ERROR, "the reader refuses the netlist"),
    "TS101": (ERROR, "an unsupported command"),
    "TS102": (WARNING, "an element line outside any subcircuit (ignored)"),
    "TS103": (WARNING, "a .subckt without .ends (dropped)"),
    "TS104": (WARNING, "a subcircuit name defined twice (the later one wins)"),
    "TS105": (WARNING, "an instance name used twice in one subcircuit"),
    "TS106": (WARNING, "a net with one terminal that is not a declared port"),
    "TS107": (WARNING, "a declared port that no element uses"),
    "TS108": (WARNING, "several terminals on one declared port (the last one wins)"),
    "TS109": (WARNING, "a value whose letters are no scale suffix"),
    "TS110": (WARNING, "a value without a scale suffix that is taken for metres"),
    "TS111": (WARNING, "a comment marker inside a word (the line is cut there)"),
    "TS112": (WARNING, "a single-quoted name that no parameter resolves"),
    "TS113": (WARNING, "a parameter given but never used"),
}


@dataclass(frozen=True, order=True)
class Finding:
    line: int
    code: str
    message: str

    @property
    def severity(self) -> str:
        return CHECKS[self.code][0]

    def as_dict(self, path: str) -> dict[str, Any]:
        return {"path": path, **asdict(self), "severity": self.severity}


_COMMANDS = (".subckt", ".ends", ".global")
# A number written with letters after it: 2.2k, 10f, 3meg.
_LETTERED = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?(?P<letters>[A-Za-z]+)")
_PLAIN = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")
_METRES = (1e-10, 1e-2)  # values strictly between are taken for metres


def _unquoted(value: str) -> tuple[str, bool]:
    """The value text without its quotes, and whether it was single-quoted."""
    while len(value) >= 2 and value[0] == value[-1] == '"':
        value = value[1:-1]
    quoted = False
    while len(value) >= 2 and value[0] == value[-1] == "'":
        value, quoted = value[1:-1], True
    return value, quoted


def _line_of(error: BaseException) -> int:
    """The line a reader's note gives the error, or 0."""
    for note in getattr(error, "__notes__", ()):
        match = re.match(r".*?:(\d+): ", note)
        if match:
            return int(match.group(1))
    return 0


class _Checker:
    def __init__(self, params: Mapping[str, Any]) -> None:
        from tessel.core import spiceread

        self.sr = spiceread
        self.params = dict(params)
        self.used: set[str] = set()
        self.findings: list[Finding] = []

    def add(self, line: int, code: str, message: str) -> None:
        self.findings.append(Finding(line, code, message))

    def value(self, line: int, key: str, raw: str | None, kwargs: dict[str, Any]) -> Any:
        """The value the reader makes of `raw`, checking it on the way."""
        if raw is None:
            return None  # a word of several "=": the reader refuses it (TS100)
        text, quoted = _unquoted(raw)
        if quoted and text in self.params:
            self.used.add(text)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always", self.sr.ParseWarning)
            try:
                value = self.sr._parse_value(raw, **kwargs)
            except Exception:  # noqa: BLE001 - the reading reports it (TS100)
                return None
        if any(issubclass(w.category, self.sr.ParseWarning) for w in caught):
            self.add(line, "TS112", f"{key}={raw}: no parameter is named {text!r}, so the value is None "
                     "until it is given when the circuit is called")
            return value
        if not quoted:
            self.check_number(line, key, raw, text, value)
        return value

    def check_number(self, line: int, key: str, raw: str, text: str, value: Any) -> None:
        lettered = _LETTERED.fullmatch(text)
        if lettered:
            letters = lettered["letters"]
            if len(letters) != 1 or letters.lower() not in "pnum":
                read = f"the number {value!r}" if isinstance(value, float) else f"the text {value!r}"
                self.add(line, "TS109", f"{key}={raw}: {letters!r} is no scale suffix (only p, n, u "
                         f"and m are), so it is read as {read}")
        elif _PLAIN.fullmatch(text) and isinstance(value, float) and _METRES[0] < value < _METRES[1]:
            self.add(line, "TS110", f"{key}={raw} lies between 1e-10 and 1e-2, so it is taken for "
                     f"metres and becomes {value * 1e6!r}; a length is better written with its "
                     "scale suffix")

    def settings(self, line: int, pairs: list[tuple[str, str | None]], kwargs: dict[str, Any]) -> dict[str, Any]:
        return {key: self.value(line, key, raw, kwargs) for key, raw in pairs}

    def subckt(self, s: dict[str, Any]) -> None:
        own = self.settings(s["line"], s["settings"], self.params)
        kwargs = {**self.params, **own}
        names: dict[str, int] = {}
        terminals: dict[str, list[int]] = {}
        for e in s["elements"]:
            if e["name"] in names:
                self.add(e["line"], "TS105", f"instance {e['name']!r} is also defined at line "
                         f"{names[e['name']]}; the later one's settings win and its nets join the same "
                         "instance")
            names.setdefault(e["name"], e["line"])
            self.settings(e["line"], e["settings"], kwargs)
            for net in e["nets"]:
                terminals.setdefault(net, []).append(e["line"])
        declared = s["ports"]
        for port in dict.fromkeys(declared):
            lines = terminals.get(port, [])
            if not lines:
                self.add(s["line"], "TS107", f"port {port!r} of subcircuit {s['name']!r} is not used "
                         "by any element")
            elif len(lines) > 1:
                self.add(lines[-1], "TS108", f"port {port!r} of subcircuit {s['name']!r} has "
                         f"{len(lines)} terminals (lines {', '.join(map(str, lines))}); only the last "
                         "one is kept")
        for net, lines in terminals.items():
            if net not in declared and len(lines) == 1:
                self.add(lines[0], "TS106", f"net {net!r} of subcircuit {s['name']!r} has one terminal "
                         "and is no declared port, so it becomes an external port (a misspelt net?)")

    def outline(self, outline: dict[str, Any]) -> None:
        for line in outline["outside"]:
            self.add(line, "TS102", "element line outside any subcircuit: it is ignored")
        for line, word, marker in outline["cuts"]:
            self.add(line, "TS111", f"the {marker!r} in {word!r} starts a comment: the line is cut there")
        seen: dict[str, int] = {}
        for s in outline["subckts"]:
            if s["end"] is None:
                self.add(s["line"], "TS103", f"subcircuit {s['name']!r} has no .ends: it is dropped")
                continue
            if s["name"] in seen:
                self.add(s["line"], "TS104", f"subcircuit {s['name']!r} is also defined at line "
                         f"{seen[s['name']]}; this one replaces it")
            seen.setdefault(s["name"], s["line"])
        for s in outline["subckts"]:
            if s["end"] is not None:
                self.subckt(s)
        error = outline["error"]
        if error and error["kind"] == "unsupported_command":
            command = error["message"].removeprefix("Unsupported command: ").removesuffix(".")
            hint = ""
            if command.lower() in _COMMANDS:
                hint = f": commands are lower case, write {command.lower()}"
            elif command.lower() == ".end":
                hint = ": a netlist ends without .end"
            self.add(error["line"], "TS101", f"{error['message']} The commands are "
                     f"{', '.join(_COMMANDS)}{hint}")
        for name in self.params:
            if name not in self.used:
                self.add(0, "TS113", f"parameter {name!r} is given but no single-quoted value names it")


def check_netlist(source: str | Path | io.TextIOBase, params: Mapping[str, Any] | None = None,
                  **read_options: Any) -> list[Finding]:
    """The findings of a netlist (a path or a text stream), in line order.

    `params` are the keyword values `parse_oc_spice` would be given, `read_options` its
    `settings_keymap` and `component_map`.  The netlist is also read with `parse_oc_spice`
    (with the active PDK), and whatever it raises is a TS100 error at the line its note gives.
    """
    from tessel.core import spiceread as sr

    try:
        text = Path(source).read_text(encoding="utf-8") if isinstance(source, (str, Path)) else source.read()
    except UnicodeDecodeError as e:
        # The reader's own reading names the line of the first bad byte.
        try:
            sr.parse_oc_spice(source)
        except UnicodeDecodeError as noted:
            e = noted
        return [Finding(_line_of(e), "TS100", f"{type(e).__name__}: {e}")]
    checker = _Checker(params or {})
    outline = read_outline(text)
    checker.outline(outline)
    refused = outline["error"]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", sr.ParseWarning)
        try:
            sr.parse_oc_spice(io.StringIO(text), **read_options, **(params or {}))
        except Exception as e:  # noqa: BLE001 - every failure is a finding
            if not (refused and refused["kind"] == "unsupported_command"):
                checker.add(_line_of(e), "TS100", f"{type(e).__name__}: {e}")
    return sorted(set(checker.findings))


def counts(findings: list[Finding]) -> Counter[str]:
    return Counter(f.severity for f in findings)

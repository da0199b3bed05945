"""Fuzzes the reader from Python: whole texts through `parse_oc_spice` and the
road to the IR, and the pieces of each text through every stage function.

What must hold for any input:
- every call returns, or raises an ordinary exception: never SystemError, and
  never the text of a C++ exception that got out;
- the fused road to the IR (one-pass line scanner feeding the builder) gives
  what the stages give one after the other, warnings included;
- the relevant lines are those of Python's own string operations.

Run through fuzz/run.sh, which builds the instrumented extension this needs;
arguments are libFuzzer's.
"""

from __future__ import annotations

import io
import os
import re
import sys
import tempfile
import warnings
from itertools import islice
from pathlib import Path

import atheris

# No project around: the generic PDK.
os.environ["TESSEL_PROJECT_DIR"] = tempfile.mkdtemp(prefix="tessel-fuzz-")

import tessel.core.spiceread as sr  # noqa: E402

# The suite's reference for relevant lines: Python's own string operations.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from test_lines import reference_lines  # noqa: E402

COMPONENT_MAP = {"mmi": "mmi1x2", "wg": "straight"}
KEYMAP = {"length": "L", "w": "width"}
KWARGS = {"w": 0.5, "gap": "'0.2'", "n": "x"}
# What libstdc++ puts in the exceptions it throws; nanobind passes their text on.
CPP_EXCEPTION = re.compile(r"basic_string|string_view|vector::|_M_[a-z]|__pos|__n \(which")
# Enough lines of each input for the stages to see every kind of statement;
# more only slows each run down.
MAX_LINES = 6


def outcome(fn, *args, **kwargs):
    """What a call gives, as (summary, value): summary is ("ok", repr of the
    result) or ("raised", type, text), value the result or None."""
    try:
        result = fn(*args, **kwargs)
        if hasattr(result, "__next__"):
            result = list(result)
        return ("ok", repr(result)), result
    except Exception as error:
        if isinstance(error, SystemError) or CPP_EXCEPTION.search(str(error)):
            raise
        return ("raised", type(error), str(error)), None


def recorded(fn, *args, **kwargs):
    """outcome() with the warnings the call issued: (summary, warnings, value)."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        summary, value = outcome(fn, *args, **kwargs)
    return summary, [(w.category, str(w.message)) for w in caught], value


def staged_relevant_lines(content):
    lines = sr._strip_lines(content.splitlines())
    lines = sr._standardize_spaces(sr._join_continuations(lines))
    return sr._filter_empty(sr._strip_lines(lines))


def stage_by_stage_ir(text):
    fused_lines, fused_builder = sr._iter_relevant_lines, sr._parse_into_ir
    sr._iter_relevant_lines = staged_relevant_lines
    # A list, not the scanner's own stream: the builder's general path.
    sr._parse_into_ir = lambda lines, cm, **kw: fused_builder(list(lines), cm, **kw)
    try:
        return recorded(sr._parse_oc_spice_into_ir, io.StringIO(text), COMPONENT_MAP, **KWARGS)
    finally:
        sr._iter_relevant_lines, sr._parse_into_ir = fused_lines, fused_builder


def check_whole_text(text):
    fused = recorded(sr._parse_oc_spice_into_ir, io.StringIO(text), COMPONENT_MAP, **KWARGS)
    staged = stage_by_stage_ir(text)
    assert fused[:2] == staged[:2], (fused[:2], staged[:2])

    lines = outcome(sr._iter_relevant_lines, text)[1]
    assert lines == reference_lines(text), (lines, reference_lines(text))

    netlists = outcome(sr.parse_oc_spice, io.StringIO(text), KEYMAP, COMPONENT_MAP, **KWARGS)[1]
    if netlists and fused[-1]:
        outcome(sr._patch_ports, netlists)
        ir, comments = fused[-1]
        outcome(sr._recursive_netlist_from_ir, ir, KEYMAP, comments)
        parents = [record for record in ir.values() if isinstance(record, sr.Subckt)]
        outcome(sr._get_parent_id, parents)
        for subckt in parents[:4]:
            outcome(sr._netlist_from_subckt, ir, subckt, KEYMAP, comments)
    return lines


def sub_netlists(words):
    """A recursive netlist made of the words, shaped as `_patch_ports` takes it."""
    names = words[:3] or ["top"]
    netlists = {}
    for n, name in enumerate(names):
        inst = words[n:n + 3] or ["X1"]
        netlists[name] = {
            "instances": {i: {"component": names[(n + k + 1) % len(names)]} for k, i in enumerate(inst)},
            "connections": {f"{inst[0]},o{k + 1}": f"{inst[-1]},{w}" for k, w in enumerate(words[:4])},
            "ports": {w: f"{inst[k % len(inst)]},o{k + 1}" for k, w in enumerate(words[:3])},
        }
    return netlists


def check_line(line, sort_ports):
    statement, comment = outcome(sr._split_comments, line)[1] or (line, "")
    outcome(sr._parse_location_comment, comment)
    outcome(sr._parse_location_comment, line)
    words = [w for w in outcome(sr._split_words, statement)[1] or [] if w]
    outcome(sr._handle_sources, words)
    outcome(sr._get_ir_ports, words)
    settings = outcome(sr._get_ir_settings, words, **KWARGS)[1]
    for word in words[:4]:
        value = word.partition("=")[2]
        outcome(sr._parse_value, value, **KWARGS)
        outcome(sr._eval, value or word, **KWARGS)
    if sort_ports:  # natural sorting is slow and all Python: once an input
        outcome(sr._sort_ports, tuple(words))
    outcome(sr._get_port, tuple(words), len(line) % 5)
    if isinstance(settings, dict):
        for number in settings.values():
            if isinstance(number, float):
                outcome(sr._is_probably_um, number)
        outcome(sr._map_settings_keys, dict(settings), KEYMAP)
        outcome(sr._convert_um, dict(settings))
        outcome(sr._patch_settings, dict(settings), KEYMAP)
    outcome(sr._patch_ports, sub_netlists(words))
    # The same stages on what no caller should pass: a wrong type is a TypeError.
    outcome(sr._map_settings_keys, words, KEYMAP)
    outcome(sr._convert_um, words)


def test_one_input(data: bytes) -> None:
    # Bytes that are not UTF-8 become lone surrogates, which a str may hold.
    text = data.decode("utf-8", "surrogateescape")
    with warnings.catch_warnings():
        # Warnings are compared where they matter; elsewhere they are results.
        warnings.simplefilter("ignore")
        lines = check_whole_text(text) or [text]
        for n, line in enumerate(islice(lines, MAX_LINES)):
            check_line(line, sort_ports=n == 0)


def main() -> None:
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()

"""Rules on setting values, from what the reader makes of each (the outline's Setting facts,
walked once per document: `Document.settings`)."""

from __future__ import annotations

from collections.abc import Iterator

from tessel.core._outline import Element, Setting

from ..document import Document
from ..findings import FILE, Hit
from ..registry import ERROR, WARNING, rule


def _names(element: Element | None) -> str | None:
    return element.name.text if element is not None else None


def _read_as(setting: Setting) -> str:
    return f"the number {setting.number!r}" if setting.kind == "number" else f"the text {setting.text!r}"


@rule("TS109", WARNING)
def no_scale_suffix(doc: Document) -> Iterator[Hit]:
    """A number followed by letters that are no scale suffix.

    Why: only the last character is tried as a suffix, and only p, n, u and m scale (m and M
    both mean milli), so ``2.2k`` is 2.2 and ``3meg`` stays the text "3meg".

    Example: ``r=2.2k``

    Fix: write the number in the unit the component expects, with p, n, u or m at most.
    """
    for setting, element, subckt in doc.settings:
        unit = setting.unit
        if unit and unit.isascii() and unit.isalpha() and not setting.scaled:
            yield Hit(setting.value, f"{setting.word.text}: {unit!r} is no scale suffix the reader "
                      f"knows, so it is read as {_read_as(setting)}",
                      subckt=subckt, instance=_names(element))


@rule("TS110", WARNING)
def taken_for_metres(doc: Document) -> Iterator[Hit]:
    """A value without a scale suffix that the metre rule takes for metres.

    Why: a float strictly between 1e-10 and 1e-2 is taken for a length in metres and
    multiplied by 1e6, whatever its key (``coupling=0.005`` becomes 5000.0).  Values written
    with their suffix (``0.5u``) are not reported.

    Example: ``coupling=0.005``

    Fix: write lengths with their suffix (``0.5u``); write other small values so that they
    fall outside the window, or expect them converted.
    """
    for setting, element, subckt in doc.settings_of("number"):
        if not setting.unit and setting.metre == "converted":
            yield Hit(setting.value, f"{setting.word.text} is taken for metres by the metre rule and "
                      f"becomes {setting.micrometres!r}; a length is better written with its scale "
                      "suffix", subckt=subckt, instance=_names(element))


@rule("TS125", WARNING)
def suffix_left_in_metres(doc: Document) -> Iterator[Hit]:
    """A length written with its scale suffix that the metre rule leaves in metres.

    Why: ``10000u`` is 0.01, outside the metre rule's window (strictly between 1e-10 and
    1e-2), so it stays 0.01 instead of becoming 10000 micrometres; ``15m`` stays 0.015.

    Example: ``length=10000u``

    Fix: write the length in micrometres without a suffix (``length=10000``).
    """
    for setting, element, subckt in doc.settings_of("number"):
        if setting.scaled and setting.metre == "above":
            yield Hit(setting.value, f"{setting.word.text} is {setting.number!r}, too large for the "
                      "metre rule, so it is not converted to micrometres: as a length it stays "
                      f"{setting.number!r} where {setting.micrometres:g} micrometres were likely meant",
                      subckt=subckt, instance=_names(element))


@rule("TS112", WARNING)
def unresolved_name(doc: Document) -> Iterator[Hit]:
    """A single-quoted name that no parameter resolves.

    Why: neither a parameter nor the enclosing subcircuit's settings give it, so its value is
    None until the circuit is called with it.

    Example: ``length='arm'``

    Fix: give the parameter (``tessel spice --param arm=10``), or set it on the ``.subckt``
    line.
    """
    for setting, element, subckt in doc.settings_of("unresolved"):
        if setting.text not in doc.parameters(element):
            yield Hit(setting.value, f"{setting.word.text}: no parameter is named {setting.text!r}, so "
                      "the value is None until it is given when the circuit is called",
                      subckt=subckt, instance=_names(element))


@rule("TS113", WARNING)
def unused_parameter(doc: Document) -> Iterator[Hit]:
    """A parameter given that no single-quoted value names.

    Why: it changes nothing; often its name is misspelt.

    Example: ``--param gap=0.2`` (and no ``'gap'``)

    Fix: remove it, or correct its name.
    """
    used = {setting.text for setting, _, _ in doc.settings_of("literal", "unresolved", "invalid")}
    for name in doc.params:
        if name not in used:
            yield Hit(FILE, f"parameter {name!r} is given but no single-quoted value names it")


@rule("TS117", ERROR, fatal=True)
def several_equals(doc: Document) -> Iterator[Hit]:
    """A setting word with more than one ``=``.

    Why: the reader refuses the netlist ("too many values to unpack").

    Example: ``length==10``

    Fix: write one key, one ``=`` and the value: ``length=10``.
    """
    for setting, element, subckt in doc.settings_of("refused"):
        count = setting.parts - 1
        yield Hit(setting.word, f"the reader refuses it ({setting.error}): {setting.word.text!r} "
                  f"holds {count} '='; a setting is one key, one '=' and its value, as in length=10",
                  subckt=subckt, instance=_names(element))


@rule("TS118", ERROR, fatal=True)
def invalid_literal(doc: Document) -> Iterator[Hit]:
    """A single-quoted value that the literal evaluator cannot parse.

    Why: the reader refuses the netlist with the evaluator's error.

    Example: ``length='1 +'``

    Fix: quote a parameter name or a Python literal (``'arm'``, ``'[1, 2]'``).
    """
    for setting, element, subckt in doc.settings_of("invalid"):
        if setting.text not in doc.parameters(element):
            yield Hit(setting.value, f"the reader refuses it ({setting.error}): a single-quoted value "
                      "is a parameter's name or a Python literal", subckt=subckt, instance=_names(element))


@rule("TS127", WARNING)
def unclosed_bracket(doc: Document) -> Iterator[Hit]:
    """A value that opens a bracket and never closes it.

    Why: the value is kept as text, bracket and all, where a list or an expression was meant.

    Example: ``widths={1,2``

    Fix: close the bracket.
    """
    for setting, element, subckt in doc.settings_of("text"):
        if setting.bracket:
            yield Hit(setting.value, f"{setting.word.text}: the {setting.bracket!r} is never closed, so "
                      f"the value stays the text {setting.text!r}", subckt=subckt, instance=_names(element))

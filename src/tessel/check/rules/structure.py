"""Rules on the netlist's structure: commands, subcircuits and the lines the reader ignores,
refuses or moves."""

from __future__ import annotations

from bisect import bisect_left
from collections.abc import Iterator

from tessel.core._outline import Command, Element, Ignored, Refusal, Word

from ..document import Document
from ..findings import FILE, Edit, Hit, Span, listing
from ..registry import ERROR, WARNING, rule


def _refusals(doc: Document, kind: str) -> Iterator[Refusal]:
    return (r for r in doc.outline.refusals if r.kind == kind)


def _line_removal(doc: Document, word: Word) -> Edit:
    """The edit that removes `word`, with its whole line when nothing else stands on it."""
    if word.line == word.end_line and doc.raw_lines[word.line - 1].strip() == word.text:
        return Edit(word.line, 1, word.line + 1, 1, "")
    return Edit(word.line, word.col, word.end_line, word.end_col, "")


@rule("TS101", ERROR, fatal=True)
def unsupported_command(doc: Document) -> Iterator[Hit]:
    """A command the reader does not know.

    Why: the reader refuses the whole netlist at the first one.  Commands are compared
    exactly, so an upper-case form of a known command is unsupported too; a netlist ends
    without ``.end``.  One finding per command word, at its first use.

    Example: ``.SUBCKT top a b``

    Fix: write the command in lower case (``.subckt``), remove ``.end``; ``tessel check --fix``
    does both.
    """
    statements = [c.id for c in doc.outline.commands] + [e.id for e in doc.outline.elements]
    last = max(statements + [i.id for i in doc.outline.ignored], default=0)
    messages = {r.id: r.message for r in _refusals(doc, "unsupported_command")}
    uses: dict[str, list[Command]] = {}
    for command in doc.outline.commands:
        if command.kind == "unsupported":
            uses.setdefault(command.word.text, []).append(command)
    for text, commands in uses.items():
        first = commands[0]
        message = messages.get(first.id, f"Unsupported command: {text}.")
        if len(commands) > 1:
            message += f" (also on lines {listing(str(c.word.line) for c in commands[1:])})"
        fix: tuple[Edit, ...] = ()
        if first.lowered:
            message += f" Commands are lower case: write {text.lower()}."
            fix = tuple(Edit(c.word.line, c.word.col, c.word.end_line, c.word.end_col, text.lower())
                        for c in commands)
        elif text.lower() == ".end":
            message += " A netlist ends without .end: remove it."
            fix = tuple(_line_removal(doc, c.statement) for c in commands if c.id == last)
        else:
            message += " The reader knows no such command (see docs/oc-spice.md)."
        yield Hit(first.word, message, fix=fix)


@rule("TS102", WARNING)
def outside_subcircuits(doc: Document) -> Iterator[Hit]:
    """Element lines outside any subcircuit: one finding per run of them.

    Why: the reader ignores every element line that no ``.subckt`` encloses.

    Example: ``X0 a b straight`` (before the first ``.subckt``)

    Fix: move the lines into a subcircuit, or make them comments.
    """
    if not doc.outline.subckts:
        return  # TS129 says it once for the whole file
    commands = sorted(c.id for c in doc.outline.commands)
    run: list[Ignored] = []

    def finding() -> Hit:
        first, last = run[0].statement, run[-1].statement
        span = Span(first.line, first.col, last.end_line, last.end_col)
        if len(run) == 1:
            what = f"element line {run[0].name.text!r} is outside any subcircuit: the reader ignores it"
        else:
            what = (f"{len(run)} element lines (lines {first.line}-{last.end_line}: "
                    f"{listing(repr(i.name.text) for i in run)}) are outside any subcircuit: "
                    "the reader ignores them")
        return Hit(span, what, instance=run[0].name.text)

    for ignored in doc.outline.ignored:
        if run and bisect_left(commands, ignored.id) != bisect_left(commands, run[-1].id):
            yield finding()
            run = []
        run.append(ignored)
    if run:
        yield finding()


@rule("TS103", WARNING)
def subckt_without_ends(doc: Document) -> Iterator[Hit]:
    """A ``.subckt`` without its ``.ends``.

    Why: the reader drops a subcircuit that is never closed, with everything in it.

    Example: ``.subckt open a`` (to the end of the file)

    Fix: close it with ``.ends``.
    """
    for s in doc.outline.subckts:
        if s.end is None:
            yield Hit(s.name, f"subcircuit {s.name.text!r} has no .ends: the reader drops it",
                      subckt=s.name.text)


@rule("TS104", WARNING)
def subckt_defined_twice(doc: Document) -> Iterator[Hit]:
    """Two subcircuits of the same name.

    Why: the later one replaces the earlier one in the result.

    Example: ``.subckt top a`` (a second time)

    Fix: rename one of them.
    """
    seen: dict[str, int] = {}
    for s in doc.closed:
        name = doc.component(s.name.text)
        if name in seen:
            yield Hit(s.name, f"subcircuit {name!r} is also defined at line {seen[name]}; this one "
                      "replaces it", subckt=name)
        seen.setdefault(name, s.name.line)


@rule("TS114", ERROR, fatal=True)
def ends_before_begin(doc: Document) -> Iterator[Hit]:
    """An ``.ends`` with no open subcircuit.

    Why: the reader refuses the netlist (".ends before begin.").

    Example: ``.ends`` (a second time)

    Fix: remove the extra ``.ends``, or add the ``.subckt`` it closes.
    """
    for r in _refusals(doc, "ends_before_begin"):
        yield Hit(r.word, f"{r.message} No subcircuit is open here, so this .ends closes nothing.")


@rule("TS115", ERROR, fatal=True)
def subckt_without_name(doc: Document) -> Iterator[Hit]:
    """A ``.subckt`` with no name.

    Why: the reader refuses the netlist.

    Example: ``.subckt``

    Fix: name the subcircuit and its ports: ``.subckt top a b``.
    """
    for r in _refusals(doc, "subckt_without_name"):
        yield Hit(r.word, f"the reader refuses it ({r.message}): a .subckt line names the "
                  "subcircuit, then its ports: .subckt top a b")


@rule("TS116", ERROR, fatal=True)
def element_without_component(doc: Document) -> Iterator[Hit]:
    """An element line that names no component.

    Why: the reader refuses the netlist ("tuple index out of range").  A ``+`` line after a
    blank line is such a line: the blank line ends the statement before it, so the ``+`` line
    continues nothing.

    Example: ``X1 a=1``

    Fix: write the nets and then the component (``X1 a b straight``); remove a blank line
    before a ``+`` line.
    """
    for r in _refusals(doc, "element_without_component"):
        if doc.raw_lines[r.word.line - 1].lstrip().startswith("+"):
            why = ("the line begins with '+' but follows a blank line, so it continues nothing and "
                   f"is read as an element named {r.word.text.split(' ')[0]!r}: remove the blank line "
                   "before it")
        else:
            why = ("an element line gives its name, its nets and then its component, as in "
                   "X1 a b straight")
        yield Hit(r.word, f"the reader refuses it ({r.message}): {why}")


@rule("TS124", WARNING)
def moved_into_nested(doc: Document) -> Iterator[Hit]:
    """Element lines of a subcircuit written before a nested ``.subckt``.

    Why: the reader gives the elements read since the last ``.ends`` to the subcircuit that is
    closed next, so these move into the inner subcircuit, silently.

    Example: ``X1 a b straight`` before ``.subckt inner ...`` inside ``.subckt outer ...``

    Fix: write an outer subcircuit's elements after its nested subcircuits, or define the
    subcircuits one after another.
    """
    subckts = doc.outline.subckts
    for e in doc.outline.elements:
        if e.owner >= 0 and e.owner != e.subckt:
            written, into = subckts[e.subckt].name.text, subckts[e.owner].name.text
            yield Hit(e.name, f"instance {e.name.text!r} is written in subcircuit {written!r} but the "
                      f"reader puts it into the nested {into!r}: it comes before that subcircuit's "
                      ".subckt", subckt=written, instance=e.name.text)


@rule("TS128", WARNING)
def instantiates_itself(doc: Document) -> Iterator[Hit]:
    """A subcircuit that instantiates itself, directly or through others.

    Why: such a circuit has no end; no simulation of it can be built.

    Example: ``X1 a b top`` inside ``.subckt top a b``

    Fix: instantiate another subcircuit or a component of the PDK.
    """
    names = {doc.component(s.name.text): k for k, s in enumerate(doc.outline.subckts) if s.end is not None}
    uses: dict[str, list[Element]] = {}
    for k, s in enumerate(doc.outline.subckts):
        if s.end is not None:
            for e in doc.owned[k]:
                if doc.component(e.component.text) in names:
                    uses.setdefault(doc.component(s.name.text), []).append(e)
    reported: set[frozenset[str]] = set()
    for start in uses:
        # The subcircuits reachable from `start`, each with the path to it.
        paths = {start: [start]}
        stack = [start]
        while stack:
            here = stack.pop()
            for e in uses.get(here, ()):
                there = doc.component(e.component.text)
                if there == start:
                    cycle = paths[here]
                    if frozenset(cycle) not in reported:
                        reported.add(frozenset(cycle))
                        first = next(x for x in uses[cycle[-1]] if doc.component(x.component.text) == start)
                        what = (f"subcircuit {start!r} instantiates itself" if len(cycle) == 1 else
                                f"subcircuits {listing(map(repr, cycle))} instantiate each other")
                        yield Hit(first.component, f"{what} (through instance {first.name.text!r}): "
                                  "the circuit never ends", subckt=cycle[-1], instance=first.name.text)
                elif there not in paths:
                    paths[there] = paths[here] + [there]
                    stack.append(there)


@rule("TS129", WARNING)
def no_subcircuit(doc: Document) -> Iterator[Hit]:
    """A file that defines no subcircuit.

    Why: the reader's result is empty (``{}``), without an error: an empty file, a file of
    comments only and a deck of element lines without ``.subckt`` all read as nothing.

    Example: ``R1 a b r=10`` (and no ``.subckt``)

    Fix: put the elements into a ``.subckt`` ... ``.ends``.
    """
    if doc.outline.subckts or doc.outline.refusals:
        return
    if not doc.outline.lines:
        what = "the file is empty"
    elif not doc.outline.ignored and not doc.outline.commands:
        what = "the file holds only comments"
    elif doc.outline.ignored:
        count = len(doc.outline.ignored)
        what = f"the file has {count} element line{'s' if count > 1 else ''} but no .subckt"
    else:
        what = "the file has no .subckt"
    yield Hit(FILE, f"{what}: the reader finds no subcircuit and gives an empty result")

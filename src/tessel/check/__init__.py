"""Checks of OC spice netlists: what the reader refuses, and what it accepts but is likely not
what was meant.

Each rule has a stable code (TS100, TS101, ...), a severity and a page in docs/checks.md
(`Finding.url`); `RULES` is the registry.  The checks run in two phases:

- `check_outline`: the findings that need no reading, from the netlist's outline alone (what
  the reader's text core makes of the text: subcircuits, elements, nets, settings and their
  values, refused statements, each word with its line and column).  No `sax`, no PDK: fast
  enough to run on every change of an editor's buffer.
- `check_reading`: the findings that need the reading: `parse_oc_spice` on the text (its
  refusal, TS100) and the components' ports as the reader looks them up in the PDK.

Both take a `Document`: a text (a file's or an editor buffer's), the path that selects the
project's configuration (``[tool.tessel.check]``: select, ignore, per-file ignores; see
`load_config`), and the parameters and read options of `parse_oc_spice`.  `check_text` runs
both phases on a text, `check_netlist` on a file or stream.  Findings come back in line
order, with the selection applied and the lines that a ``noqa`` comment marks (``$ noqa`` for
every code, ``$ noqa: TS106`` for some) left out::

    from tessel.check import Document, check_outline, check_reading

    doc = Document(buffer_text, "cells/ring.sp")
    quick = check_outline(doc)           # at once
    later = check_reading(doc)           # once the reader (and sax) are imported

A `Finding` has `line`, `col`, `end_line`, `end_col` (1-based, code points, end exclusive; 0
for the whole file), `code`, `message`, `severity`, `url`, the names it is about (`subckt`,
`instance`, `net`) and its safe fix, if any (`fix`: `Edit`s of the text; `apply_edits`).
`Document.outline` is the outline itself (`tessel.core._outline.Outline`, named tuples): the
positions of every subcircuit name, instance, component, net, port, setting key and value,
and what the reader makes of each value, for hover, navigation, rename and completion;
`Document.nets(k)` gives the nets of subcircuit `k` with their terminals (for references).
"""

from __future__ import annotations

from .config import CheckConfig, load_config
from .document import Document
from .findings import DOCS_URL, ERROR, WARNING, Edit, Finding, Span
from .fixes import FixError, apply_edits
from .registry import RULES, Rule
from .run import check_netlist, check_outline, check_reading, check_text, read_source

__all__ = [
    "DOCS_URL", "ERROR", "RULES", "WARNING", "CheckConfig", "Document", "Edit", "Finding",
    "FixError", "Rule", "Span", "apply_edits", "check_netlist", "check_outline", "check_reading",
    "check_text", "load_config", "read_source",
]

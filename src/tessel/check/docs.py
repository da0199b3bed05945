"""The rules' part of docs/checks.md, made from the registry.

``python -m tessel.check.docs docs/checks.md`` rewrites the part between the two markers;
the test suite checks that the file holds what this makes.
"""

from __future__ import annotations

import sys
from pathlib import Path

from .registry import RULES

__all__ = ["BEGIN", "END", "render_rules", "update"]

BEGIN = "<!-- rules: made from the registry by python -m tessel.check.docs; do not edit -->"
END = "<!-- end of rules -->"


def render_rules() -> str:
    from . import rules  # noqa: F401 - registers them

    out = ["| Code | Severity | Needs the reading | What it finds |", "| --- | --- | --- | --- |"]
    for code, r in sorted(RULES.items()):
        reading = "yes" if r.phase == "reading" else ""
        out.append(f"| [{code}](#{code.lower()}) | {r.severity} | {reading} | {r.summary} |")
    for code, r in sorted(RULES.items()):
        doc = r.doc.replace("``", "`")
        for name in ("Why", "Example", "Fix"):
            doc = doc.replace(f"{name}:", f"**{name}:**", 1)
        out += ["", f'<a id="{code.lower()}"></a>', f"### {code}: {r.summary.replace('``', '`')}", "", doc]
    return "\n".join(out) + "\n"


def update(text: str) -> str:
    """`text` with the part between the markers made anew."""
    head, found, rest = text.partition(BEGIN)
    if not found or END not in rest:
        raise ValueError(f"the markers {BEGIN!r} and {END!r} are missing")
    return f"{head}{BEGIN}\n{render_rules()}{END}{rest.partition(END)[2]}"


if __name__ == "__main__":
    target = Path(sys.argv[1] if len(sys.argv) > 1 else "docs/checks.md")
    target.write_text(update(target.read_text(encoding="utf-8")), encoding="utf-8")

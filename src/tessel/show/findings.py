"""What each finding of `tessel check` is about, in the drawing: a sheet, and in it an
instance or some nets.

A finding names its subcircuit, instance and net where the check knows them; a finding
without names is about the element on its line, or else the subcircuit around its line.
"""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from dataclasses import dataclass, field
from typing import Any

from .scene import Sheet


@dataclass(slots=True)
class Target:
    sheet: int = -1
    instance: int = -1
    nets: list[int] = field(default_factory=list)


def locate(findings: Iterable[Any], sheets: list[Sheet], outline: Any,
           component_map: Mapping[str, str] | None = None) -> list[Target]:
    """The target of each finding, in order."""
    findings = list(findings)
    if not findings:
        return []
    mapped = dict(component_map or {})
    by_name = {s.name: k for k, s in enumerate(sheets)}
    instances = [s.index() for s in sheets]
    nets: list[dict[str, list[int]]] = []
    for s in sheets:
        named: dict[str, list[int]] = {}
        for k, each in enumerate(s.nets):
            named.setdefault(each.name, []).append(k)
        nets.append(named)
    elements = {e.name.line: (outline.subckts[e.owner].name.text, e.name.text)
                for e in outline.elements if e.owner >= 0}
    spans = [(s.name.line, s.end.line if s.end else s.name.line, s.name.text) for s in outline.subckts]

    out = []
    for finding in findings:
        line = getattr(finding, "line", 0) or 0
        subckt = getattr(finding, "subckt", None)
        instance = getattr(finding, "instance", None)
        net = getattr(finding, "net", None)
        if subckt is None and instance is None and net is None:
            if line in elements:
                subckt, instance = elements[line]
            else:
                # The innermost subcircuit around the line: the one that opens last before it.
                around = [(first, name) for first, last, name in spans if first <= line <= last]
                subckt = max(around)[1] if around else None
        target = Target()
        if subckt is not None and mapped.get(subckt, subckt) in by_name:
            target.sheet = by_name[mapped.get(subckt, subckt)]
            target.instance = instances[target.sheet].get(instance, -1) if instance else -1
            target.nets = list(nets[target.sheet].get(net, ())) if net else []
        out.append(target)
    return out

"""The findings of a run as text lines, JSON, SARIF 2.1.0 or GitHub workflow commands."""

from __future__ import annotations

import json
from collections.abc import Sequence
from typing import Any

from .. import __version__
from .findings import DOCS_URL, Finding
from .registry import RULES

__all__ = ["FORMATS", "render"]

FORMATS = ("text", "json", "sarif", "github")

Found = Sequence[tuple[str, Finding]]  # (path as shown, finding)


def _text(found: Found) -> str:
    lines = []
    for path, f in found:
        where = f"{path}:{f.line}:{f.col}" if f.col else f"{path}:{f.line}" if f.line else path
        lines.append(f"{where}: {f.code} {f.message}\n")
    return "".join(lines)


def _json(found: Found) -> str:
    return json.dumps([f.as_dict(path) for path, f in found], indent=1, ensure_ascii=False) + "\n"


def _region(f: Finding) -> dict[str, int]:
    region = {"startLine": f.line}
    if f.col:
        region.update(startColumn=f.col, endLine=f.end_line or f.line, endColumn=f.end_col or f.col)
    return region


def _uri(path: str) -> str:
    return "stdin" if path == "<stdin>" else path.replace("\\", "/")


def _sarif(found: Found) -> str:
    codes = sorted({f.code for _, f in found})
    index = {code: k for k, code in enumerate(codes)}
    rules = [{
        "id": code,
        "shortDescription": {"text": RULES[code].summary},
        "fullDescription": {"text": RULES[code].section("Why") or RULES[code].summary},
        "helpUri": RULES[code].url,
        "defaultConfiguration": {"level": RULES[code].severity},
    } for code in codes]
    results = []
    for path, f in found:
        location: dict[str, Any] = {"physicalLocation": {"artifactLocation": {"uri": _uri(path)}}}
        if f.line:
            location["physicalLocation"]["region"] = _region(f)
        result: dict[str, Any] = {"ruleId": f.code, "ruleIndex": index[f.code], "level": f.severity,
                        "message": {"text": f.message}, "locations": [location]}
        if f.fix:
            result["fixes"] = [{
                "description": {"text": RULES[f.code].section("Fix") or "the safe fix"},
                "artifactChanges": [{
                    "artifactLocation": {"uri": _uri(path)},
                    "replacements": [{
                        "deletedRegion": {"startLine": e.line, "startColumn": e.col,
                                          "endLine": e.end_line, "endColumn": e.end_col},
                        "insertedContent": {"text": e.text},
                    } for e in f.fix],
                }],
            }]
        results.append(result)
    log = {
        "$schema": "https://json.schemastore.org/sarif-2.1.0.json",
        "version": "2.1.0",
        "runs": [{"tool": {"driver": {"name": "tessel check", "version": __version__,
                                      "informationUri": DOCS_URL, "rules": rules}},
                  "results": results}],
    }
    return json.dumps(log, indent=1, ensure_ascii=False) + "\n"


def _escape(text: str, *, property: bool = False) -> str:
    text = text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")
    return text.replace(":", "%3A").replace(",", "%2C") if property else text


def _github(found: Found) -> str:
    lines = []
    for path, f in found:
        props = [f"file={_escape(path, property=True)}"]
        if f.line:
            props.append(f"line={f.line}")
            if f.col:
                props += [f"col={f.col}", f"endLine={f.end_line or f.line}", f"endColumn={f.end_col}"]
        props.append(f"title={f.code}")
        lines.append(f"::{f.severity} {','.join(props)}::{_escape(f'{f.code} {f.message}')}\n")
    return "".join(lines)


def render(found: Found, fmt: str) -> str:
    """The findings in format `fmt` (one of FORMATS)."""
    return {"text": _text, "json": _json, "sarif": _sarif, "github": _github}[fmt](found)

"""The documentation's examples do what the pages say."""

from __future__ import annotations

import json
import re
from pathlib import Path

import pytest

from tessel.core.spiceread import parse_oc_spice

ROOT = Path(__file__).resolve().parents[1]


def blocks(page: str, language: str) -> list[str]:
    return re.findall(rf"```{language}\n(.*?)```", (ROOT / "docs" / page).read_text(), re.S)


@pytest.fixture(autouse=True)
def generic_project(monkeypatch, tmp_path):
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(tmp_path))
    monkeypatch.chdir(ROOT)


def test_sax_example_runs_and_prints_the_ports(capsys):
    pytest.importorskip("sax")
    [example] = blocks("sax.md", "python")
    exec(compile(example, "docs/sax.md", "exec"), {})
    first = capsys.readouterr().out.splitlines()[0]
    assert first == "[('in', 'in'), ('in', 'out'), ('out', 'in'), ('out', 'out')]"


def test_format_page_shows_what_the_reader_returns():
    [shown] = blocks("netlist-format.md", "json")
    assert json.loads(shown) == parse_oc_spice(ROOT / "examples" / "mzi.sp")

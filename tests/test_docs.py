"""The documentation's examples do what the pages say."""

from __future__ import annotations

import json
import os
import re
import shutil
import subprocess
import sys
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


# Sessions shown in ```console blocks: "$ command" lines (a heredoc's lines belong to its
# command), each followed by its output, stdout and stderr as a terminal shows them, where
# "..." stands for text that changes from run to run (a time, a temporary folder).
PAGES = ["README.md", "docs/cli.md"]
MARK = "--- tessel docs test: end of command ---"


def sessions():
    for page in PAGES:
        text = (ROOT / page).read_text()
        for match in re.finditer(r"```console\n(.*?)```", text, re.S):
            line = text.count("\n", 0, match.start()) + 1
            yield pytest.param(page, match[1], id=f"{page}:{line}")


def steps(block):
    """The (command, output as shown) pairs of a session."""
    found, lines = [], block.splitlines(keepends=True)
    while lines:
        line = lines.pop(0)
        assert line.startswith("$ "), f"output before any command: {line!r}"
        command = line[2:]
        heredoc = re.search(r"<<\s*'?(\w+)'?", command)
        while heredoc and command.splitlines()[-1] != heredoc[1]:
            command += lines.pop(0)
        output = ""
        while lines and not lines[0].startswith("$ "):
            output += lines.pop(0)
        found.append((command, output))
    return found


def shown(output):
    return re.compile(".*?".join(map(re.escape, output.split("..."))))


@pytest.mark.parametrize(("page", "block"), list(sessions()))
def test_the_pages_command_lines_print_what_they_show(tmp_path, page, block):
    shutil.copytree(ROOT / "examples", tmp_path / "examples",
                    ignore=shutil.ignore_patterns(".tessel", "__pycache__"))
    session = steps(block)
    script = "".join(f"{command}echo '{MARK}'\n" for command, _ in session)
    env = {k: v for k, v in os.environ.items() if not k.startswith("TESSEL_")}
    env.update(PATH=f"{Path(sys.executable).parent}{os.pathsep}{env.get('PATH', '')}",
               PYTHONUNBUFFERED="1", COLUMNS="100")
    done = subprocess.run(["bash", "-c", script], cwd=tmp_path, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=600)
    outputs = done.stdout.split(f"{MARK}\n")
    for (command, expected), output in zip(session, outputs):
        assert shown(expected).fullmatch(output), f"$ {command}{output}"
    assert len(outputs) == len(session) + 1

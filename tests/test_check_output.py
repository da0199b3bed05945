"""tessel check's controls and outputs: selection, noqa, the project's configuration, formats,
folders, exit statuses, -q and the safe fixes."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

from tessel import settings
from tessel.check import CheckConfig, Document, check_outline, check_text, load_config
from tessel.check.formats import render

SCHEMA = Path(__file__).parent / "data" / "sarif-schema-2.1.0.json"
# Codes that need the reading: left out where a test is about something else, so that the
# command line does not import the circuit library.
OUTLINE_ONLY = ["--ignore", "TS100,TS121,TS122,TS123"]

NETLIST = """\
.subckt top a b
X1 a typo straight $ noqa: TS106
X2 b lone straight
X3 m n straight length=2.2k   $ noqa
X3 m n straight loss=0.005
+ width=1 * noqa: TS110
.ends
"""


def tessel(*args: str, cwd: Path | None = None, stdin: str | None = None) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "tessel", *args], capture_output=True, text=True,
                          cwd=cwd, input=stdin, env={**os.environ, "TESSEL_PDK": "generic"})


def codes(findings) -> list[tuple[int, str]]:
    return [(f.line, f.code) for f in findings]


def test_noqa_suppresses_on_its_statement_only():
    # X1's TS106 and all of line 4 are suppressed; the second X3's noqa on its + line
    # covers its first line, for TS110 only.
    assert codes(check_text(NETLIST, reading=False)) == [(3, "TS106"), (5, "TS105")]


@pytest.mark.parametrize(("options", "expected"), [
    ({"select": ["TS106"]}, [(3, "TS106")]),
    ({"select": ["TS10"], "ignore": ["TS105"]}, [(3, "TS106")]),
    ({"select": ["TS106"], "extend_select": ["TS105"]}, [(3, "TS106"), (5, "TS105")]),
    ({"ignore": ["ALL"]}, []),
])
def test_select_ignore_and_extend_select(options, expected):
    config = CheckConfig().with_options(**options)
    assert codes(check_outline(Document(NETLIST, config=config))) == expected


def test_unknown_codes_are_refused():
    with pytest.raises(ValueError, match="'TS999' is no check code"):
        CheckConfig().with_options(select=["TS999"])


@pytest.fixture
def project(tmp_path, monkeypatch):
    monkeypatch.delenv(settings.PROJECT_DIR_ENV, raising=False)
    (tmp_path / "legacy").mkdir()
    (tmp_path / "pyproject.toml").write_text(
        '[tool.tessel]\npdk = "generic"\n[tool.tessel.check]\nignore = ["TS105"]\n'
        'per-file-ignores = { "legacy/*.sp" = ["TS106"] }\n')
    return tmp_path


def test_the_projects_configuration_selects_per_file(project):
    assert codes(check_text(NETLIST, project / "new.sp", reading=False)) == [(3, "TS106")]  # no TS105
    # A buffer that is not on disk takes its configuration from its path all the same.
    assert codes(check_text(NETLIST, project / "legacy" / "old.sp", reading=False)) == []


@pytest.mark.parametrize(("table", "message"), [
    ('[tool.tessel]\npdks = "x"\n', r"\[tool.tessel\] has no setting 'pdks'"),
    ('[tool.tessel.check]\nignor = ["TS105"]\n', r"\[tool.tessel.check\] has no setting 'ignor'"),
    ('[tool.tessel.check]\nignore = ["TS9"]\n', r"'TS9' is no check code"),
])
def test_unknown_settings_are_errors(tmp_path, monkeypatch, table, message):
    monkeypatch.delenv(settings.PROJECT_DIR_ENV, raising=False)
    (tmp_path / "pyproject.toml").write_text(table)
    with pytest.raises(settings.ProjectConfigError, match=message):
        load_config(tmp_path / "a.sp")


def findings_of_every_kind():
    text = ".SUBCKT top a\nX1 a typo straight\n.ends\n.subckt t a\nX1 a typo straight\n.ends\n"
    return [("net,1.sp", f) for f in check_text(text, params={"unused": 1}, reading=False)]


def test_sarif_output_validates_against_the_published_schema():
    jsonschema = pytest.importorskip("jsonschema")
    log = json.loads(render(findings_of_every_kind(), "sarif"))
    jsonschema.Draft4Validator(json.loads(SCHEMA.read_text())).validate(log)
    results = log["runs"][0]["results"]
    assert {r["ruleId"] for r in results} == {"TS101", "TS102", "TS106", "TS113", "TS114"}
    assert any("fixes" in r for r in results)


def test_github_output_is_one_workflow_command_per_finding():
    lines = render(findings_of_every_kind(), "github").splitlines()
    assert lines[0].startswith("::warning file=net%2C1.sp,title=TS113::TS113 parameter 'unused'")
    assert lines[1].startswith("::error file=net%2C1.sp,line=1,col=1,endLine=1,endColumn=8,title=TS101::TS101 ")


def test_folders_exit_statuses_and_unreadable_files(tmp_path):
    (tmp_path / "deep" / ".hidden").mkdir(parents=True)
    (tmp_path / "deep" / "excluded").mkdir()
    (tmp_path / "pyproject.toml").write_text('[tool.tessel.check]\nexclude = ["excluded"]\n')
    bad = ".subckt top a\nX1 a typo straight\n.ends\n"
    for name in ("deep/a.cir", "deep/b.SP", "deep/.hidden/c.sp", "deep/excluded/d.sp", "deep/e.txt"):
        (tmp_path / name).write_text(bad)
    done = tessel("check", "deep", "missing.sp", "--format", "json", *OUTLINE_ONLY, cwd=tmp_path)
    assert done.returncode == 2 and "missing.sp" in done.stderr
    found = json.loads(done.stdout)
    assert sorted({(f["path"], f["code"]) for f in found}) == [
        ("deep/a.cir", "TS106"), ("deep/b.SP", "TS106"), ("missing.sp", "TS132")]
    assert tessel("check", "deep/a.cir", "-q", *OUTLINE_ONLY, cwd=tmp_path).stdout == ""
    clean = tessel("check", "-", *OUTLINE_ONLY, stdin=".subckt t a b\nX1 a b straight\n.ends\n")
    assert (clean.returncode, clean.stdout) == (0, "")


def test_fix_rewrites_only_what_it_fixes(tmp_path):
    before = b"\xef\xbb\xbf* crlf\r\n.SUBCKT top a b\r\nX1 a b straight $ .ENDS here\r\n.ENDS\r\n\r\n.end\r\n"
    after = b"* crlf\r\n.subckt top a b\r\nX1 a b straight $ .ENDS here\r\n.ends\r\n\r\n"
    path = tmp_path / "old.sp"
    path.write_bytes(before)
    diff = tessel("check", "--diff", "old.sp", *OUTLINE_ONLY, cwd=tmp_path)
    assert diff.returncode == 1 and "+.subckt top a b" in diff.stdout and path.read_bytes() == before
    done = tessel("check", "--fix", "old.sp", *OUTLINE_ONLY, cwd=tmp_path)
    assert (done.returncode, done.stdout) == (0, ""), done.stderr
    assert path.read_bytes() == after

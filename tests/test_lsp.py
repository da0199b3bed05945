"""tessel lsp, driven over stdio by pytest-lsp as an editor would drive it.

One server serves the module, in a project whose configuration ignores TS107; its reading
process imports sax once.  Positions are UTF-16, as VS Code counts them.
"""

from __future__ import annotations

import asyncio
import itertools
import os
import re
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

pytest.importorskip("pytest_lsp")

import pytest_lsp  # noqa: E402
from lsprotocol import types as t  # noqa: E402
from pytest_lsp import ClientServerConfig, LanguageClient, client_capabilities  # noqa: E402

from tessel.check.files import SUFFIXES  # noqa: E402

pytestmark = [
    pytest.mark.asyncio(loop_scope="module"),
    # pygls still calls asyncio.iscoroutinefunction, deprecated from CPython 3.14 on.
    pytest.mark.filterwarnings("ignore:.*iscoroutinefunction.*:DeprecationWarning"),
]

SERVER = [sys.executable, "-m", "tessel", "lsp"]
PUBLISHED = t.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS
CORPUS = Path(__file__).resolve().parents[2] / "shared" / "corpus" / "files"
# Waiting for the first reading includes importing sax, which takes a while on a busy machine.
READING = 240.0

# Line 1's unused port is ignored by the project; line 4's nets by its noqa.  Line 5 has a
# character beyond the BMP: two UTF-16 code units.
MISTAKES = """\
* known mistakes
.subckt top in out spare
X1 in mid straight length=0.5u
X2 mid out strait
X3 nn dangling straight $ noqa: TS106
X4 \U0001d707net q straight coupling=0.005
.ends
"""
FOUND = {("TS121", 3, 11, 3, 17), ("TS106", 5, 3, 5, 8), ("TS106", 5, 9, 5, 10), ("TS110", 5, 29, 5, 34)}

NAVIGATION = """\
.subckt arm a b
R1 a m r=10
R2 m b
.ends
.subckt top in out
X1 in m arm
X2 m out arm
.ends
"""


@pytest.fixture(scope="module")
def project(tmp_path_factory: pytest.TempPathFactory) -> Path:
    folder = tmp_path_factory.mktemp("lsp")
    (folder / "pyproject.toml").write_text(
        '[project]\nname = "lsp_test"\n\n[tool.tessel.check]\nignore = ["TS107"]\n', encoding="utf-8")
    return folder


class Published:
    """Every publication of diagnostics: their versions by URI, as they come."""

    def __init__(self, client: LanguageClient) -> None:
        self.versions: dict[str, list[int | None]] = {}
        self._came = asyncio.Event()
        client.protocol.fm.features.pop(PUBLISHED)

        @client.feature(PUBLISHED)
        def record(params: t.PublishDiagnosticsParams) -> None:
            client.diagnostics[params.uri] = params.diagnostics
            self.versions.setdefault(params.uri, []).append(params.version)
            self._came.set()

    async def until(self, holds, timeout: float = READING) -> None:
        """Wait until `holds()`."""
        loop = asyncio.get_running_loop()
        deadline = loop.time() + timeout
        while not holds():
            self._came.clear()
            await asyncio.wait_for(self._came.wait(), deadline - loop.time())


@pytest_lsp.fixture(config=ClientServerConfig(server_command=SERVER), scope="module")
async def client(lsp_client: LanguageClient, project: Path):
    lsp_client.published = Published(lsp_client)
    lsp_client.initialize_result = await lsp_client.initialize_session(t.InitializeParams(
        capabilities=client_capabilities("visual-studio-code"), root_uri=project.as_uri()))
    yield
    await lsp_client.shutdown_session()


def ident(uri: str) -> t.TextDocumentIdentifier:
    return t.TextDocumentIdentifier(uri=uri)


def at(line: int, character: int) -> t.Position:
    return t.Position(line=line, character=character)


def spans(diagnostics) -> set[tuple[str, int, int, int, int]]:
    return {(d.code, d.range.start.line, d.range.start.character, d.range.end.line, d.range.end.character)
            for d in diagnostics}


async def diagnosed(client: LanguageClient, uri: str, until=lambda found: True):
    """The diagnostics of `uri` once `until` holds for them."""
    await client.published.until(lambda: uri in client.diagnostics and until(client.diagnostics[uri]))
    return client.diagnostics[uri]


_names = itertools.count(1)


async def opened(client: LanguageClient, project: Path, name: str, text: str, until=lambda found: True):
    """The URI of a new buffer of `text`, once its diagnostics (those `until` waits for) came."""
    uri = (project / f"{name}-{next(_names)}.sp").as_uri()
    client.text_document_did_open(t.DidOpenTextDocumentParams(
        text_document=t.TextDocumentItem(uri=uri, language_id="spice", version=1, text=text)))
    await diagnosed(client, uri, until)
    return uri


def read(found) -> bool:
    """Whether the reading's findings have come (the reading found an unknown component)."""
    return any(d.code == "TS121" for d in found)


def edited(text: str, edits: list[t.TextEdit]) -> str:
    """`text` with protocol edits made (UTF-16 positions, on an ASCII text here)."""
    lines = text.splitlines(keepends=True)
    starts = [0]
    for line in lines:
        starts.append(starts[-1] + len(line))
    offset = lambda p: starts[p.line] + p.character  # noqa: E731
    for e in sorted(edits, key=lambda e: offset(e.range.start), reverse=True):
        text = text[: offset(e.range.start)] + e.new_text + text[offset(e.range.end):]
    return text


async def test_initialize_offers_every_feature(client: LanguageClient):
    capabilities = client.initialize_result.capabilities
    assert capabilities.position_encoding == t.PositionEncodingKind.Utf16
    assert capabilities.text_document_sync.change == t.TextDocumentSyncKind.Incremental
    for provider in ("hover_provider", "definition_provider", "references_provider", "rename_provider",
                     "document_symbol_provider", "completion_provider", "code_action_provider"):
        assert getattr(capabilities, provider), provider


async def test_diagnostics_of_an_open_netlist(client: LanguageClient, project: Path):
    uri = await opened(client, project, "mistakes", MISTAKES, read)
    found = client.diagnostics[uri]
    assert spans(found) == FOUND
    unknown = next(d for d in found if d.code == "TS121")
    assert unknown.severity == t.DiagnosticSeverity.Error
    assert unknown.code_description.href.endswith("#ts121")
    assert "did you mean 'straight'?" in unknown.message


async def test_an_edit_changes_the_diagnostics(client: LanguageClient, project: Path):
    uri = await opened(client, project, "edited", MISTAKES, read)
    client.text_document_did_change(t.DidChangeTextDocumentParams(
        text_document=t.VersionedTextDocumentIdentifier(uri=uri, version=2),
        content_changes=[
            t.TextDocumentContentChangePartial(range=t.Range(start=at(5, 19), end=at(5, 34)), text=""),
            t.TextDocumentContentChangePartial(range=t.Range(start=at(3, 11), end=at(3, 17)), text="straight"),
        ]))
    found = await diagnosed(client, uri, lambda found: not read(found))
    assert spans(found) == {("TS106", 5, 3, 5, 8), ("TS106", 5, 9, 5, 10)}


@pytest.mark.parametrize(("position", "said"), [
    (at(2, 1), ["instance of `straight`", "net `in` on port `o1`", "the result holds **0.5** (micrometres)"]),
    (at(3, 4), ["net of subcircuit `top`, 2 terminals", "`X1`, port `o2`, line 3", "`strait` has no known ports"]),
    (at(1, 9), ["subcircuit (lines 2-7)", "Ports: `in`, `out`, `spare`"]),
    (at(2, 28), ["`0.5u` reads as the number 5e-07 (scale suffix `u`); the metre rule"]),
    (at(5, 23), ["`coupling=0.005`", "the result holds **5000.0** (micrometres)"]),
], ids=["instance", "net", "subcircuit", "scaled value", "metre rule"])
async def test_hover(client: LanguageClient, project: Path, position: t.Position, said: list[str]):
    uri = await opened(client, project, "hover", MISTAKES, read)
    hover = await client.text_document_hover_async(t.HoverParams(text_document=ident(uri), position=position))
    for words in said:
        assert words in hover.contents.value


async def test_definition_and_references(client: LanguageClient, project: Path):
    uri = await opened(client, project, "navigation", NAVIGATION)
    found = await client.text_document_definition_async(t.DefinitionParams(text_document=ident(uri), position=at(5, 10)))
    assert [(d.range.start.line, d.range.start.character, d.range.end.character) for d in found] == [(0, 8, 11)]

    async def references(line: int, character: int) -> list[tuple[int, int, int]]:
        found = await client.text_document_references_async(t.ReferenceParams(
            text_document=ident(uri), position=at(line, character),
            context=t.ReferenceContext(include_declaration=True)))
        return sorted((r.range.start.line, r.range.start.character, r.range.end.character) for r in found)

    assert await references(1, 5) == [(1, 5, 6), (2, 3, 4)]  # m of arm, not m of top
    assert await references(0, 9) == [(0, 8, 11), (5, 8, 11), (6, 9, 12)]


async def test_document_symbols(client: LanguageClient, project: Path):
    uri = await opened(client, project, "symbols", NAVIGATION)
    found = await client.text_document_document_symbol_async(t.DocumentSymbolParams(text_document=ident(uri)))
    assert [(s.name, s.kind, [(c.name, c.kind) for c in s.children]) for s in found] == [
        ("arm", t.SymbolKind.Module, [("a", t.SymbolKind.Interface), ("b", t.SymbolKind.Interface),
                                      ("R1", t.SymbolKind.Object), ("m", t.SymbolKind.Variable),
                                      ("R2", t.SymbolKind.Object)]),
        ("top", t.SymbolKind.Module, [("in", t.SymbolKind.Interface), ("out", t.SymbolKind.Interface),
                                      ("X1", t.SymbolKind.Object), ("m", t.SymbolKind.Variable),
                                      ("X2", t.SymbolKind.Object)]),
    ]
    assert (found[0].range.start.line, found[0].range.end.line) == (0, 3)


@pytest.mark.parametrize(("position", "name", "renamed"), [
    (at(1, 5), "n", NAVIGATION.replace("R1 a m", "R1 a n").replace("R2 m b", "R2 n b")),
    (at(5, 1), "X9", NAVIGATION.replace("X1 in", "X9 in")),
    (at(0, 9), "mzi_arm", NAVIGATION.replace(" arm", " mzi_arm")),
], ids=["net", "instance", "subcircuit"])
async def test_rename(client: LanguageClient, project: Path, position: t.Position, name: str, renamed: str):
    uri = await opened(client, project, "rename", NAVIGATION)
    edit = await client.text_document_rename_async(t.RenameParams(text_document=ident(uri), position=position,
                                                                   new_name=name))
    assert edited(NAVIGATION, edit.changes[uri]) == renamed


async def test_rename_that_would_change_the_circuit_is_refused(client: LanguageClient, project: Path):
    uri = await opened(client, project, "refused", NAVIGATION)
    for position, name in ((at(1, 1), "X1"), (at(1, 5), "a")):  # a resistor made an X; two nets joined
        with pytest.raises(Exception, match="would change its component|is taken"):
            await client.text_document_rename_async(t.RenameParams(text_document=ident(uri), position=position,
                                                                   new_name=name))


@pytest.mark.parametrize(("line", "present", "absent"), [
    ("X2 mid ", {"in", "out", "straight"}, {"top", "length="}),
    ("X2 mid out straight l", {"length="}, {"in", "straight"}),
], ids=["nets and components", "setting names"])
async def test_completion(client: LanguageClient, project: Path, line: str, present: set[str], absent: set[str]):
    text = f".subckt top in out\nX1 in mid straight length=10\n{line}\n.ends\n"
    uri = await opened(client, project, "completion", text)
    await asyncio.wait_for(_ready(client, project), READING)
    found = await client.text_document_completion_async(t.CompletionParams(
        text_document=ident(uri), position=at(2, len(line))))
    labels = {item.label for item in found.items}
    assert present <= labels and not absent & labels


async def _ready(client: LanguageClient, project: Path) -> None:
    """Wait until the project's reader is ready: the mistakes file has been read."""
    await opened(client, project, "ready", MISTAKES, read)


ACTIONS = """\
.subckt top a b
X1 a typo straight
X2 typo2 b straight $ note
.ends
.end
"""


@pytest.mark.parametrize(("line", "title", "done"), [
    (4, "TS101: remove '.end'", ACTIONS.replace("\n.end\n", "\n")),
    (1, "Suppress TS106 on this line", ACTIONS.replace("typo straight", "typo straight $ noqa: TS106")),
    (2, "Suppress TS106 on this line", ACTIONS.replace("$ note", "$ note noqa: TS106")),
], ids=["safe fix", "suppress", "suppress in a comment"])
async def test_code_actions(client: LanguageClient, project: Path, line: int, title: str, done: str):
    uri = await opened(client, project, "actions", ACTIONS)
    found = await client.text_document_code_action_async(t.CodeActionParams(
        text_document=ident(uri), range=t.Range(start=at(line, 0), end=at(line, 1)),
        context=t.CodeActionContext(diagnostics=[])))
    action = next(a for a in found if a.title == title)
    assert edited(ACTIONS, action.edit.changes[uri]) == done


async def test_the_editor_setups_know_every_netlist_suffix():
    page = (Path(__file__).resolve().parents[1] / "docs" / "editors.md").read_text(encoding="utf-8")
    helix = tomllib.loads(re.search(r"```toml\n(.*?)```", page, re.S)[1])["language"][0]["file-types"]
    neovim = re.findall(r"(\w+) = \"spice\"", re.search(r"```lua\n(.*?)```", page, re.S)[1])
    emacs = re.search(r"\\\\\.\\\\\((.*?)\\\\\)", page)[1].split("\\\\|")
    vscode = re.findall(r'"\*\.(\w+)": "spice"', page)
    for listed in (helix, neovim, emacs, vscode):
        assert sorted(f".{s}" for s in listed) == sorted(SUFFIXES)


async def test_shutdown_and_the_end_of_stdin_end_the_server():
    """After shutdown and exit the status is 0; when stdin closes the server ends too, and
    its reading process with it."""
    initialize = b'{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}}'
    initialized = b'{"jsonrpc":"2.0","method":"initialized","params":{}}'
    shutdown = b'{"jsonrpc":"2.0","id":2,"method":"shutdown"}'
    exit_ = b'{"jsonrpc":"2.0","method":"exit"}'
    frame = lambda body: b"Content-Length: %d\r\n\r\n%s" % (len(body), body)  # noqa: E731
    for messages in ([initialize, initialized, shutdown, exit_], [initialize, initialized]):
        done = await asyncio.to_thread(subprocess.run, SERVER, input=b"".join(map(frame, messages)),
                                       capture_output=True, timeout=60)
        assert done.returncode == 0 and b"Traceback" not in done.stderr and b"Error" not in done.stderr, done.stderr


# Buffers an editor may hold: binary, huge, half typed.
ODD = ["\x00\x01\xff\ufffd" * 5000, "X" * 1_000_000, ".subckt", ".subckt top a\nX1 a='", "+\n+ +\n\x0c\u2028",
       "\ud800 lone surrogate", "R1 a b $ noqa: \n" * 3]


@pytest.mark.skipif(not CORPUS.is_dir(), reason="the corpus of real SPICE files is not beside the project")
async def test_every_corpus_file_opened_and_edited_once(client: LanguageClient, project: Path):
    """Diagnostics or nothing for each file and for odd buffers, and no failure logged.

    The 20 files over 256 KB (27 of the corpus's 28 MB) take minutes: with
    TESSEL_LSP_CORPUS=all they are opened too."""
    limit = None if os.environ.get("TESSEL_LSP_CORPUS") == "all" else 256 * 1024
    files = [p for p in sorted(CORPUS.rglob("*")) if p.is_file() and (limit is None or p.stat().st_size <= limit)]
    texts = [p.read_bytes().decode("utf-8", "replace") for p in files]
    before = len(client.log_messages)
    for n, text in enumerate(texts + ODD):
        uri = (project / f"corpus-{n}.sp").as_uri()
        middle = at(text.count("\n") // 2, 1)
        client.text_document_did_open(t.DidOpenTextDocumentParams(
            text_document=t.TextDocumentItem(uri=uri, language_id="spice", version=1, text=text)))
        client.text_document_did_change(t.DidChangeTextDocumentParams(
            text_document=t.VersionedTextDocumentIdentifier(uri=uri, version=2),
            content_changes=[t.TextDocumentContentChangePartial(range=t.Range(start=middle, end=middle), text="x")]))
        await client.published.until(lambda: 2 in client.published.versions.get(uri, ()))
        await client.text_document_hover_async(t.HoverParams(text_document=ident(uri), position=middle))
        client.text_document_did_close(t.DidCloseTextDocumentParams(text_document=ident(uri)))
    failures = [m.message for m in client.log_messages[before:] if m.type == t.MessageType.Error]
    assert failures == []

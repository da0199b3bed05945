"""The protocol's requests and notifications, each turned into a call of the module that
knows the answer, with positions converted by the buffer's `Text` on the way in and out."""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path

from lsprotocol import types as t
from pygls.exceptions import JsonRpcInvalidParams
from pygls.uris import to_fs_path

from tessel.core._outline import Word

from . import actions, completion, hover, navigation
from .analysis import Analysis
from .diagnostics import diagnostic
from .index import Hit, Index
from .server import TesselServer
from .text import Text

__all__ = ["register"]

_SYMBOL_KINDS = {"subckt": t.SymbolKind.Module, "port": t.SymbolKind.Interface,
                 "instance": t.SymbolKind.Object, "net": t.SymbolKind.Variable}
_ITEM_KINDS = {completion.NET: t.CompletionItemKind.Variable, completion.COMPONENT: t.CompletionItemKind.Class,
               completion.SUBCKT: t.CompletionItemKind.Module, completion.KEY: t.CompletionItemKind.Property}


@dataclass(frozen=True)
class Spot:
    """What stands at a position of a buffer."""

    uri: str
    analysis: Analysis
    index: Index
    hit: Hit

    @property
    def text(self) -> Text:
        return self.analysis.text

    def locations(self, words: list[Word]) -> list[t.Location] | None:
        return [t.Location(uri=self.uri, range=self.text.range(w)) for w in words] or None


def _root(params: t.InitializeParams) -> Path | None:
    uri = params.root_uri or (params.workspace_folders[0].uri if params.workspace_folders else None)
    path = to_fs_path(uri) if uri else params.root_path
    return Path(path) if path else None


def _markup(server: TesselServer, markdown: str) -> t.MarkupContent:
    hover_caps = getattr(server.client_capabilities.text_document, "hover", None)
    formats = getattr(hover_caps, "content_format", None) or [t.MarkupKind.Markdown]
    if t.MarkupKind.Markdown in formats:
        return t.MarkupContent(kind=t.MarkupKind.Markdown, value=markdown)
    return t.MarkupContent(kind=t.MarkupKind.PlainText, value=markdown.replace("**", "").replace("`", ""))


def register(server: TesselServer) -> None:
    """Register every feature on `server`."""
    _lifecycle(server)
    _buffers(server)
    _requests(server)


def _lifecycle(server: TesselServer) -> None:
    root: list[Path | None] = [None]

    @server.feature(t.INITIALIZE)
    def initialize(params: t.InitializeParams) -> None:
        root[0] = _root(params)

    @server.feature(t.INITIALIZED)
    def initialized(params: t.InitializedParams) -> None:
        # The reader and sax are imported now, so that the first reading is quick.
        folder = root[0]
        server.readers.for_folder(folder if folder is not None and folder.is_dir() else None)

    @server.feature(t.SHUTDOWN)
    def shutdown(params: None) -> None:
        # Answered at once: a client may send exit right after, without waiting.
        server.close()

    @server.feature(t.EXIT)
    async def exit_(params: None) -> None:
        await server.close()


def _buffers(server: TesselServer) -> None:
    @server.feature(t.TEXT_DOCUMENT_DID_OPEN)
    def did_open(params: t.DidOpenTextDocumentParams) -> None:
        document = params.text_document
        if server.serves(document):
            server.buffers.open(document.uri, server.path_of(document.uri),
                                Text(document.text, server.encoding), document.version)

    @server.feature(t.TEXT_DOCUMENT_DID_CHANGE)
    def did_change(params: t.DidChangeTextDocumentParams) -> None:
        document = params.text_document
        server.buffers.change(document.uri, list(params.content_changes), document.version)

    @server.feature(t.TEXT_DOCUMENT_DID_SAVE, t.SaveOptions(include_text=False))
    def did_save(params: t.DidSaveTextDocumentParams) -> None:
        server.buffers.save(params.text_document.uri)

    @server.feature(t.TEXT_DOCUMENT_DID_CLOSE)
    def did_close(params: t.DidCloseTextDocumentParams) -> None:
        if server.buffers.close(params.text_document.uri) is not None:
            server.clear(params.text_document.uri)


def _requests(server: TesselServer) -> None:  # noqa: C901 - one handler per request
    async def spot(uri: str, position: t.Position) -> Spot | None:
        analysis = await server.buffers.current(uri)
        if analysis is None or analysis.index is None:
            return None
        hit = analysis.index.at(*analysis.text.point(position))
        return Spot(uri, analysis, analysis.index, hit) if hit is not None else None

    @server.feature(t.TEXT_DOCUMENT_HOVER)
    async def on_hover(params: t.HoverParams) -> t.Hover | None:
        found = await spot(params.text_document.uri, params.position)
        buffer = server.buffers.get(params.text_document.uri)
        if found is None or buffer is None:
            return None
        table, subckts = buffer.ports, found.analysis.doc.subckt_ports

        def ports_of(component: str) -> tuple[str, ...] | None:
            return table[component] if component in table else subckts.get(component, hover.NOT_YET)

        said = hover.hover_text(found.index, found.hit, ports_of)
        if said is None:
            return None
        return t.Hover(contents=_markup(server, said), range=found.text.range(found.hit.word))

    @server.feature(t.TEXT_DOCUMENT_DEFINITION)
    async def on_definition(params: t.DefinitionParams) -> list[t.Location] | None:
        found = await spot(params.text_document.uri, params.position)
        return found.locations(navigation.definition(found.index, found.hit)) if found else None

    @server.feature(t.TEXT_DOCUMENT_REFERENCES)
    async def on_references(params: t.ReferenceParams) -> list[t.Location] | None:
        found = await spot(params.text_document.uri, params.position)
        if found is None:
            return None
        return found.locations(navigation.references(found.index, found.hit, params.context.include_declaration))

    @server.feature(t.TEXT_DOCUMENT_DOCUMENT_SYMBOL)
    async def on_symbols(params: t.DocumentSymbolParams) -> list[t.DocumentSymbol] | None:
        analysis = await server.buffers.current(params.text_document.uri)
        if analysis is None or analysis.index is None:
            return None
        text = analysis.text

        def symbol(s: navigation.Symbol) -> t.DocumentSymbol:
            selection = text.range(s.word)
            whole = text.range(s.span) if s.span is not None else selection
            if s.end is not None:
                whole = t.Range(start=whole.start, end=text.range(s.end).end)
            return t.DocumentSymbol(name=s.name, detail=s.detail, kind=_SYMBOL_KINDS[s.kind], range=whole,
                                    selection_range=selection, children=[symbol(c) for c in s.children])

        return [symbol(s) for s in navigation.symbols(analysis.index)]

    @server.feature(t.TEXT_DOCUMENT_PREPARE_RENAME)
    async def on_prepare_rename(params: t.PrepareRenameParams) -> t.PrepareRenamePlaceholder | None:
        found = await spot(params.text_document.uri, params.position)
        if found is None or not navigation.renamable(found.hit, found.index):
            return None
        return t.PrepareRenamePlaceholder(range=found.text.range(found.hit.word), placeholder=found.hit.word.text)

    @server.feature(t.TEXT_DOCUMENT_RENAME)
    async def on_rename(params: t.RenameParams) -> t.WorkspaceEdit | None:
        found = await spot(params.text_document.uri, params.position)
        if found is None:
            return None
        try:
            words = navigation.rename(found.index, found.hit, params.new_name)
        except ValueError as e:
            raise JsonRpcInvalidParams(str(e)) from None
        edits = [t.TextEdit(range=found.text.range(w), new_text=params.new_name) for w in words]
        return t.WorkspaceEdit(changes={found.uri: edits})

    @server.feature(t.TEXT_DOCUMENT_COMPLETION, t.CompletionOptions())
    async def on_completion(params: t.CompletionParams) -> t.CompletionList | None:
        uri = params.text_document.uri
        buffer = server.buffers.get(uri)
        if buffer is None:
            return None
        # The latest analysis will do: what a line may hold changes little as it is typed.
        analysis = server.buffers.latest(uri)
        if analysis is None or analysis.index is None:
            analysis = await server.buffers.current(uri)
        if analysis is None or analysis.index is None:
            return None
        text = buffer.text
        ready = server.readers.for_path(buffer.path).ready
        components = ready.result().components if ready.done() else ()
        found = completion.complete(analysis.index, text, *text.point(params.position), components)
        if found is None:
            return None
        span = t.Range(start=text.position(text.raw_offset(found.line, found.start)), end=params.position)
        items = [t.CompletionItem(label=i.label, kind=_ITEM_KINDS[i.kind],
                                  text_edit=t.TextEdit(range=span, new_text=i.insert)) for i in found.items]
        return t.CompletionList(is_incomplete=not found.complete or not ready.done(), items=items)

    @server.feature(t.TEXT_DOCUMENT_CODE_ACTION, t.CodeActionOptions(
        code_action_kinds=[t.CodeActionKind.QuickFix, t.CodeActionKind.SourceFixAll]))
    async def on_code_action(params: t.CodeActionParams) -> list[t.CodeAction] | None:
        uri = params.text_document.uri
        analysis = await server.buffers.current(uri)
        if analysis is None:
            return None
        text = analysis.text
        first, last = text.point(params.range.start)[0], text.point(params.range.end)[0]
        wanted = [str(getattr(k, "value", k)) for k in params.context.only or ()]
        made = []
        for a in actions.actions(text, analysis.doc.outline, analysis.findings, first, last):
            if wanted and not any(a.kind.startswith(w) for w in wanted):
                continue
            edits = [t.TextEdit(range=t.Range(start=text.position(s), end=text.position(e)), new_text=new)
                     for s, e, new in a.edits]
            about = [diagnostic(text, f) for f in a.findings] if a.kind == actions.QUICKFIX else None
            made.append(t.CodeAction(title=a.title, kind=t.CodeActionKind(a.kind), diagnostics=about,
                                     is_preferred=a.preferred or None,
                                     edit=t.WorkspaceEdit(changes={uri: edits})))
        return made

"""The language server: its protocol, its state, and serving it over stdio.

Buffers are kept by `tessel.lsp.documents` (with the protocol's own line breaks: the
generic workspace of pygls would split lines where `str.splitlines` does), so the protocol
here leaves pygls's text synchronisation out.  Positions are counted in code points when
the client offers that (``utf-32``), else in UTF-8 bytes when offered, else in UTF-16 code
units, the protocol's default.
"""

from __future__ import annotations

import asyncio
import contextlib
import itertools
import logging
import os
import sys
import threading
import traceback
import warnings
from collections.abc import Callable, Generator
from pathlib import Path
from typing import IO, Any, BinaryIO

from lsprotocol import types
from pygls.exceptions import JsonRpcInvalidParams
from pygls.io_ import StdinAsyncReader, StdoutWriter, run_async
from pygls.lsp.server import LanguageServer
from pygls.protocol import LanguageServerProtocol
from pygls.protocol.language_server import lsp_method
from pygls.uris import to_fs_path

from tessel import __version__
from tessel.check.files import SUFFIXES

from .analysis import Analysis
from .documents import Buffer, Buffers
from .readings import Readers
from .text import UTF8, UTF16, UTF32

__all__ = ["TesselServer", "serve"]

logger = logging.getLogger(__name__)

_PREFERRED = (UTF32, UTF8)


class _Protocol(LanguageServerProtocol):
    encoding = UTF16

    @lsp_method(types.INITIALIZE)
    def lsp_initialize(self, params: types.InitializeParams) -> Generator[Any, Any, types.InitializeResult]:
        general = params.capabilities.general
        offered = [str(getattr(e, "value", e)) for e in (general.position_encodings or [])] if general else []
        chosen = next((e for e in _PREFERRED if e in offered), UTF16)
        if general is not None and offered:
            general.position_encodings = [types.PositionEncodingKind(chosen)]
        self.encoding = chosen
        return (yield from super().lsp_initialize(params))

    def _user(self, method: str, params: Any) -> Generator[Any, Any, None]:
        if (handler := self.fm.features.get(method)) is not None:
            yield handler, (params,), None

    @lsp_method(types.TEXT_DOCUMENT_DID_OPEN)
    def lsp_text_document__did_open(self, params: types.DidOpenTextDocumentParams) -> Generator[Any, Any, None]:
        yield from self._user(types.TEXT_DOCUMENT_DID_OPEN, params)

    @lsp_method(types.TEXT_DOCUMENT_DID_CHANGE)
    def lsp_text_document__did_change(self, params: types.DidChangeTextDocumentParams
                                      ) -> Generator[Any, Any, None]:
        yield from self._user(types.TEXT_DOCUMENT_DID_CHANGE, params)

    @lsp_method(types.TEXT_DOCUMENT_DID_CLOSE)
    def lsp_text_document__did_close(self, params: types.DidCloseTextDocumentParams) -> Generator[Any, Any, None]:
        yield from self._user(types.TEXT_DOCUMENT_DID_CLOSE, params)


class TesselServer(LanguageServer):
    """The server's state: the open netlists and the reading processes."""

    protocol: _Protocol

    def __init__(self) -> None:
        super().__init__("tessel", __version__, protocol_cls=_Protocol,
                         text_document_sync_kind=types.TextDocumentSyncKind.Incremental)
        self.readers = Readers(self.log, self.progress_of)
        self.buffers = Buffers(self.readers, self.publish, self.log)
        self._tokens = itertools.count(1)
        self._reporting = False
        self._closing: asyncio.Future[None] | None = None

    @property
    def encoding(self) -> str:
        return self.protocol.encoding

    @staticmethod
    def path_of(uri: str) -> Path | None:
        path = to_fs_path(uri) if uri.startswith("file:") else None
        return Path(path) if path else None

    @classmethod
    def serves(cls, document: types.TextDocumentItem) -> bool:
        """Whether the buffer is a netlist: by the suffixes ``tessel check`` knows, or for a
        buffer of no file, by its language."""
        path = cls.path_of(document.uri)
        if path is not None:
            return path.suffix.lower() in SUFFIXES
        return document.language_id.lower() == "spice"

    def log(self, message: str, level: int) -> None:
        self.window_log_message(types.LogMessageParams(type=types.MessageType(level), message=message))

    def publish(self, buffer: Buffer, analysis: Analysis) -> None:
        self.text_document_publish_diagnostics(types.PublishDiagnosticsParams(
            uri=buffer.uri, version=buffer.version, diagnostics=analysis.diagnostics()))

    def clear(self, uri: str) -> None:
        self.text_document_publish_diagnostics(types.PublishDiagnosticsParams(uri=uri, diagnostics=[]))

    def progress_of(self, title: str) -> Callable[[], None]:
        """Show `title` as work in progress, if the client can; the function returned ends it."""
        if not getattr(getattr(self.client_capabilities, "window", None), "work_done_progress", False):
            return lambda: None
        token = f"tessel-{next(self._tokens)}"
        progress = self.work_done_progress
        progress.create(token)
        progress.begin(token, types.WorkDoneProgressBegin(title=title))
        return lambda: progress.end(token, types.WorkDoneProgressEnd())

    def close(self) -> asyncio.Future[None]:
        """End the reading processes and the background work, once."""
        if self._closing is None:
            self._closing = asyncio.ensure_future(self.buffers.close_all())
        return self._closing

    def report_server_error(self, error: Exception, source: Any) -> None:
        """Every failure, also of a request (which is answered as an error as well), goes to
        the client's log with its traceback."""
        if self._reporting or isinstance(error, JsonRpcInvalidParams):
            return  # telling the client failed too (it is gone), or the answer says it all
        data = getattr(error, "data", None)
        where = "".join(data["traceback"]) if isinstance(data, dict) and "traceback" in data else ""
        detail = where or "".join(traceback.format_exception(error))
        self._reporting = True
        try:
            self.log(f"tessel lsp: {error}\n{detail}", types.MessageType.Error.value)
        finally:
            self._reporting = False


def serve(stdin: BinaryIO | None = None, stdout: BinaryIO | None = None) -> int:
    """Serve the protocol over stdin and stdout until ``exit`` or the end of stdin; the exit
    status is 0 after a ``shutdown`` and 1 without one (as the protocol asks)."""
    from . import features

    # A library's deprecation is no reason for a request to fail (pygls calls
    # asyncio.iscoroutinefunction, deprecated from CPython 3.14 on).
    warnings.filterwarnings("ignore", category=DeprecationWarning, module="pygls")
    server = TesselServer()
    features.register(server)
    stdin = stdin or sys.stdin.buffer
    stdout = stdout or sys.stdout.buffer
    server._stop_event = stop = threading.Event()
    server.protocol.set_writer(StdoutWriter(stdout))

    async def main() -> None:
        loop = asyncio.get_running_loop()
        transport = None
        try:
            reader: Any = asyncio.StreamReader()
            transport, _ = await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(reader), stdin)
        except (OSError, ValueError):  # not a pipe (a file, say): read it on a thread
            reader = StdinAsyncReader(stdin)
        try:
            await run_async(stop_event=stop, reader=reader, protocol=server.protocol, logger=logger,
                            error_handler=server.report_server_error)
        finally:
            if transport is not None:
                transport.close()
            await server.close()

    blocking = _blocking(stdin)
    status = 0
    try:
        asyncio.run(main())
    except SystemExit as e:  # the exit notification
        status = e.code if isinstance(e.code, int) else 1
    except (BrokenPipeError, KeyboardInterrupt):
        status = 1
    finally:
        if blocking is not None:  # reading made it non-blocking: a terminal would notice
            with contextlib.suppress(OSError, ValueError):
                os.set_blocking(stdin.fileno(), blocking)
    return status


def _blocking(stream: IO[bytes]) -> bool | None:
    try:
        return os.get_blocking(stream.fileno())
    except (OSError, ValueError, AttributeError):
        return None

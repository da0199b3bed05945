"""The open netlists: their texts as the editor has them, and when each is checked.

A change is checked after a short pause (`DEBOUNCE`), an opened or saved buffer at once.
The outline phase runs on a thread of its own (`Background`), so that requests are answered
meanwhile; its findings are published as soon as they are made, and the text then goes to
its project's reading process, whose findings are published with them when they come.  A
newer change drops what waits for an older one and what it would publish.
"""

from __future__ import annotations

import asyncio
import gc
import queue
import threading
import traceback
from collections.abc import Callable
from functools import partial
from pathlib import Path
from typing import Any, TypeVar

from tessel.check.registry import OUTLINE

from . import frames
from .analysis import Analysis, analyse
from .readings import Readers
from .text import Text

__all__ = ["DEBOUNCE", "Background", "Buffer", "Buffers"]

T = TypeVar("T")

# Seconds a change waits for the next one before it is checked: enough to take the burst of
# changes an editor sends for one edit (a paste, an auto-indent) together.
DEBOUNCE = 0.03


class Background:
    """One daemon thread for the work that would hold up the event loop: the outline phase
    and the index of a text.  Jobs run one at a time, in order; a job cancelled before its
    turn is skipped.  The cyclic collector pauses while one runs: a job makes a great many
    objects that live on, and the collections their number sets off (each walking the
    millions of records of a large outline) would take longer than the job itself."""

    def __init__(self) -> None:
        self._jobs: queue.SimpleQueue[Any] = queue.SimpleQueue()
        threading.Thread(target=self._work, name="tessel-lsp-outline", daemon=True).start()

    def run(self, fn: Callable[..., T], *args: Any) -> asyncio.Future[T]:
        future: asyncio.Future[T] = asyncio.get_running_loop().create_future()
        self._jobs.put((future, fn, args))
        return future

    def _work(self) -> None:
        while (job := self._jobs.get()) is not None:
            future, fn, args = job
            if future.cancelled():
                continue
            collecting = gc.isenabled()
            gc.disable()
            try:
                outcome: tuple[Any, BaseException | None] = (fn(*args), None)
            except Exception as e:  # noqa: BLE001 - the awaiting task gets it
                outcome = (None, e)
            finally:
                if collecting:
                    gc.enable()
            try:
                future.get_loop().call_soon_threadsafe(_settle, future, *outcome)
            except RuntimeError:  # the loop is closed: the server is ending
                return

    def close(self) -> None:
        self._jobs.put(None)


def _settle(future: asyncio.Future[Any], result: Any, error: BaseException | None) -> None:
    if future.done():
        return
    if error is not None:
        future.set_exception(error)
    else:
        future.set_result(result)


class Buffer:
    """An open netlist: its text, its version and what is known of it."""

    def __init__(self, uri: str, path: Path | None, text: Text, version: int) -> None:
        self.uri, self.path, self.text, self.version = uri, path, text, version
        self.analysis: Analysis | None = None  # the latest made, perhaps of an older version
        self.ports: dict[str, tuple[str, ...] | None] = {}  # of the latest reading
        self.task: asyncio.Task[Analysis] | None = None  # the latest analysis started
        self.task_version = -1
        self.waiting = False  # whether `task` still waits out the pause
        self.indexing: asyncio.Future[Any] | None = None  # the index of `analysis`, under way


class Buffers:
    """The open netlists, by URI."""

    def __init__(self, readers: Readers, publish: Callable[[Buffer, Analysis], None],
                 log: Callable[[str, int], None]) -> None:
        self.readers, self._publish, self._log = readers, publish, log
        self.background = Background()
        self._buffers: dict[str, Buffer] = {}
        self._told: set[str] = set()

    def get(self, uri: str) -> Buffer | None:
        return self._buffers.get(uri)

    def open(self, uri: str, path: Path | None, text: Text, version: int) -> None:
        buffer = self._buffers[uri] = Buffer(uri, path, text, version)
        self._analyse(buffer, 0.0)

    def change(self, uri: str, changes: list[Any], version: int) -> None:
        buffer = self._buffers.get(uri)
        if buffer is None:
            return
        buffer.text = buffer.text.changed(changes)
        buffer.version = version
        self._analyse(buffer, DEBOUNCE)

    def save(self, uri: str) -> None:
        """Check the buffer anew: the project's configuration may have changed."""
        buffer = self._buffers.get(uri)
        if buffer is not None:
            self.readers.for_path(buffer.path).retry()
            buffer.task_version = -1
            self._analyse(buffer, 0.0)

    def close(self, uri: str) -> Buffer | None:
        buffer = self._buffers.pop(uri, None)
        if buffer is not None and buffer.task is not None:
            buffer.task.cancel()
        self.readers.forget(uri)
        return buffer

    async def current(self, uri: str) -> Analysis | None:
        """The analysis of the buffer's current text, indexed (made now if need be)."""
        buffer = self._buffers.get(uri)
        if buffer is None:
            return None
        analysis = await self._analyse(buffer, 0.0)
        if analysis.index is None:
            await self.background.run(analysis.indexed)
        return analysis

    def latest(self, uri: str) -> Analysis | None:
        """The latest analysis made of the buffer, whatever its version."""
        buffer = self._buffers.get(uri)
        return buffer.analysis if buffer is not None else None

    def _analyse(self, buffer: Buffer, delay: float) -> asyncio.Task[Analysis]:
        """The task that analyses the buffer's current version, started after `delay` unless
        one is under way.  The task of an older version is cancelled (what it waits for is
        skipped, what it runs is dropped), and so is one that still waits out its pause when
        the analysis is needed now."""
        task = buffer.task
        if task is not None and buffer.task_version == buffer.version and not (buffer.waiting and delay == 0):
            return task
        if task is not None and not task.done():
            task.cancel()
        if buffer.indexing is not None:
            buffer.indexing.cancel()
        buffer.waiting = delay > 0
        buffer.task_version = buffer.version
        buffer.task = asyncio.create_task(self._run(buffer, buffer.version, buffer.text, delay))
        buffer.task.add_done_callback(self._report)
        return buffer.task

    async def _run(self, buffer: Buffer, version: int, text: Text, delay: float) -> Analysis:
        if delay:
            await asyncio.sleep(delay)
        if buffer.task is asyncio.current_task():
            buffer.waiting = False
        analysis = await self.background.run(analyse, text, buffer.path, version)
        if buffer.analysis is None or buffer.analysis.version <= version:
            buffer.analysis = analysis
        if version == buffer.version and self._buffers.get(buffer.uri) is buffer:
            self._publish(buffer, analysis)
            if analysis.problem and analysis.problem not in self._told:
                self._told.add(analysis.problem)
                self._log(f"{analysis.problem}; the default selection of checks applies", 2)
            buffer.indexing = self.background.run(analysis.indexed)
            buffer.indexing.add_done_callback(lambda f: f.cancelled() or f.exception())
            request = frames.Request(text.source, str(buffer.path) if buffer.path else None,
                                     analysis.doc.found.get(OUTLINE, []))
            reading = self.readers.for_path(buffer.path).read(buffer.uri, request)
            reading.add_done_callback(partial(self._read, buffer, analysis))
        return analysis

    def _read(self, buffer: Buffer, analysis: Analysis, reading: asyncio.Future[frames.Result]) -> None:
        if reading.cancelled():
            return
        if reading.exception() is not None:
            return  # a ReadingFailed: the reader has said why
        result = reading.result()
        if result.failure:
            self._log(f"the reading of {buffer.uri} failed:\n{result.failure}", 1)
            return
        analysis.reading = result
        buffer.ports = result.ports
        if analysis.version == buffer.version and self._buffers.get(buffer.uri) is buffer:
            self._publish(buffer, analysis)

    def _report(self, task: asyncio.Task[Analysis]) -> None:
        if not task.cancelled() and (error := task.exception()) is not None:
            self._log("checking a buffer failed:\n" + "".join(traceback.format_exception(error)), 1)

    async def close_all(self) -> None:
        for uri in list(self._buffers):
            self.close(uri)
        self.background.close()
        await self.readers.close()

"""The readings: one reading process per project (see `tessel.lsp.worker`), each with the
buffers waiting for it.

A process reads one buffer at a time.  Each buffer waits with its latest text only: a newer
text replaces the one waiting, and the result of a reading that a change made stale is
dropped; a stale reading that runs on for long (a huge or pathological buffer) has its
process ended and a new one started.  A process that dies takes only the reading it was
doing with it.  One that cannot start, or cannot load its project (a broken pyproject.toml,
a PDK that fails to import), says why, once, and is tried again when a netlist of its
project is saved.
"""

from __future__ import annotations

import asyncio
import os
import sys
import time
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

from tessel import settings

from . import frames

__all__ = ["Reader", "Readers", "ReadingFailed"]

# How long a stale reading may go on before its process is ended (seconds).
STALE_LIMIT = 10.0
# How long a process may take to end once asked to (seconds).
_END_WAIT = 2.0

Log = Callable[[str, int], None]  # message, level (1 error, 2 warning, 3 info, 4 log)


class ReadingFailed(Exception):
    """The reading could not be done; the message says why."""


@dataclass(eq=False)
class _Job:
    uri: str
    request: frames.Request
    future: asyncio.Future[frames.Result]


class Reader:
    """The reading process of one project, started at once, and the readings waiting."""

    def __init__(self, name: str, cwd: str, env: dict[str, str], log: Log,
                 progress: Callable[[str], Callable[[], None]] | None = None) -> None:
        self.name, self._cwd, self._env, self._log = name, cwd, env, log
        self._progress = progress
        self.ready: asyncio.Future[frames.Ready] = asyncio.get_running_loop().create_future()
        self.broken: str | None = None
        self._waiting: dict[str, _Job] = {}
        self._wake = asyncio.Event()
        self._running: _Job | None = None
        self._process: asyncio.subprocess.Process | None = None
        self._closed = False
        self._retry = asyncio.Event()
        self._task = asyncio.create_task(self._serve())

    def read(self, uri: str, request: frames.Request) -> asyncio.Future[frames.Result]:
        """The reading of `request` for buffer `uri`, in place of any still waiting."""
        self.forget(uri)
        future: asyncio.Future[frames.Result] = asyncio.get_running_loop().create_future()
        if self.broken is not None:
            future.set_exception(ReadingFailed(self.broken))
            return future
        self._waiting[uri] = _Job(uri, request, future)
        self._wake.set()
        return future

    def forget(self, uri: str) -> None:
        """Drop the readings of buffer `uri`: the one waiting, and the result of the one
        running."""
        job = self._waiting.pop(uri, None)
        if job is not None:
            job.future.cancel()
        running = self._running
        if running is not None and running.uri == uri and not running.future.done():
            running.future.cancel()
            asyncio.get_running_loop().call_later(STALE_LIMIT, self._end_if_running, running)

    def _end_if_running(self, job: _Job) -> None:
        process = self._process
        if self._running is job and process is not None and process.returncode is None:
            self._log(f"a stale reading of {job.uri} ran for over {STALE_LIMIT:g} s: its process is restarted", 3)
            process.kill()

    def retry(self) -> None:
        """Start anew if the process could not start or load the project (it may have been
        mended since)."""
        if self.broken is not None:
            self.broken = None
            self._retry.set()

    async def _start(self) -> asyncio.subprocess.Process | None:
        started = time.monotonic()
        done = self._progress(f"tessel: loading the reader for {self.name}") if self._progress else None
        try:
            spawned = await _spawn(self._cwd, self._env)
            if isinstance(spawned, str):
                self._process, ready = None, frames.Ready((), spawned)
            elif self._closed:  # closed while it started
                await _stop(spawned, at_once=True)
                return None
            else:
                self._process = spawned
                ready = await _ready(spawned)
        finally:
            if done is not None:
                done()
        if not self.ready.done():
            self.ready.set_result(ready)
        if self._closed:
            return None
        if ready.problem is not None:
            self.broken = (f"{self.name}: {ready.problem}; the checks that need the reading are off "
                           "(mend it and save a netlist to try again)")
            self._log(self.broken, 2)
            if self._process is not None:
                await _stop(self._process, at_once=False)
            return None
        self._log(f"the reader for {self.name} is ready ({time.monotonic() - started:.1f} s)", 3)
        return self._process

    async def _serve(self) -> None:
        while not self._closed:
            process = await self._start()
            if process is not None:
                await self._run(process)
                continue
            if self._closed:
                break
            for job in self._waiting.values():
                job.future.set_exception(ReadingFailed(self.broken or ""))
            self._waiting.clear()
            self._retry.clear()
            await self._retry.wait()
            self.ready = asyncio.get_running_loop().create_future()
        for job in self._waiting.values():
            job.future.cancel()
        self._waiting.clear()

    async def _run(self, process: asyncio.subprocess.Process) -> None:
        """Feed `process` the waiting readings until it ends."""
        assert process.stdin is not None and process.stdout is not None
        while not self._closed:
            if not self._waiting:
                self._wake.clear()
                await self._wake.wait()
                continue
            job = self._waiting.pop(next(iter(self._waiting)))
            self._running = job
            try:
                process.stdin.write(frames.pack(job.request))
                await process.stdin.drain()
                result = await frames.read_async(process.stdout)
            except (BrokenPipeError, ConnectionResetError):
                result = None
            finally:
                self._running = None
            if isinstance(result, frames.Result):
                if not job.future.done():
                    job.future.set_result(result)
                continue
            await process.wait()
            if not job.future.done():
                self._log(f"the reading process for {self.name} ended while reading {job.uri} (status "
                          f"{process.returncode}); a new one is started", 2)
                job.future.set_exception(ReadingFailed(f"the reading process ended (status {process.returncode})"))
            return

    async def close(self) -> None:
        self._closed = True
        self._wake.set()
        self._retry.set()
        if self._process is not None:
            await _stop(self._process, at_once=self._running is not None or not self.ready.done())
        # The task ends by itself now; cancelled while it starts a process, it would leave
        # that process to the event loop to kill.
        try:
            await asyncio.wait_for(asyncio.shield(self._task), _END_WAIT * 2)
        except TimeoutError:
            self._task.cancel()
            await asyncio.gather(self._task, return_exceptions=True)


async def _spawn(cwd: str, env: dict[str, str]) -> asyncio.subprocess.Process | str:
    """A new reading process, or why there is none."""
    try:
        return await asyncio.create_subprocess_exec(
            sys.executable, "-P", "-m", "tessel.lsp.worker", cwd=cwd, env=env,
            stdin=asyncio.subprocess.PIPE, stdout=asyncio.subprocess.PIPE)
    except OSError as e:
        return f"the reading process cannot be started: {e}"


async def _ready(process: asyncio.subprocess.Process) -> frames.Ready:
    """What `process` says once it is ready (or why it will not be)."""
    assert process.stdout is not None
    ready = await frames.read_async(process.stdout)
    if isinstance(ready, frames.Ready):
        return ready
    await _stop(process, at_once=True)
    return frames.Ready((), f"the reading process ended before it was ready (status {process.returncode}; "
                            "its messages are in the server's log)")


async def _stop(process: asyncio.subprocess.Process, at_once: bool) -> None:
    """End `process`: when idle, by closing its input; `at_once`, by a signal."""
    if process.returncode is not None:
        return
    if process.stdin is not None:
        process.stdin.close()
    if at_once:
        process.terminate()
    try:
        await asyncio.wait_for(process.wait(), _END_WAIT)
    except TimeoutError:
        process.kill()
        await process.wait()


class Readers:
    """The reading processes, one per project, each started when a buffer of its project is
    first read."""

    def __init__(self, log: Log, progress: Callable[[str], Callable[[], None]] | None = None) -> None:
        self._log = log
        self._progress = progress
        self._readers: dict[Path | None, Reader] = {}

    def for_path(self, path: Path | None) -> Reader:
        """The reader of the project of the netlist `path` (None: of the current folder)."""
        folder = path.parent if path is not None else None
        return self.for_folder(folder if folder is not None and folder.is_dir() else None)

    def for_folder(self, folder: Path | None) -> Reader:
        """The reader of the project of `folder` (None: of the current folder), started now
        when it is the first."""
        pyproject = settings.get_pyproject_path(folder)
        reader = self._readers.get(pyproject)
        if reader is None:
            env = dict(os.environ)
            if pyproject is not None:
                cwd = str(pyproject.parent)
                env.setdefault(settings.PROJECT_DIR_ENV, cwd)
                name = f"project {pyproject.parent}"
            else:
                cwd = str(folder) if folder is not None else os.getcwd()
                name = "files outside any project"
            reader = self._readers[pyproject] = Reader(name, cwd, env, self._log, self._progress)
        return reader

    def forget(self, uri: str) -> None:
        for reader in self._readers.values():
            reader.forget(uri)

    async def close(self) -> None:
        await asyncio.gather(*(r.close() for r in self._readers.values()), return_exceptions=True)
        self._readers.clear()

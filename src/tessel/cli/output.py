"""Where a command's results go: standard output, or the files named by ``-o`` and ``--out-dir``.

Nothing is ever left half-written, and nothing but the named file is changed:

- a regular file (or one not there yet) is written to a temporary file beside it, which
  replaces it when complete, with the old file's permissions and, where allowed, its
  owner; a failed or interrupted (Ctrl-C) run leaves the old file as it was, and nothing
  beside it;
- through a symbolic link, the file it points to is replaced and the link stays;
- a device, FIFO or socket is written into as it is, never replaced;
- a folder, or a file that is one of the inputs, is refused before anything is read.

A target is opened on the first write: a run that writes nothing leaves it alone.
"""

from __future__ import annotations

import errno
import os
import signal
import stat
import tempfile
from collections.abc import Callable, Iterable, Iterator, Sequence
from contextlib import contextmanager
from pathlib import Path
from typing import TextIO

from .console import CommandError, UsageError, describe, on_interrupt, write_stdout

Write = Callable[[str], None]


def check_targets(targets: Iterable[tuple[str, Path]], inputs: Sequence[str]) -> None:
    """Refuse, before anything is read, outputs that are folders or the same file as one of
    `inputs` (``-`` excepted), usage errors, and files that cannot be written; each target
    comes with the words that name it in a usage error."""
    read = {}
    for name in inputs:
        if name == "-":
            continue
        try:
            st = os.stat(name)
        except (OSError, ValueError):
            continue  # reported when it is read
        read[st.st_dev, st.st_ino] = name
    for label, target in targets:
        try:
            st = os.stat(target)
        except (OSError, ValueError):
            continue
        if stat.S_ISDIR(st.st_mode):
            raise UsageError(f"{label}: is a folder")
        if (st.st_dev, st.st_ino) in read:
            raise UsageError(f"{label}: is the input {read[st.st_dev, st.st_ino]}, which the "
                             "result would replace")
        if stat.S_ISREG(st.st_mode) and not os.access(target, os.W_OK):
            raise CommandError(str(target), describe(_not_writable(target)))


@contextmanager
def writing(path: Path | None) -> Iterator[Write]:
    """A `write` whose text is all at `path` (standard output for None) once the block
    ends without an error; if it raises, a regular file stays as it was."""
    if path is None:
        yield write_stdout
        return
    target = _Target(path)
    try:
        # Ctrl-C raises KeyboardInterrupt here, which removes the temporary file, instead of
        # ending the process at once (as the command has it do elsewhere).
        with on_interrupt(signal.default_int_handler):
            yield target.write
            target.finish()
    finally:
        target.abandon()


class _Target:
    """A file named on the command line, from its first write until it is in place."""

    def __init__(self, path: Path) -> None:
        self.shown = str(path)
        # Through every link to the file that is meant.
        self.real = Path(os.path.realpath(path))
        self.file: TextIO | None = None
        self.temporary: str | None = None
        self.old: os.stat_result | None = None

    def write(self, text: str) -> None:
        try:
            if self.file is None:
                self.file = self._open()
            self.file.write(text)
        except (OSError, UnicodeError) as e:
            raise CommandError(self.shown, describe(e)) from None

    def finish(self) -> None:
        if self.file is None:
            return
        file, self.file = self.file, None
        try:
            if self.temporary is None:
                file.close()
                return
            with file:
                file.flush()
                _take_over(file.fileno(), self.old)
                # On disk before it takes the old file's name: a crash leaves either.
                os.fsync(file.fileno())
            os.replace(self.temporary, self.real)
            self.temporary = None
        except OSError as e:
            raise CommandError(self.shown, describe(e)) from None

    def abandon(self) -> None:
        """Close what is open and remove the temporary file, if any (after `finish`: nothing)."""
        if self.file is not None:
            try:
                self.file.close()
            except OSError:
                pass  # the write that failed has been reported
            self.file = None
        if self.temporary is not None:
            try:
                os.unlink(self.temporary)
            except FileNotFoundError:
                pass
            self.temporary = None

    def _open(self) -> TextIO:
        try:
            self.old = os.stat(self.real)
        except FileNotFoundError:
            self.old = None
        if self.old is not None and not stat.S_ISREG(self.old.st_mode):
            # A device, FIFO or socket: what reads it gets the text; it is not ours to replace.
            return open(self.real, "w", encoding="utf-8")
        if self.old is not None and not os.access(self.real, os.W_OK):
            # Replacing it would succeed in a writable folder; writing to it would not.
            raise _not_writable(self.real)
        fd, self.temporary = tempfile.mkstemp(
            dir=self.real.parent, prefix=f".{self.real.name}.", suffix=".tmp")
        return os.fdopen(fd, "w", encoding="utf-8")


def _not_writable(path: Path) -> OSError:
    return PermissionError(errno.EACCES, os.strerror(errno.EACCES), str(path))


def _take_over(fd: int, old: os.stat_result | None) -> None:
    """Give the new file the permissions (and, where allowed, the owner) of the old one."""
    if old is None:
        os.fchmod(fd, 0o666 & ~_umask())
        return
    if (old.st_uid, old.st_gid) != (os.geteuid(), os.getegid()):
        # The group alone when the owner cannot be given away (only root may).
        for uid in (old.st_uid, -1):
            try:
                os.fchown(fd, uid, old.st_gid)
                break
            except PermissionError:
                continue
    # After the owner: a change of owner clears the set-id bits.
    os.fchmod(fd, stat.S_IMODE(old.st_mode))


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask

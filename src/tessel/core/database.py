"""The factory database: what tessel knows about the project's cell factories.

One SQLite file per project (`get_database_path`, inside the project folder),
created on the first write; reading a project without one finds no factories.
Every call is one transaction: a failing or killed process leaves the state
of before the call, never part of a write.  Several processes may use the
database at once: readers never wait (write-ahead log), and a writer waits
for the one before it (up to `BUSY_TIMEOUT` seconds) instead of failing.
The write-ahead log needs shared memory between the processes, so the
project folder must be on a local file system.

The database is an aid, not the truth: it can always be made anew from the
sources.  A file that cannot be used (damaged, another program's database, a
folder that cannot be written) raises `UnusableDatabase`, whose callers may
go on without it (`detached`) or set it aside (`move_aside`).
"""

from __future__ import annotations

import os
import sqlite3
import time
from collections.abc import Iterator
from contextlib import closing, contextmanager
from contextvars import ContextVar
from itertools import count
from pathlib import Path

from .. import settings
from ..models import FactoryRecord

__all__ = [
    "BUSY_TIMEOUT",
    "UnusableDatabase",
    "add_factories",
    "detached",
    "get_all_factories",
    "get_database_path",
    "get_factories_by_name",
    "move_aside",
    "remove_factories",
]

BUSY_TIMEOUT = 60.0

_TABLE = "factories"
_SCHEMA = f"""
CREATE TABLE IF NOT EXISTS {_TABLE} (
    name    TEXT NOT NULL PRIMARY KEY,
    source  TEXT NOT NULL,
    status  TEXT NOT NULL,
    message TEXT NOT NULL
) WITHOUT ROWID
"""
_COLUMNS = "name, source, status, message"
_COLUMN_NAMES = tuple(_COLUMNS.split(", "))
# The database file and the files SQLite keeps beside it.
_JOURNALS = ("", "-journal", "-wal", "-shm")
# Stay well below SQLite's limit on bound parameters per statement.
_CHUNK = 500


Row = tuple[str, str, str, str]

# The records of the database while `detached` runs, by name; None: the file.
_detached: ContextVar[dict[str, Row] | None] = ContextVar("detached", default=None)


class UnusableDatabase(Exception):
    """The factory database cannot be read or written.

    `damaged` tells a fault of the file itself (corrupt, truncated, another program's
    database), which a new file mends (`move_aside`), from one of its surroundings
    (a folder that cannot be written, a full disk, a lock held too long).
    """

    def __init__(self, path: Path, reason: str, *, damaged: bool) -> None:
        super().__init__(f"{path}: {reason}")
        self.path = path
        self.reason = reason
        self.damaged = damaged


def get_database_path() -> Path:
    """Return the database file of the current project."""
    return settings.get_project_dir() / ".tessel" / "factories.db"


def get_factories_by_name(*names: str) -> dict[str, FactoryRecord]:
    """Return the stored records of `names` (names without a record are left out)."""
    wanted = list(dict.fromkeys(_check_name(n) for n in names))
    rows = _detached.get()
    if rows is not None:
        return {name: _record(rows[name]) for name in wanted if name in rows}
    with _reading() as conn:
        if conn is None:
            return {}
        found: dict[str, FactoryRecord] = {}
        for start in range(0, len(wanted), _CHUNK):
            chunk = wanted[start : start + _CHUNK]
            marks = ", ".join("?" * len(chunk))
            for row in conn.execute(
                f"SELECT {_COLUMNS} FROM {_TABLE} WHERE name IN ({marks})", chunk
            ):
                found[row[0]] = _stored_record(row)
    return {name: found[name] for name in wanted if name in found}


def get_all_factories() -> dict[str, FactoryRecord]:
    """Return every stored record, by name in name order."""
    detached_rows = _detached.get()
    if detached_rows is not None:
        return {name: _record(detached_rows[name]) for name in sorted(detached_rows)}
    with _reading() as conn:
        if conn is None:
            return {}
        rows = conn.execute(f"SELECT {_COLUMNS} FROM {_TABLE} ORDER BY name").fetchall()
        return {row[0]: _stored_record(row) for row in rows}


def add_factories(*records: FactoryRecord) -> None:
    """Store `records`, overwriting the stored records of the same names."""
    rows = _detached.get()
    if rows is not None:
        checked = [_row(r) for r in records]  # all or nothing, as in the file
        rows.update((row[0], row) for row in checked)
        return
    with _writing() as conn:
        conn.executemany(
            f"INSERT OR REPLACE INTO {_TABLE} ({_COLUMNS}) VALUES (?, ?, ?, ?)",
            # Checked while writing: a bad record rolls back the whole call.
            (_row(r) for r in records),
        )


def remove_factories(*names: str) -> None:
    """Delete the records of `names`; names without a record are ignored."""
    rows = _detached.get()
    if rows is not None:
        for name in [_check_name(n) for n in names]:
            rows.pop(name, None)
        return
    with _writing() as conn:
        conn.executemany(
            f"DELETE FROM {_TABLE} WHERE name = ?", ((_check_name(n),) for n in names)
        )


@contextmanager
def detached(*, from_file: bool = True) -> Iterator[None]:
    """Work on a copy of the database in memory while the block runs (in this thread).

    The copy starts with the file's records (`from_file`; `UnusableDatabase` when they
    cannot be read) or empty.  The file is neither created nor changed.
    """
    rows = {r.name: _row(r) for r in get_all_factories().values()} if from_file else {}
    token = _detached.set(rows)
    try:
        yield
    finally:
        _detached.reset(token)


def move_aside() -> Path | None:
    """Rename the database file, with its journal, to a new name beside it; return that name.

    Nothing is deleted: the old file stays for a look inside.  Returns None when there
    is no file; the next write makes a new one.
    """
    path = get_database_path()
    if not os.path.lexists(path):
        return None
    stamp = time.strftime("%Y%m%d-%H%M%S")
    for n in count():
        aside = path.with_name(f"{path.name}.{stamp}{f'.{n}' if n else ''}.bak")
        if not any(os.path.lexists(f"{aside}{s}") for s in _JOURNALS):
            break
    with _failures(path):
        # The journal first: a new database must never meet the old one's log.
        for suffix in reversed(_JOURNALS):
            if os.path.lexists(f"{path}{suffix}"):
                os.rename(f"{path}{suffix}", f"{aside}{suffix}")
    return aside


def _record(row: Row) -> FactoryRecord:
    name, source, status, message = row
    return FactoryRecord(name=name, source=source, status=status, message=message)


def _stored_record(row: tuple[object, ...]) -> FactoryRecord:
    name, source, status, message = row
    if not (isinstance(name, str) and isinstance(source, str) and isinstance(status, str)
            and isinstance(message, str)):
        raise _Damaged(f"a record holds {', '.join(type(v).__name__ for v in row)} where text belongs")
    return FactoryRecord(name=name, source=source, status=status, message=message)


def _row(record: object) -> Row:
    if not isinstance(record, FactoryRecord):
        raise TypeError(
            f"add_factories() takes FactoryRecord objects, not {type(record).__name__}"
        )
    row = (record.name, record.source, record.status, record.message)
    for field, value in zip(_COLUMN_NAMES, row):
        if not isinstance(value, str):
            raise TypeError(
                f"add_factories(): {field} of record {record.name!r} must be str, "
                f"not {type(value).__name__}"
            )
    return row


def _check_name(name: object) -> str:
    if not isinstance(name, str):
        raise TypeError(f"factory names must be str, not {type(name).__name__}")
    return name


def _connect(path: Path) -> sqlite3.Connection:
    # isolation_level=None: transactions are begun and ended here, explicitly.
    return sqlite3.connect(path, timeout=BUSY_TIMEOUT, isolation_level=None)


class _Damaged(Exception):
    """A fault of the file found by reading it; `_failures` names the file."""


# SQLite's primary result codes for a file that is no (intact) database.
_DAMAGED_CODES = {sqlite3.SQLITE_CORRUPT, sqlite3.SQLITE_NOTADB}


@contextmanager
def _failures(path: Path) -> Iterator[None]:
    """Turn what SQLite and the file system raise about the database into `UnusableDatabase`."""
    try:
        yield
    except _Damaged as e:
        raise UnusableDatabase(path, f"damaged: {e}", damaged=True) from None
    except sqlite3.Error as e:
        code = getattr(e, "sqlite_errorcode", 0) & 0xFF
        damaged = code in _DAMAGED_CODES
        reason = f"damaged: {e}" if damaged else f"cannot be used: {e}"
        raise UnusableDatabase(path, reason, damaged=damaged) from e
    except OSError as e:
        raise UnusableDatabase(path, f"cannot be used: {e.strerror or e}", damaged=False) from e


def _has_table(conn: sqlite3.Connection) -> bool:
    """Whether the factory table is there (False: a new, empty database); a file of
    another program is damaged for us, and left as it is."""
    columns = {row[1] for row in conn.execute(f"PRAGMA table_info({_TABLE})")}
    if columns:
        missing = [c for c in _COLUMN_NAMES if c not in columns]
        if missing:
            raise _Damaged(f"not a factory database: its table {_TABLE!r} has no {', '.join(missing)}")
        return True
    tables = [row[0] for row in conn.execute("SELECT name FROM sqlite_master WHERE type = 'table'")]
    if tables:
        raise _Damaged(f"not a factory database: it holds the tables {', '.join(map(repr, tables))}")
    return False


@contextmanager
def _read_transaction(conn: sqlite3.Connection) -> Iterator[None]:
    """A read transaction around the block, ended without writing anything."""
    conn.execute("BEGIN")
    try:
        yield
    finally:
        # Some errors end the transaction on their own.
        if conn.in_transaction:
            conn.execute("ROLLBACK")


@contextmanager
def _reading() -> Iterator[sqlite3.Connection | None]:
    path = get_database_path()
    if not path.is_file():
        yield None
        return
    # One read transaction: chunked queries see one consistent state.
    with _failures(path), closing(_connect(path)) as conn, _read_transaction(conn):
        yield conn if _has_table(conn) else None


@contextmanager
def _writing() -> Iterator[sqlite3.Connection]:
    path = get_database_path()
    with _failures(path):
        _make_folder(path.parent)
        with closing(_connect(path)) as conn:
            # Before anything is written, not even the journal mode.  Its two
            # queries see one state of the file: a writer creating the table in
            # between must not make it look like another program's database.
            with _read_transaction(conn):
                _has_table(conn)
            _use_write_ahead_log(conn)
            conn.execute("PRAGMA synchronous = FULL")
            # IMMEDIATE takes the write lock up front, so two writers queue on the
            # busy timeout instead of one failing when it upgrades a read lock.
            conn.execute("BEGIN IMMEDIATE")
            try:
                # A write into a damaged file can succeed, and spread the damage.
                problems = [row[0] for row in conn.execute("PRAGMA quick_check")]
                if problems != ["ok"]:
                    raise _Damaged(problems[0])
                conn.execute(_SCHEMA)
                yield conn
            except BaseException:
                # Some errors end the transaction on their own.
                if conn.in_transaction:
                    conn.execute("ROLLBACK")
                raise
            conn.execute("COMMIT")


def _use_write_ahead_log(conn: sqlite3.Connection) -> None:
    # Persistent once set.  Switching needs an exclusive lock and does not
    # wait on the busy timeout, so processes creating the database together
    # must retry here themselves.
    deadline = time.monotonic() + BUSY_TIMEOUT
    while True:
        try:
            conn.execute("PRAGMA journal_mode = WAL")
            return
        except sqlite3.OperationalError as e:
            busy = getattr(e, "sqlite_errorcode", None) in (sqlite3.SQLITE_BUSY, sqlite3.SQLITE_LOCKED)
            if not busy or time.monotonic() > deadline:
                raise
            time.sleep(0.005)


def _make_folder(folder: Path) -> None:
    if folder.is_dir():
        return
    folder.mkdir(parents=True, exist_ok=True)
    ignore = folder / ".gitignore"
    if not ignore.exists():
        # The database is a cache of the sources, not part of them.
        ignore.write_text("*\n")

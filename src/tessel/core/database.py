"""The factory database: what tessel knows about the project's cell factories.

One SQLite file per project (`get_database_path`, inside the project folder),
created on the first write; reading a project without one finds no factories.
Every call is one transaction: a failing or killed process leaves the state
of before the call, never part of a write.  Several processes may use the
database at once: readers never wait (write-ahead log), and a writer waits
for the one before it (up to `BUSY_TIMEOUT` seconds) instead of failing.
The write-ahead log needs shared memory between the processes, so the
project folder must be on a local file system.
"""

from __future__ import annotations

import sqlite3
import time
from collections.abc import Iterator
from contextlib import closing, contextmanager
from pathlib import Path

from .. import settings
from ..models import FactoryRecord

__all__ = [
    "BUSY_TIMEOUT",
    "add_factories",
    "get_all_factories",
    "get_database_path",
    "get_factories_by_name",
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
# Stay well below SQLite's limit on bound parameters per statement.
_CHUNK = 500


def get_database_path() -> Path:
    """Return the database file of the current project."""
    return settings.get_project_dir() / ".tessel" / "factories.db"


def get_factories_by_name(*names: str) -> dict[str, FactoryRecord]:
    """Return the stored records of `names` (names without a record are left out)."""
    wanted = list(dict.fromkeys(_check_name(n) for n in names))
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
                found[row[0]] = _record(row)
    return {name: found[name] for name in wanted if name in found}


def get_all_factories() -> dict[str, FactoryRecord]:
    """Return every stored record, by name in name order."""
    with _reading() as conn:
        if conn is None:
            return {}
        rows = conn.execute(f"SELECT {_COLUMNS} FROM {_TABLE} ORDER BY name").fetchall()
    return {row[0]: _record(row) for row in rows}


def add_factories(*records: FactoryRecord) -> None:
    """Store `records`, overwriting the stored records of the same names."""
    with _writing() as conn:
        conn.executemany(
            f"INSERT OR REPLACE INTO {_TABLE} ({_COLUMNS}) VALUES (?, ?, ?, ?)",
            # Checked while writing: a bad record rolls back the whole call.
            (_row(r) for r in records),
        )


def remove_factories(*names: str) -> None:
    """Delete the records of `names`; names without a record are ignored."""
    with _writing() as conn:
        conn.executemany(
            f"DELETE FROM {_TABLE} WHERE name = ?", ((_check_name(n),) for n in names)
        )


def _record(row: tuple[str, str, str, str]) -> FactoryRecord:
    name, source, status, message = row
    return FactoryRecord(name=name, source=source, status=status, message=message)


def _row(record: object) -> tuple[str, str, str, str]:
    if not isinstance(record, FactoryRecord):
        raise TypeError(
            f"add_factories() takes FactoryRecord objects, not {type(record).__name__}"
        )
    row = (record.name, record.source, record.status, record.message)
    for field, value in zip(_COLUMNS.split(", "), row):
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


@contextmanager
def _reading() -> Iterator[sqlite3.Connection | None]:
    path = get_database_path()
    if not path.is_file():
        yield None
        return
    with closing(_connect(path)) as conn:
        # One read transaction: chunked queries see one consistent state.
        conn.execute("BEGIN")
        try:
            exists = conn.execute(
                "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", (_TABLE,)
            ).fetchone()
            yield conn if exists else None
        finally:
            if conn.in_transaction:
                conn.execute("ROLLBACK")


@contextmanager
def _writing() -> Iterator[sqlite3.Connection]:
    path = get_database_path()
    _make_folder(path.parent)
    with closing(_connect(path)) as conn:
        _use_write_ahead_log(conn)
        conn.execute("PRAGMA synchronous = FULL")
        # IMMEDIATE takes the write lock up front, so two writers queue on the
        # busy timeout instead of one failing when it upgrades a read lock.
        conn.execute("BEGIN IMMEDIATE")
        try:
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

import os
import signal
import sqlite3
import subprocess
import sys
import textwrap
from contextlib import closing

import pytest

from conftest import DAMAGES, damage_database
from tessel.core import database as db
from tessel.models import FactoryRecord


@pytest.fixture
def project(tmp_path, monkeypatch):
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(tmp_path))
    return tmp_path


def rec(name, status="UNKNOWN", message="", source=None):
    return FactoryRecord(name=name, source=source or f"pkg/{name}.py", status=status, message=message)


def run_python(project, code, **kwargs):
    env = {**os.environ, "TESSEL_PROJECT_DIR": str(project)}
    return subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=env,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        **kwargs,
    )


def test_reading_without_database_finds_nothing_and_creates_nothing(project):
    assert db.get_all_factories() == {}
    assert db.get_factories_by_name("a") == {}
    assert not (project / ".tessel").exists()


def test_records_round_trip_and_overwrite(project):
    db.add_factories(rec("b"), rec("a", "ERROR", "boom\nline two"))
    assert db.get_database_path().is_file()
    assert (project / ".tessel" / ".gitignore").read_text() == "*\n"
    db.add_factories(rec("b", "ERROR", "now failing", source="pkg/other.py"))
    stored = db.get_all_factories()
    assert type(stored) is dict and list(stored) == ["a", "b"]
    assert stored == {
        "a": rec("a", "ERROR", "boom\nline two"),
        "b": rec("b", "ERROR", "now failing", source="pkg/other.py"),
    }


def test_lookup_by_name_keeps_given_order_and_skips_unknown(project):
    # More names than one statement may bind.
    db.add_factories(*(rec(f"c{i}") for i in range(1200)))
    names = ["c1100", "missing", "c3", "c1100", *(f"c{i}" for i in range(600, 1200))]
    found = db.get_factories_by_name(*names)
    assert list(found) == ["c1100", "c3", *(f"c{i}" for i in range(600, 1100)), *(f"c{i}" for i in range(1101, 1200))]
    assert found["c3"] == rec("c3")


def test_remove_deletes_named_records_only(project):
    db.add_factories(rec("a"), rec("b"), rec("c"))
    db.remove_factories("a", "c", "never-stored")
    db.remove_factories()
    db.add_factories()
    assert list(db.get_all_factories()) == ["b"]


@pytest.mark.parametrize(
    "bad",
    [
        "not a record",
        FactoryRecord(name="x", source=None, status="UNKNOWN", message=""),
        FactoryRecord(name=1, source="s", status="UNKNOWN", message=""),
    ],
)
def test_failing_write_leaves_previous_state(project, bad):
    db.add_factories(rec("kept", message="old"))
    with pytest.raises(TypeError):
        db.add_factories(rec("kept", message="new"), rec("a"), bad, rec("b"))
    with pytest.raises(TypeError):
        db.remove_factories("kept", 3)
    assert db.get_all_factories() == {"kept": rec("kept", message="old")}


def test_database_uses_write_ahead_log(project):
    db.add_factories(rec("a"))
    # A connection's own context manager ends the transaction, not the connection.
    with closing(sqlite3.connect(db.get_database_path())) as conn:
        assert conn.execute("PRAGMA journal_mode").fetchone() == ("wal",)


KILLED_WRITER = """
    import time
    from tessel.core import database as db
    from tessel.models import FactoryRecord

    class Stall(FactoryRecord):
        # Stops the writer three quarters through its records, mid-transaction.
        def __getattribute__(self, attr):
            if attr == "message":
                print("stalled", flush=True)
                time.sleep(60)
            return super().__getattribute__(attr)

    n = 60_000
    records = [FactoryRecord(name=f"new{i:06}", source="x" * 40, status="UNKNOWN", message="m" * 40)
               for i in range(n)]
    records[0].message = "overwritten"
    records[0].name = "old0"
    records[n * 3 // 4] = Stall(name="stall", source="s", status="UNKNOWN", message="")
    db.add_factories(*records)
"""


def test_process_killed_mid_write_leaves_all_or_nothing(project):
    before = {f"old{i}": rec(f"old{i}") for i in range(3)}
    db.add_factories(*before.values())
    writer = run_python(project, KILLED_WRITER)
    try:
        assert writer.stdout.readline() == "stalled\n", writer.stderr.read()
        # Rows were already on their way into the file when the process died.
        wal = db.get_database_path().with_name("factories.db-wal")
        assert wal.stat().st_size > 1_000_000
        os.kill(writer.pid, signal.SIGKILL)
    finally:
        writer.kill()
        writer.communicate()
    assert writer.returncode == -signal.SIGKILL
    assert db.get_all_factories() == before
    # The database is usable afterwards, for writing too.
    db.add_factories(rec("after"))
    assert set(db.get_all_factories()) == {*before, "after"}


CONCURRENT_WRITER = """
    import os, sys, time
    from tessel.core import database as db
    from tessel.models import FactoryRecord

    tag = sys.argv[1]
    go = os.path.join(os.environ["TESSEL_PROJECT_DIR"], "go")
    while not os.path.exists(go):
        time.sleep(0.001)
    for batch in range(40):
        db.add_factories(*(FactoryRecord(name=f"{tag}{batch:02}-{i:02}", source=tag, status="UNKNOWN",
                                         message="") for i in range(25)))
        db.remove_factories(f"{tag}{batch:02}-00")
        assert f"{tag}{batch:02}-01" in db.get_factories_by_name(f"{tag}{batch:02}-01")
"""


def test_table_made_by_another_writer_during_the_check(project, monkeypatch):
    # Another process creates the table between the check's two queries.
    path = db.get_database_path()
    path.parent.mkdir()
    with closing(sqlite3.connect(path)) as conn:
        conn.execute("PRAGMA journal_mode = WAL")

    class Racing(sqlite3.Connection):
        def execute(self, sql, *args):
            cursor = super().execute(sql, *args)
            if sql.startswith("PRAGMA table_info"):
                with closing(sqlite3.connect(path)) as other:
                    other.executescript(db._SCHEMA)
            return cursor

    monkeypatch.setattr(db, "_connect", lambda p: sqlite3.connect(p, isolation_level=None, factory=Racing))
    db.add_factories(rec("a"))
    assert list(db.get_all_factories()) == ["a"]


def test_concurrent_writers_lose_nothing(project):
    # Both start on a project without a database: creating it races as well.
    writers = [
        subprocess.Popen(
            [sys.executable, "-c", textwrap.dedent(CONCURRENT_WRITER), tag],
            env={**os.environ, "TESSEL_PROJECT_DIR": str(project)},
            stderr=subprocess.PIPE,
            text=True,
        )
        for tag in ("p", "q")
    ]
    (project / "go").touch()
    for writer in writers:
        _, err = writer.communicate(timeout=60)
        assert writer.returncode == 0, err
    stored = db.get_all_factories()
    expected = {f"{t}{b:02}-{i:02}" for t in "pq" for b in range(40) for i in range(1, 25)}
    assert set(stored) == expected
    assert {r.source for r in stored.values()} == {"p", "q"}


@pytest.fixture
def filled(project):
    db.add_factories(*(rec(f"cell{i:04}") for i in range(2000)))
    return db.get_database_path()


@pytest.mark.parametrize("kind", DAMAGES)
def test_a_damaged_database_is_named_and_never_written(filled, kind):
    damaged = damage_database(filled, kind)
    for use in (db.get_all_factories, lambda: db.add_factories(rec("new")), db.remove_factories):
        with pytest.raises(db.UnusableDatabase) as info:
            use()
        assert info.value.damaged and info.value.path == filled
        assert str(info.value).startswith(f"{filled}: ")
    assert filled.read_bytes() == damaged
    # Set aside, kept whole; the next write makes a new database.
    aside = db.move_aside()
    assert aside.read_bytes() == damaged and not filled.exists()
    db.add_factories(rec("new"))
    assert list(db.get_all_factories()) == ["new"]


def test_detached_works_in_memory_from_the_files_records(filled):
    before, stamp = filled.read_bytes(), filled.stat().st_mtime_ns
    with db.detached():
        db.add_factories(rec("new"), rec("cell0001", "ERROR", "boom"))
        db.remove_factories("cell0002")
        with pytest.raises(TypeError):  # all or nothing, as in the file
            db.add_factories(rec("newer"), "not a record")
        assert db.get_factories_by_name("cell0001", "new", "cell0002", "newer") == {
            "cell0001": rec("cell0001", "ERROR", "boom"), "new": rec("new")}
        assert len(db.get_all_factories()) == 2000
    assert (filled.read_bytes(), filled.stat().st_mtime_ns) == (before, stamp)
    assert db.get_factories_by_name("new", "cell0001") == {"cell0001": rec("cell0001")}

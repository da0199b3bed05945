"""``tessel spice -o`` and ``--out-dir``: a file replaced whole or left as it was, a device
written into, an input or a folder refused; JSON and YAML text written as it is made."""

from __future__ import annotations

import json
import os
import signal
import socket
import stat
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest
import yaml

from conftest import as_a_user
from tessel.cli import formats, main
from tessel.core import spiceread

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
MZI = EXAMPLES / "mzi.sp"
OLD = "old content\n"


@pytest.fixture(autouse=True)
def generic_project(monkeypatch, tmp_path):
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(tmp_path))
    monkeypatch.chdir(tmp_path)


def spice(capsys, *argv):
    status = main(["spice", *map(str, argv)])
    out, err = capsys.readouterr()
    return status, out, err


def mzi_json(capsys):
    status, out, _ = spice(capsys, MZI)
    assert status == 0
    return out


def umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


@pytest.mark.parametrize(
    ("kind", "mode"),
    [("new file", None), ("file of mode 600", 0o600), ("another's file", 0o644),
     ("symlink", 0o640), ("dangling symlink", None)],
)
def test_o_replaces_the_file_meant_and_keeps_its_mode_and_owner(capsys, tmp_path, kind, mode):
    real = given = tmp_path / "real.json"
    if mode is not None:
        real.write_text(OLD)
        real.chmod(mode)
    if kind == "another's file":
        if os.geteuid() != 0:
            pytest.skip("only root can give a file away")
        os.chown(real, 4321, 4321)
    if "symlink" in kind:
        given = tmp_path / "link.json"
        given.symlink_to(real)
    owner = (real.stat().st_uid, real.stat().st_gid) if mode else (os.geteuid(), os.getegid())
    assert spice(capsys, MZI, "-o", given)[0] == 0
    assert real.read_text() == mzi_json(capsys)
    assert stat.S_IMODE(real.stat().st_mode) == (mode or 0o666 & ~umask())
    assert (real.stat().st_uid, real.stat().st_gid) == owner
    assert given.is_symlink() == (given != real)
    # No temporary file is left beside it.
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted({real.name, given.name})


@pytest.fixture
def refuse_to_read(monkeypatch):
    def reader(*args, **kwargs):
        pytest.fail("the netlist was read")

    monkeypatch.setattr(spiceread, "parse_oc_spice", reader)


@pytest.mark.parametrize(
    ("inputs", "option", "message"),
    [
        (["in.sp"], ["-o", "in.sp"], "-o in.sp: is the input in.sp, which the result would replace"),
        (["in.sp"], ["-o", "link"], "-o link: is the input in.sp, which the result would replace"),
        (["in.sp"], ["-o", "folder"], "-o folder: is a folder"),
        (["in.json"], ["--out-dir", "."],
         "--out-dir .: in.json: is the input in.json, which the result would replace"),
        (["in.sp"], ["--out-dir", "deep"], "--out-dir deep: deep/in.json: is a folder"),
    ],
)
def test_outputs_that_would_destroy_are_usage_errors(capsys, tmp_path, refuse_to_read, inputs,
                                                     option, message):
    for name in inputs:
        (tmp_path / name).write_text(OLD)
    (tmp_path / "link").symlink_to("in.sp")
    (tmp_path / "folder").mkdir()
    (tmp_path / "deep" / "in.json").mkdir(parents=True)
    before = sorted(tmp_path.rglob("*"))
    assert spice(capsys, *inputs, *option) == (2, "", f"tessel spice: error: {message}\n")
    assert sorted(tmp_path.rglob("*")) == before
    assert all((tmp_path / name).read_text() == OLD for name in inputs)


@pytest.mark.parametrize("failure", ["no input read", "out of memory", "interrupted"])
def test_a_failed_run_leaves_the_old_file(capsys, tmp_path, monkeypatch, failure):
    out = tmp_path / "out.json"
    out.write_text(OLD)
    if failure == "no input read":
        argv, expected = ["missing.sp", "gone.sp"], 1
    else:
        exception = MemoryError if failure == "out of memory" else KeyboardInterrupt
        written = formats.write_netlist

        def stops_halfway(data, fmt, write):
            # Long enough for the text to reach the file before it stops.
            written(data, fmt, write)
            written(data, fmt, write)
            raise exception

        monkeypatch.setattr("tessel.cli.spice.write_netlist", stops_halfway)
        argv, expected = [MZI], 1 if exception is MemoryError else 130
    status, _, err = spice(capsys, *argv, "-o", out)
    assert status == expected and "Traceback" not in err
    if failure == "out of memory":
        assert err == "tessel: MemoryError: out of memory\n"
    assert out.read_text() == OLD and [p.name for p in tmp_path.iterdir()] == ["out.json"]


def test_a_read_only_file_is_refused_and_kept(tmp_path):
    out = tmp_path / "out.json"
    out.write_text(OLD)
    out.chmod(0o444)
    code = "import sys; from tessel.cli import main; sys.exit(main(sys.argv[1:]))"
    done = subprocess.run(as_a_user([sys.executable, "-c", code, "spice", str(MZI), "-o", str(out)]),
                          capture_output=True, text=True)
    assert (done.returncode, done.stdout) == (1, "")
    assert done.stderr == f"tessel: {out}: PermissionError: Permission denied\n"
    assert out.read_text() == OLD and stat.S_IMODE(out.stat().st_mode) == 0o444


def chain(n):
    """A netlist of `n` straights in a row."""
    nets = ["a", *(f"n{i}" for i in range(1, n)), "b"]
    return ".subckt big a b\n" + "".join(
        f"X{i} {nets[i]} {nets[i + 1]} straight length={i}\n" for i in range(n)) + ".ends\n"


BIG = chain(3000)


def fifo_reader(path, limit):
    """Read the FIFO at `path` in a thread: all of it, or `limit` bytes before closing it."""
    got = bytearray()

    def read():
        with open(path, "rb") as f:
            got.extend(f.read() if limit is None else f.read(limit))

    thread = threading.Thread(target=read)
    thread.start()
    return thread, got


@pytest.mark.parametrize("reader", ["reads all", "closes early"])
def test_a_fifo_is_written_into_and_stays_a_fifo(capsys, tmp_path, reader):
    (tmp_path / "big.sp").write_text(BIG)
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    thread, got = fifo_reader(fifo, None if reader == "reads all" else 100)
    status, out, err = spice(capsys, tmp_path / "big.sp", "-o", fifo)
    thread.join(timeout=60)
    assert stat.S_ISFIFO(fifo.lstat().st_mode)
    if reader == "reads all":
        assert (status, err) == (0, "")
        assert json.loads(got)["big"]["instances"]["X2999"]["settings"] == {"length": 2999.0}
    else:
        assert (status, err) == (1, f"tessel: {fifo}: BrokenPipeError: Broken pipe\n")


def test_a_socket_is_not_replaced(capsys, tmp_path):
    path = tmp_path / "sock"
    with socket.socket(socket.AF_UNIX) as server:
        server.bind(str(path))
        status, _, err = spice(capsys, MZI, "-o", path)
    assert status == 1 and err.startswith(f"tessel: {path}: OSError: ")
    assert stat.S_ISSOCK(path.lstat().st_mode)


def test_a_full_device_gives_status_1_and_stays_a_device(capsys, tmp_path):
    full = tmp_path / "full"
    try:
        os.mknod(full, stat.S_IFCHR | 0o666, os.makedev(1, 7))
        open(full, "w").close()
    except OSError:
        pytest.skip("no device nodes can be made here")
    status, _, err = spice(capsys, MZI, "-o", full)
    assert (status, err) == (1, f"tessel: {full}: OSError: No space left on device\n")
    assert stat.S_ISCHR(full.lstat().st_mode)


# What the standard serialisers make of the same data: the output's text is theirs.
DATA = {
    "texts": ["", "true", "1", "1.5", "null", "~", "x: y", "- a", "é \u2028 \x00\t", "a" * 90 + " b" * 40,
              "0x1F", "=", "<<", "2001-12-14", "'q'", '"dq"'],
    "numbers": [0.2, 1e17, -5.0, 1e-07, 3, -12, 10**20, True, False, None],
    "empty": [{}, [], {"": {}}],
    "nested": {"a": [{"b": [[1], {"c": None}]}]},
}


@pytest.mark.parametrize("fmt", formats.FORMATS)
@pytest.mark.parametrize("data", [DATA, "netlist"], ids=["values", "netlist"])
def test_the_text_is_the_standard_serialisers(fmt, data):
    if data == "netlist":
        data = spiceread.parse_oc_spice(EXAMPLES / "nested.sp")
    pieces: list[str] = []
    formats.write_netlist(data, fmt, pieces.append)
    if fmt == "json":
        expected = json.dumps(data, indent=2) + "\n"
    else:
        expected = yaml.dump(data, Dumper=getattr(yaml, "CSafeDumper", yaml.SafeDumper),
                             sort_keys=False, allow_unicode=True)
    assert "".join(pieces) == expected


@pytest.mark.parametrize("fmt", formats.FORMATS)
def test_a_large_netlist_is_written_in_pieces(fmt, tmp_path):
    (tmp_path / "big.sp").write_text(chain(30_000))
    netlist = spiceread.parse_oc_spice(tmp_path / "big.sp")
    pieces: list[str] = []
    formats.write_netlist(netlist, fmt, pieces.append)
    # The text never is in memory whole, only in pieces of bounded size.
    assert sum(map(len, pieces)) > 2_500_000 and max(map(len, pieces)) < 1_000_000


def test_ctrl_c_while_writing_leaves_the_old_file_and_nothing_else(tmp_path):
    out = tmp_path / "out.json"
    out.write_text(OLD)
    code = "import sys; from tessel.cli import main; sys.exit(main(sys.argv[1:]))"
    # The first result is being written while the second file, standard input, is waited for.
    writer = subprocess.Popen([sys.executable, "-c", code, "spice", str(MZI), "-", "-o", "out.json"],
                              cwd=tmp_path, stdin=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    while writer.poll() is None and not list(tmp_path.glob(".out.json.*")):
        time.sleep(0.01)
    writer.send_signal(signal.SIGINT)
    _, err = writer.communicate(timeout=120)
    assert writer.returncode == 130 and "Traceback" not in err
    assert out.read_text() == OLD and [p.name for p in tmp_path.iterdir()] == ["out.json"]

"""Latency of tessel lsp as an editor sees it: the real server over stdio, driven by
pytest-lsp's client.

Once the server is ready (its reading process has imported sax and read a first netlist):

- diagnostics: a netlist of 10,000 elements is opened and read; then, again and again, one
  character of a net name is changed, which makes a finding come or go.  Reported: the
  time from sending the change to the diagnostics of the new version, those of the outline
  phase (published first) and those with the reading's (published when the reading is
  done); the target is 300 ms for the first, with the pause the server waits for more
  typing (``DEBOUNCE``) included.  Two netlists: chains of two-port parts with settings
  and location comments, clean but for the changed net (what a designer has open), and
  the reader benchmark's (``bench_spiceread.generate``), whose open ports give some 4,000
  warnings to send and show each time.
- hover during a long reading: a buffer of 100,000 elements is opened; while its reading
  runs, hovers are asked, one after the other, on an instance of a small netlist and on
  one of the big buffer itself.  Reported: the time to each answer; the target is 50 ms.

    python benchmarks/bench_lsp.py [--elements 10000] [--big 100000] [--repeat 15]

Wall time, on a machine that may be shared: read the medians, and the CPU time the server's
process spends per change (clock ticks of /proc, 10 ms), which neighbours do not inflate.
"""

from __future__ import annotations

import argparse
import asyncio
import os
import random
import statistics
import sys
import tempfile
import time
from pathlib import Path

from lsprotocol import types as t
from pytest_lsp import LanguageClient, client_capabilities, make_test_lsp_client

sys.path.insert(0, str(Path(__file__).parent))
from bench_spiceread import generate  # noqa: E402

PUBLISHED = t.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS
SMALL = ".subckt top a b\nX1 a mid straight length=10\nX2 mid b straigth\n.ends\n"
PARTS = ("straight length={length} width=0.5u", "straight length='arm' width=0.5u",
         "bend_euler radius={radius} angle=90")


def chains(elements: int, per_subckt: int = 200, seed: int = 1) -> str:
    """Subcircuits of `per_subckt` two-port parts in a chain, every net joining two."""
    rng = random.Random(seed)
    out = ["* Chains of two-port parts."]
    for s in range(0, elements, per_subckt):
        out.append(f".subckt cell_{s // per_subckt} in out arm={rng.randint(10, 90)}")
        net = "in"
        for k in range(per_subckt):
            last = "out" if k == per_subckt - 1 else f"n{k}"
            part = rng.choice(PARTS).format(length=rng.randint(1, 400) / 4, radius=rng.choice((5, 10, 20)))
            where = f" $ location=({k * 20.5:g},{rng.randint(-500, 500)},0)" if k % 5 else ""
            out.append(f"X{k} {net} {last} {part}{where}")
            net = last
        out.append(".ends")
    return "\n".join(out) + "\n"


class Watch:
    """Every publication of diagnostics, with when it came."""

    def __init__(self, client: LanguageClient) -> None:
        self.seen: list[tuple[float, t.PublishDiagnosticsParams]] = []
        self.changed = asyncio.Event()
        client.protocol.fm.features.pop(PUBLISHED, None)

        def published(params: t.PublishDiagnosticsParams) -> None:
            self.seen.append((time.perf_counter(), params))
            self.changed.set()

        client.feature(PUBLISHED)(published)

    async def count(self, uri: str, version: int, n: int, timeout: float = 600) -> list[float]:
        """The times of the first `n` publications for `uri` at `version`."""
        async def wait() -> list[float]:
            while True:
                times = [at for at, p in self.seen if p.uri == uri and p.version == version]
                if len(times) >= n:
                    return times[:n]
                self.changed.clear()
                await self.changed.wait()
        return await asyncio.wait_for(wait(), timeout)


def open_(client: LanguageClient, uri: str, text: str) -> None:
    client.text_document_did_open(t.DidOpenTextDocumentParams(
        text_document=t.TextDocumentItem(uri=uri, language_id="spice", version=1, text=text)))


def cpu(pid: int) -> float:
    """CPU time (user and system) used so far by process `pid`, in seconds."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def stats(label: str, values: list[float]) -> str:
    ms = sorted(v * 1000 for v in values)
    return (f"{label}: median {statistics.median(ms):.0f} ms, best {ms[0]:.0f}, worst {ms[-1]:.0f} "
            f"({len(ms)} times)")


async def diagnostics(client: LanguageClient, watch: Watch, path: Path, text: str, repeat: int) -> None:
    uri = path.as_uri()
    open_(client, uri, text)
    await watch.count(uri, 1, 2)
    # The first "X0 in n0 ...": n0 -> m0 and back makes two nets of one terminal (TS106)
    # and takes them away again.
    lines = text.splitlines()
    line = next(k for k, s in enumerate(lines) if s.startswith("X0 "))
    column = lines[line].index(" n0") + 1
    outline, reading, spent = [], [], []
    pid = client._server.pid  # type: ignore[union-attr]
    for version in range(2, repeat + 2):
        change = t.TextDocumentContentChangePartial(
            range=t.Range(start=t.Position(line=line, character=column),
                          end=t.Position(line=line, character=column + 1)),
            text="m" if version % 2 == 0 else "n")
        sent, used = time.perf_counter(), cpu(pid)
        client.text_document_did_change(t.DidChangeTextDocumentParams(
            text_document=t.VersionedTextDocumentIdentifier(uri=uri, version=version), content_changes=[change]))
        first, second = await watch.count(uri, version, 2)
        spent.append(cpu(pid) - used)
        outline.append(first - sent)
        reading.append(second - sent)
    shown = len(next(p for _, p in reversed(watch.seen) if p.uri == uri).diagnostics)
    print(f"diagnostics of {path.stem} ({text.count(chr(10)):,} lines, {len(text.encode()) / 1e6:.1f} MB, "
          f"{shown:,} diagnostics) after a one-character change:")
    print("  " + stats("outline phase (target 300 ms)", outline))
    print("  " + stats("with the reading's findings", reading))
    print("  " + stats("CPU time of the server's process (both phases' publishing included)", spent))


async def hover_during_reading(client: LanguageClient, watch: Watch, folder: Path, big: int) -> None:
    small = (folder / "small.sp").as_uri()
    open_(client, small, SMALL)
    await watch.count(small, 1, 2)
    path = folder / "big.sp"
    counts = generate(path, big)
    uri = path.as_uri()
    open_(client, uri, path.read_text(encoding="utf-8"))
    await watch.count(uri, 1, 1)  # the outline phase is done: the reading starts
    read = asyncio.ensure_future(watch.count(uri, 1, 2))
    began = time.perf_counter()
    times: dict[str, list[float]] = {"small netlist": [], "the big buffer": []}
    targets = {"small netlist": (small, t.Position(line=1, character=1)),
               "the big buffer": (uri, t.Position(line=2, character=1))}
    while not read.done():
        for label, (where, position) in targets.items():
            sent = time.perf_counter()
            answer = await client.text_document_hover_async(t.HoverParams(
                text_document=t.TextDocumentIdentifier(uri=where), position=position))
            if not read.done():
                assert answer is not None, label
                times[label].append(time.perf_counter() - sent)
        await asyncio.sleep(0.02)
    print(f"hover while a reading of {counts['elements']:,} elements ({counts['bytes'] / 1e6:.1f} MB) "
          f"runs ({(read.result()[1] - began):.1f} s):")
    for label, values in times.items():
        print("  " + stats(f"on {label} (target 50 ms)", values))


async def main(args: argparse.Namespace) -> None:
    client = make_test_lsp_client()
    watch = Watch(client)
    await client.start_io(sys.executable, "-m", "tessel", "lsp")
    with tempfile.TemporaryDirectory() as name:
        folder = Path(name)
        await client.initialize_session(t.InitializeParams(
            capabilities=client_capabilities("visual-studio-code"), root_uri=folder.as_uri()))
        started = time.perf_counter()
        ready = (folder / "ready.sp").as_uri()
        open_(client, ready, SMALL)
        await watch.count(ready, 1, 2)
        print(f"server ready (sax imported, a first netlist read) in {time.perf_counter() - started:.1f} s")
        await diagnostics(client, watch, folder / "chains.sp", chains(args.elements), args.repeat)
        generated = folder / "reader_benchmark.sp"
        generate(generated, args.elements)
        await diagnostics(client, watch, generated, generated.read_text(encoding="utf-8"), args.repeat)
        await hover_during_reading(client, watch, folder, args.big)
        await client.shutdown_session()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--elements", type=int, default=10_000)
    parser.add_argument("--big", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=15)
    asyncio.run(main(parser.parse_args()))

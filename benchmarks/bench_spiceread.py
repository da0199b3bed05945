"""Speed and memory of the SPICE reader on a large generated netlist.

Generates a netlist of the generic PDK's components (by default 100,000 element
lines in 500 subcircuits, with settings, parameters, "+" continuations and
location comments), then reports for

- ``_parse_oc_spice_into_ir``: text to IR;
- ``parse_oc_spice``: text to netlist dictionary (generic PDK, port cache warm);
- ``json.loads`` of the result's JSON text: the time Python needs just to make
  the same objects, the floor the reader is compared with;

lines/s, MB/s and peak traced memory, the ratio of ``parse_oc_spice`` to
``json.loads``, and the collector's share.  The garbage collector stays in its
normal state throughout.

    python benchmarks/bench_spiceread.py [--elements N] [--subckts M] [--repeat R]
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import random
import statistics
import sys
import tempfile
import time
import tracemalloc
from collections.abc import Callable
from pathlib import Path
from typing import Any

# (component, number of terminals, settings writer)
COMPONENTS: list[tuple[str, int, Callable[[random.Random], str]]] = [
    ("straight", 2, lambda r: f"length={r.randint(1, 400) / 4} width=0.5u"),
    ("straight", 2, lambda r: "length='arm' width=0.5u"),
    ("bend_euler", 2, lambda r: f"radius={r.choice((5, 10, 20))} angle=90"),
    ("mmi1x2", 3, lambda r: "length_mmi=5.5 width_mmi=2.5u"),
    ("mmi2x2", 4, lambda r: "length_mmi=12.8 width_mmi=3.6u gap_mmi=0.25u"),
    ("coupler", 4, lambda r: f"gap=0.{r.randint(15, 30)}u length={r.randint(5, 40)}"),
    ("grating_coupler", 2, lambda r: "period=0.66u n_periods=30"),
]
WEIGHTS = [40, 10, 20, 10, 5, 10, 5]


def generate(path: Path, elements: int, subckts: int, seed: int = 1) -> dict[str, int]:
    """Write the netlist; return its counts of lines, element lines and bytes."""
    rng = random.Random(seed)
    per_subckt = -(-elements // subckts)
    out: list[str] = ["* Generated netlist for the reader's benchmark."]
    written = 0
    for s in range(subckts):
        n = min(per_subckt, elements - written)
        if n <= 0:
            break
        out.append(f".subckt cell_{s} in out arm={rng.randint(10, 90)}")
        net = "in"
        for k in range(n):
            component, terminals, settings = rng.choices(COMPONENTS, WEIGHTS)[0]
            # A chain: each element continues the previous one's net; the other
            # terminals of multi-port parts are left open (they become ports).
            last = "out" if k == n - 1 else f"n{k}"
            nets = [net, *(f"open{k}_{t}" for t in range(terminals - 2)), last]
            net = last
            line = f"X{k} {' '.join(nets)} {component}"
            if k % 8 == 3:
                line += f"\n+ {settings(rng)}"
            else:
                line += f" {settings(rng)}"
            if k % 5:
                line += f" $ location=({k * 20.5:g},{rng.randint(-500, 500)},{rng.choice((0, 90, 180, 270))})"
            out.append(line)
        out.append(".ends")
        written += n
    text = "\n".join(out) + "\n"
    path.write_text(text)
    return {"lines": text.count("\n"), "elements": written, "bytes": len(text.encode())}


def best_of(fn: Callable[[], Any], repeat: int) -> tuple[float, float]:
    """Best and median CPU time of this thread over `repeat` calls.

    CPU time of the calling thread, not wall time: the work (collector
    included) runs on it, and on a shared machine wall time mostly measures
    the neighbours.
    """
    times = []
    for _ in range(repeat):
        start = time.thread_time()
        fn()
        times.append(time.thread_time() - start)
    return min(times), statistics.median(times)


def peak_traced(fn: Callable[[], Any]) -> int:
    """Peak of memory allocated through Python's allocators while `fn` runs."""
    gc.collect()
    tracemalloc.start()
    try:
        fn()
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()


def gc_time(fn: Callable[[], Any]) -> tuple[float, float, list[int]]:
    """Wall time of one call, the collector's time inside it, and collections per generation."""
    started: list[float] = []
    spent = [0.0]
    counts = [0, 0, 0]

    def callback(phase: str, info: dict[str, int]) -> None:
        if phase == "start":
            started.append(time.thread_time())
        else:
            spent[0] += time.thread_time() - started.pop()
            counts[info["generation"]] += 1

    gc.callbacks.append(callback)
    try:
        start = time.thread_time()
        fn()
        total = time.thread_time() - start
    finally:
        gc.callbacks.remove(callback)
    return total, spent[0], counts


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--elements", type=int, default=100_000)
    parser.add_argument("--subckts", type=int, default=500)
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args(argv)

    # No project: the generic PDK.
    os.environ["TESSEL_PROJECT_DIR"] = tempfile.mkdtemp(prefix="bench-spiceread-")
    import tessel.core.spiceread as sr

    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "large.sp"
        counts = generate(path, args.elements, args.subckts)
        mb = counts["bytes"] / 1e6
        print(f"netlist: {counts['elements']:,} element lines, {counts['lines']:,} lines, "
              f"{mb:.1f} MB, {args.subckts} subcircuits")

        result = sr.parse_oc_spice(path)  # imports sax, fills the port cache
        text = json.dumps(result)
        del result

        rows = []

        def report(label: str, fn: Callable[[], Any]) -> float:
            best, median = best_of(fn, args.repeat)
            peak = peak_traced(fn)
            rows.append((label, best, median, counts["lines"] / best,
                         counts["elements"] / best, mb / best, peak / 1e6))
            return best

        t_ir = report("_parse_oc_spice_into_ir", lambda: sr._parse_oc_spice_into_ir(path, {}))
        t_parse = report("parse_oc_spice", lambda: sr.parse_oc_spice(path))
        t_json = report("json.loads (same result)", lambda: json.loads(text))
        ir, comments = sr._parse_oc_spice_into_ir(path, {})
        t_assembly = report("  assembly alone (IR given)",
                            lambda: sr._recursive_netlist_from_ir(ir, {}, comments))
        del ir, comments

        print(f"\n{'CPU time of the thread':28s} {'best ms':>9s} {'median':>9s} {'lines/s':>11s} "
              f"{'elements/s':>11s} {'MB/s':>7s} {'peak MB':>8s}")
        for label, best, median, lps, eps, mbps, peak in rows:
            print(f"{label:28s} {best * 1e3:9.1f} {median * 1e3:9.1f} {lps:11,.0f} "
                  f"{eps:11,.0f} {mbps:7.1f} {peak:8.1f}")

        print(f"\nparse_oc_spice / json.loads: {t_parse / t_json:.2f} (target <= 1.5)")
        print(f"  text -> IR: {t_ir / t_parse:.0%} of parse_oc_spice, "
              f"IR -> netlist: {t_assembly / t_parse:.0%}")

        for label, fn in (("parse_oc_spice", lambda: sr.parse_oc_spice(path)),
                          ("json.loads", lambda: json.loads(text))):
            tracked = len(gc.get_objects())
            total, collecting, per_gen = gc_time(fn)
            print(f"  collector in one {label}: {collecting * 1e3:.0f} of {total * 1e3:.0f} ms "
                  f"(collections per generation {per_gen}, {tracked:,} tracked objects "
                  "before)")
    return 0


if __name__ == "__main__":
    sys.exit(main())

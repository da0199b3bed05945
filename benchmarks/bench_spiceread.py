"""Speed and memory of the SPICE reader on large generated netlists.

For each size (by default 10,000, 100,000 and 1,000,000 element lines, 200 per
subcircuit, with settings, parameters, "+" continuations and location
comments) it reports, side by side in one run:

- ``parse_oc_spice``: text to netlist dictionary (generic PDK, port cache warm);
- ``_parse_oc_spice_into_ir``: text to the IR of Python records;
- ``json.loads`` of the JSON text of ``parse_oc_spice``'s result: what Python's
  C decoder needs to make the same objects, the yardstick;
- ``pickle.loads`` of the pickled IR: the same for the IR;

each with the cyclic collector on and off (best and median of the repeats,
CPU time of the thread), and the peak memory of one reading against the size
of its result plus the text, measured in a fresh process.

    python benchmarks/bench_spiceread.py [--sizes 10000,100000,1000000] [--repeat 9]
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import pickle
import random
import statistics
import subprocess
import sys
import tempfile
import time
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
PER_SUBCKT = 200


def generate(path: Path, elements: int, per_subckt: int = PER_SUBCKT, seed: int = 1) -> dict[str, int]:
    """Write the netlist; return its counts of lines, element lines and bytes."""
    rng = random.Random(seed)
    out: list[str] = ["* Generated netlist for the reader's benchmark."]
    written = s = 0
    while written < elements:
        n = min(per_subckt, elements - written)
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
            line += f"\n+ {settings(rng)}" if k % 8 == 3 else f" {settings(rng)}"
            if k % 5:
                line += f" $ location=({k * 20.5:g},{rng.randint(-500, 500)},{rng.choice((0, 90, 180, 270))})"
            out.append(line)
        out.append(".ends")
        written += n
        s += 1
    text = "\n".join(out) + "\n"
    path.write_text(text, encoding="utf-8")
    return {"lines": text.count("\n"), "elements": written, "bytes": len(text.encode())}


def timings(fn: Callable[[], Any], repeat: int, collector: bool) -> tuple[float, float]:
    """Best and median CPU time of this thread over `repeat` calls, in seconds.

    CPU time of the calling thread, not wall time: the work (collector
    included) runs on it, and on a shared machine wall time mostly measures
    the neighbours.  A result is dropped before the next call starts.
    """
    times = []
    for _ in range(repeat):
        gc.collect()
        if not collector:
            gc.disable()
        try:
            start = time.thread_time()
            result = fn()
            times.append(time.thread_time() - start)
        finally:
            gc.enable()
        del result
    return min(times), statistics.median(times)


# Runs in a fresh process: the peak resident memory of one reading, against
# the memory its result holds once the reading is over.
MEMORY_PROBE = r"""
import gc, json, os, sys
from pathlib import Path
import tessel.core.spiceread as sr

def rss(field):
    for line in open("/proc/self/status"):
        if line.startswith(field):
            return int(line.split()[1]) * 1024
path, which = Path(sys.argv[1]), sys.argv[2]
sr.parse_oc_spice(Path(sys.argv[3]))  # imports sax, fills the port cache
read = {"parse_oc_spice": lambda: sr.parse_oc_spice(path),
        "_parse_oc_spice_into_ir": lambda: sr._parse_oc_spice_into_ir(path, {})}[which]
gc.collect()
before = rss("VmRSS:")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # resets the peak
result = read()
peak = rss("VmHWM:")
gc.collect()
held = rss("VmRSS:")
print(json.dumps({"peak": peak - before, "result": held - before}))
"""


def memory(path: Path, small: Path, which: str) -> dict[str, int] | None:
    if not os.path.exists("/proc/self/clear_refs"):
        return None
    done = subprocess.run([sys.executable, "-c", MEMORY_PROBE, str(path), which, str(small)],
                          capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="10000,100000,1000000",
                        help="element lines per netlist, comma-separated")
    parser.add_argument("--repeat", type=int, default=9)
    args = parser.parse_args(argv)
    sizes = [int(s) for s in args.sizes.split(",")]

    # No project: the generic PDK.
    os.environ["TESSEL_PROJECT_DIR"] = tempfile.mkdtemp(prefix="bench-spiceread-")
    import tessel.core.spiceread as sr

    print(f"Python {sys.version.split()[0]}, best / median of {args.repeat} runs, "
          "CPU time of the thread (ms)\n")
    header = (f"{'elements':>9s} {'step':26s} {'collector on':>17s} {'collector off':>17s} "
              f"{'us/element':>10s}")
    print(header)
    summary = []
    with tempfile.TemporaryDirectory() as tmp:
        small = Path(tmp) / "small.sp"
        generate(small, 50)
        sr.parse_oc_spice(small)
        for size in sizes:
            path = Path(tmp) / f"n{size}.sp"
            counts = generate(path, size)
            result = sr.parse_oc_spice(path)
            text = json.dumps(result)
            del result
            ir_pickle = pickle.dumps(sr._parse_oc_spice_into_ir(path, {}), protocol=pickle.HIGHEST_PROTOCOL)
            steps = {
                "parse_oc_spice": lambda: sr.parse_oc_spice(path),
                "json.loads (same result)": lambda: json.loads(text),
                "_parse_oc_spice_into_ir": lambda: sr._parse_oc_spice_into_ir(path, {}),
                "pickle.loads (same IR)": lambda: pickle.loads(ir_pickle),
            }
            medians = {}
            for label, fn in steps.items():
                on = timings(fn, args.repeat, True)
                off = timings(fn, args.repeat, False)
                medians[label] = (on[1], off[1])
                print(f"{size:9,d} {label:26s} {on[0] * 1e3:8.0f} {on[1] * 1e3:8.0f} "
                      f"{off[0] * 1e3:8.0f} {off[1] * 1e3:8.0f} {off[1] / size * 1e6:10.2f}")
            parse, loads = medians["parse_oc_spice"], medians["json.loads (same result)"]
            mem = memory(path, small, "parse_oc_spice")
            summary.append((size, counts, parse, loads, mem))
            del text, ir_pickle

    print("\nparse_oc_spice against json.loads of its result (medians; target <= 1.0 with "
          "the collector on, <= 0.8 off), and the peak memory of one reading against its "
          "result plus the text (target <= 1.2):")
    per_element = {}
    for size, counts, parse, loads, mem in summary:
        per_element[size] = parse[1] / size
        line = (f"{size:9,d}: on {parse[0] / loads[0]:.2f}, off {parse[1] / loads[1]:.2f}, "
                f"{counts['bytes'] / 1e6:.1f} MB of text")
        if mem:
            own = mem["result"] + counts["bytes"]
            line += (f"; peak {mem['peak'] / 1e6:.0f} MB, result {mem['result'] / 1e6:.0f} MB: "
                     f"{mem['peak'] / own:.2f}")
        print(line)
    if 100_000 in per_element and 1_000_000 in per_element:
        print(f"time per element at 1,000,000 / at 100,000 (collector off): "
              f"{per_element[1_000_000] / per_element[100_000]:.2f} (target <= 1.25)")
    return 0


if __name__ == "__main__":
    sys.exit(main())

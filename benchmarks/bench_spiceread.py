"""Speed and memory of the SPICE reader on large generated netlists.

For each shape and size (by default 10,000, 100,000 and 1,000,000 element
lines) it reports, side by side in one run, the steps' repeats interleaved:

- ``parse_oc_spice``: text to netlist dictionary (generic PDK, port cache warm);
- ``_parse_oc_spice_into_ir``: text to the IR of Python records;
- ``json.loads`` of the JSON text of ``parse_oc_spice``'s result: what Python's
  C decoder needs to make the same objects, the yardstick;
- ``pickle.loads`` of the pickled IR: the same for the IR;

each with the cyclic collector on and off (best and median of the repeats,
CPU time of the thread), the peak memory of one reading against the size of
its result plus the text (measured in a fresh process), and how much of a
reading is the PDK's own: a reading with the port cache warm against one whose
``get_pdk`` hands back the active PDK at once (``ts_pdk`` rebound to a
stand-in, so that the port look-ups that miss the cache still ask the same
PDK, but skip the PDK module's logging and activation), and a reading with
the cache emptied first against one with it warm.

Two shapes:

- ``chains``: subcircuits of 200 element lines of the generic PDK's
  components, one to three settings each, a subcircuit parameter in single
  quotes, a "+" continuation on every eighth element and a location comment
  on four elements of five;
- ``mixed``: some hundreds of subcircuits of 50 to 500 elements, a sixth of
  them R and C lines with plain values, half the element lines with location
  comments, one in ten with a "+" continuation, quoted references to the
  subcircuit's parameters, and instances of earlier subcircuits (more names
  than the port cache holds, so its misses ask the PDK).

    python benchmarks/bench_spiceread.py [--shapes chains,mixed] [--sizes 10000,100000,1000000] [--repeat 9]
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
import types
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


def write(path: Path, lines: list[str], elements: int) -> dict[str, int]:
    """Write the netlist's lines; return its counts of lines, element lines and bytes."""
    text = "\n".join(lines) + "\n"
    path.write_text(text, encoding="utf-8")
    return {"lines": text.count("\n"), "elements": elements, "bytes": len(text.encode())}


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
    return write(path, out, written)


def generate_mixed(path: Path, elements: int, seed: int = 2) -> dict[str, int]:
    """The second shape: subcircuits of 50 to 500 elements, R and C lines,
    instances of earlier subcircuits; returns the counts like `generate`."""
    rng = random.Random(seed)
    out: list[str] = ["* Generated netlist of mixed shape for the reader's benchmark."]
    written = s = 0
    while written < elements:
        n = min(rng.randint(50, 500), elements - written)
        out.append(f".subckt blk_{s} a b arm={rng.randint(10, 90)} w0={rng.randint(1, 9) / 10}u gap0=0.{rng.randint(15, 30)}u")
        net = "a"
        for k in range(n):
            last = "b" if k == n - 1 else f"n{k}"
            kind = rng.random()
            if kind < 1 / 12:
                line = f"R{k} {net} {last} r={rng.randint(1, 999)}"
            elif kind < 1 / 6:
                line = f"C{k} {net} {last} c={rng.randint(1, 99)}e-15"
            elif kind < 0.19 and s > 0:
                line = f"X{k} {net} {last} blk_{rng.randrange(s)}"
            else:
                component, terminals, settings = rng.choices(COMPONENTS, WEIGHTS)[0]
                nets = [net, *(f"open{k}_{t}" for t in range(terminals - 2)), last]
                quoted = rng.choice(("width='w0'", "gap='gap0'", "width=0.45u"))
                line = f"X{k} {' '.join(nets)} {component} {settings(rng)} {quoted}"
            net = last
            if k % 10 == 7:
                head, _, tail = line.rpartition(" ")
                line = f"{head}\n+ {tail}"
            if k % 2:
                line += f" $ location=({k * 12.5:g},{rng.randint(-900, 900)},{rng.choice((0, 90, 180, 270))})"
            out.append(line)
        out.append(".ends")
        written += n
        s += 1
    return write(path, out, written)


SHAPES = {"chains": generate, "mixed": generate_mixed}


def interleaved(steps: dict[str, Callable[[], Any]], repeat: int) -> dict[str, tuple[list[float], list[float]]]:
    """CPU times of this thread, in seconds, of each step with the collector on
    and off, the steps taking turns in each of `repeat` rounds.

    CPU time of the calling thread, not wall time: the work (collector
    included) runs on it, and on a shared machine wall time mostly measures
    the neighbours.  A result is dropped before the next call starts.
    """
    times: dict[str, tuple[list[float], list[float]]] = {label: ([], []) for label in steps}
    for _ in range(repeat):
        for label, fn in steps.items():
            for collector, into in zip((True, False), times[label]):
                gc.collect()
                if not collector:
                    gc.disable()
                try:
                    start = time.thread_time()
                    result = fn()
                    into.append(time.thread_time() - start)
                finally:
                    gc.enable()
                del result
    return times


# What a probe run in a fresh process starts with: the kernel's resident
# memory, and a reset of its peak.
PROBE_PRELUDE = r"""
def rss(field):
    for line in open("/proc/self/status"):
        if line.startswith(field):
            return int(line.split()[1]) * 1024

def reset_peak():
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
"""


def run_probe(probe: str, *args: object, env: dict[str, str] | None = None) -> dict[str, int] | None:
    """The JSON that `probe` prints, run in a fresh process; None where peaks cannot be reset."""
    if not os.path.exists("/proc/self/clear_refs"):
        return None
    done = subprocess.run([sys.executable, "-c", PROBE_PRELUDE + probe, *map(str, args)],
                          capture_output=True, text=True, check=True, env=env)
    return json.loads(done.stdout)


# The peak resident memory of one reading, against the memory its result
# holds once the reading is over.
MEMORY_PROBE = r"""
import gc, json, os, sys
from pathlib import Path
import tessel.core.spiceread as sr

path, which = Path(sys.argv[1]), sys.argv[2]
sr.parse_oc_spice(Path(sys.argv[3]))  # imports sax, fills the port cache
read = {"parse_oc_spice": lambda: sr.parse_oc_spice(path),
        "_parse_oc_spice_into_ir": lambda: sr._parse_oc_spice_into_ir(path, {})}[which]
gc.collect()
before = rss("VmRSS:")
reset_peak()
result = read()
peak = rss("VmHWM:")
gc.collect()
held = rss("VmRSS:")
print(json.dumps({"peak": peak - before, "result": held - before}))
"""


def memory(path: Path, small: Path, which: str) -> dict[str, int] | None:
    return run_probe(MEMORY_PROBE, path, which, small)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shapes", default="chains,mixed", help="netlist shapes, comma-separated")
    parser.add_argument("--sizes", default="10000,100000,1000000",
                        help="element lines per netlist, comma-separated")
    parser.add_argument("--repeat", type=int, default=9)
    args = parser.parse_args(argv)
    sizes = [int(s) for s in args.sizes.split(",")]
    shapes = args.shapes.split(",")

    # No project: the generic PDK, whose look-ups are cheap dict look-ups.
    os.environ["TESSEL_PROJECT_DIR"] = tempfile.mkdtemp(prefix="bench-spiceread-")
    import tessel.core.spiceread as sr

    print(f"Python {sys.version.split()[0]}, best / median of {args.repeat} runs, "
          "CPU time of the thread (ms)\n")
    print(f"{'shape':>6s} {'elements':>9s} {'step':28s} {'collector on':>17s} {'collector off':>17s} "
          f"{'us/element':>10s}")
    summary = []
    with tempfile.TemporaryDirectory() as tmp:
        small = Path(tmp) / "small.sp"
        generate(small, 50)
        sr.parse_oc_spice(small)
        active = sr.ts_pdk.get_pdk()
        stand_in = types.SimpleNamespace(get_pdk=lambda: active)
        for shape in shapes:
            for size in sizes:
                path = Path(tmp) / f"{shape}{size}.sp"
                counts = SHAPES[shape](path, size)
                result = sr.parse_oc_spice(path)
                text = json.dumps(result)

                def cheap_pdk():
                    module, sr.ts_pdk = sr.ts_pdk, stand_in
                    try:
                        return sr.parse_oc_spice(path)
                    finally:
                        sr.ts_pdk = module

                assert cheap_pdk() == result, "the PDK stand-in changed the netlist"
                del result
                ir_pickle = pickle.dumps(sr._parse_oc_spice_into_ir(path, {}), protocol=pickle.HIGHEST_PROTOCOL)

                def cold():
                    sr._get_ports.cache_clear()
                    return sr.parse_oc_spice(path)

                steps = {
                    "parse_oc_spice": lambda: sr.parse_oc_spice(path),
                    "json.loads (same result)": lambda: json.loads(text),
                    "_parse_oc_spice_into_ir": lambda: sr._parse_oc_spice_into_ir(path, {}),
                    "pickle.loads (same IR)": lambda: pickle.loads(ir_pickle),
                    "parse_oc_spice, cache cold": cold,
                    "parse_oc_spice, PDK stand-in": cheap_pdk,
                }
                medians = {}
                for label, (on, off) in interleaved(steps, args.repeat).items():
                    medians[label] = (statistics.median(on), statistics.median(off))
                    print(f"{shape:>6s} {size:9,d} {label:28s} {min(on) * 1e3:8.0f} {medians[label][0] * 1e3:8.0f} "
                          f"{min(off) * 1e3:8.0f} {medians[label][1] * 1e3:8.0f} {medians[label][1] / size * 1e6:10.2f}")
                mem = memory(path, small, "parse_oc_spice")
                summary.append((shape, size, counts, medians, mem))
                del text, ir_pickle

    print("\nparse_oc_spice against json.loads of its result (medians; target <= 1.0 with "
          "the collector on, <= 0.8 off), first with the PDK stand-in and then with the PDK "
          "module itself; the PDK's own time (collector off: the module less the stand-in, "
          "and the cold cache less the warm one); and the peak memory of one reading against "
          "its result plus the text (target <= 1.2):")
    per_element: dict[tuple[str, int], tuple[float, float]] = {}
    for shape, size, counts, medians, mem in summary:
        parse, cheap = medians["parse_oc_spice"], medians["parse_oc_spice, PDK stand-in"]
        loads = medians["json.loads (same result)"]
        module = max(0.0, parse[1] - cheap[1])
        cold = max(0.0, medians["parse_oc_spice, cache cold"][1] - parse[1])
        per_element[shape, size] = (cheap[1] / size, parse[1] / size)
        line = (f"{shape:>6s} {size:9,d}: on {cheap[0] / loads[0]:.2f} / {parse[0] / loads[0]:.2f}, "
                f"off {cheap[1] / loads[1]:.2f} / {parse[1] / loads[1]:.2f}, "
                f"PDK {module * 1e3:.1f} ms ({module / parse[1]:.1%}) + cold {cold * 1e3:.1f} ms, "
                f"{counts['bytes'] / 1e6:.1f} MB of text")
        if mem:
            own = mem["result"] + counts["bytes"]
            line += (f"; peak {mem['peak'] / 1e6:.0f} MB, result {mem['result'] / 1e6:.0f} MB: "
                     f"{mem['peak'] / own:.2f}")
        print(line)
    for shape in shapes:
        if (shape, 100_000) in per_element and (shape, 1_000_000) in per_element:
            (small_cheap, small_parse), (large_cheap, large_parse) = (
                per_element[shape, 100_000], per_element[shape, 1_000_000])
            print(f"{shape}: time per element at 1,000,000 / at 100,000 (collector off): "
                  f"{large_cheap / small_cheap:.2f} with the stand-in, {large_parse / small_parse:.2f} "
                  "with the module (target <= 1.25)")
    return 0


if __name__ == "__main__":
    sys.exit(main())

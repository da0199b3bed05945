"""Throughput and memory of the road from netlist text to the IR.

Generates a netlist of N element lines (default 100,000) spread over many
subcircuits, with settings, "+" continuations, comments and location
annotations, and times `_parse_oc_spice_into_ir` on it.  Peak memory is
measured with tracemalloc over the parse alone, next to the size of the text
and of the IR it returns.

    python benchmarks/ir_throughput.py [N] [repeats]
"""

from __future__ import annotations

import gc
import io
import random
import sys
import time
import tracemalloc

from tessel.core import spiceread as sr


def make_netlist(elements: int, seed: int = 1) -> str:
    rng = random.Random(seed)
    out = ["* generated netlist", ""]
    made, sub = 0, 0
    while made < elements:
        nets = [f"n{k}" for k in range(rng.randint(4, 12))]
        out.append(f".subckt cell{sub} {nets[0]} {nets[1]} width=0.5u length='l0' gap=2")
        for _ in range(rng.randint(20, 200)):
            a, b = rng.sample(nets, 2)
            kind = rng.random()
            if kind < 0.2:
                out.append(f"R{made} {a} {b} r=10k $ resistor")
            elif kind < 0.3:
                out.append(f"E{made} {a} {b} vcvs in{made % 7} 2.5")
            elif kind < 0.6:
                out.append(f"X{made} {a} {b} mmi1x2 width=0.5u length=10.0")
                out.append(f"+ gap={rng.random():.3f} * location=[{made},{sub},0]")
            else:
                out.append(f"X{made}  {a}\t{b} straight length={rng.randint(1, 99)}u")
            made += 1
            if made >= elements:
                break
        out.append(".ends")
        out.append("")
        sub += 1
    return "\n".join(out)


def main() -> None:
    elements = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    text = make_netlist(elements)
    size = len(text.encode())
    lines = text.count("\n") + 1
    relevant = sum(1 for _ in sr._iter_relevant_lines(text))
    kwargs = {"l0": 1.0}

    best = float("inf")
    for _ in range(repeats):
        t0 = time.perf_counter()
        ir, comments = sr._parse_oc_spice_into_ir(io.StringIO(text), {}, **kwargs)
        best = min(best, time.perf_counter() - t0)
        del ir, comments

    t0 = time.perf_counter()
    count = sum(1 for _ in sr._iter_relevant_lines(text))
    scan = time.perf_counter() - t0
    assert count == relevant

    # Memory of the build alone: the text is already a string, so what is
    # traced beyond the IR is what the road itself holds on the way.
    gc.collect()
    tracemalloc.start()
    ir, comments = sr._parse_into_ir(sr._iter_relevant_lines(text), {}, **kwargs)
    current, peak = tracemalloc.get_traced_memory()
    tracemalloc.stop()

    mb = size / 1e6
    print(f"text: {mb:.1f} MB, {lines} file lines, {relevant} relevant lines, {len(ir)} records")
    print(f"parse to IR: {best * 1e3:.0f} ms = {relevant / best / 1e6:.2f} M lines/s, {mb / best:.1f} MB/s")
    print(f"relevant-line stream alone (host strings): {scan * 1e3:.0f} ms, {mb / scan:.0f} MB/s")
    print(f"memory: IR held {current / 1e6:.1f} MB, peak during the build {peak / 1e6:.1f} MB "
          f"(text itself {sys.getsizeof(text) / 1e6:.1f} MB, not traced)")


if __name__ == "__main__":
    main()

"""Size and speed of the page that ``tessel show`` writes, on large generated netlists.

For each size (by default 1,000, 10,000 and 100,000 instances, all in one subcircuit: a
chain of straights and bends in rows of 100, each instance placed, or a share of them left
to the automatic layout) it reports:

- the page's size;
- the time to produce it: reading, checking, drawing and writing, as ``tessel show`` does,
  in a process that has already imported what it needs (the circuit library alone takes
  seconds to import): best of the repeats, wall time and CPU time of the process;
- in headless Chromium: the time from navigation to the first paint of the drawing, and
  the frame time while the drawing is panned, zoomed out to the whole sheet and zoomed in.

    python benchmarks/bench_show.py [--sizes 1000,10000,100000] [--unplaced 0.0,1.0]
                                    [--repeat 3] [--browser /usr/bin/chromium]
"""

from __future__ import annotations

import argparse
import contextlib
import io
import sys
import tempfile
import time
from pathlib import Path

ROW = 100


def generate(path: Path, count: int, unplaced: float) -> None:
    """A chain of `count` two-port instances, snaking through rows of ROW; every instance
    whose position in the chain falls in the `unplaced` share has no location comment."""
    lines = ["* Generated netlist for the drawing's benchmark.", ".subckt chain in out"]
    every = round(1 / unplaced) if unplaced > 0 else 0
    for k in range(count):
        row, col = divmod(k, ROW)
        x = (col if row % 2 == 0 else ROW - 1 - col) * 30
        rotation = 0 if row % 2 == 0 else 180
        left = "in" if k == 0 else f"n{k}"
        right = "out" if k == count - 1 else f"n{k + 1}"
        part = f"straight length={10 + k % 7}" if k % 3 else "bend_euler radius=10"
        where = "" if every and k % every == 0 else f"  $ location=({x},{-row * 20},{rotation})"
        lines.append(f"X{k} {left} {right} {part}{where}")
    lines.append(".ends")
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")


def produce(source: Path, out: Path) -> tuple[float, float]:
    """Wall and CPU seconds of one ``tessel show``."""
    from tessel.cli import main

    wall, cpu = time.perf_counter(), time.process_time()
    with contextlib.redirect_stderr(io.StringIO()):
        status = main(["show", str(source), "-o", str(out), "-q"])
    wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
    if status != 0:
        raise SystemExit(f"tessel show failed on {source} ({status})")
    return wall, cpu


_FRAMES = """async (steps) => {
  const main = document.querySelector("main");
  const r = main.getBoundingClientRect();
  const at = (x, y) => ({clientX: r.left + x, clientY: r.top + y, pointerId: 1, button: 0, bubbles: true});
  main.dispatchEvent(new PointerEvent("pointerdown", at(300, 300)));
  const times = [];
  let last = await new Promise(requestAnimationFrame);
  for (let k = 1; k <= steps; k++) {
    main.dispatchEvent(new PointerEvent("pointermove", at(300 + k * 3, 300 + k)));
    const now = await new Promise(requestAnimationFrame);
    times.push(now - last);
    last = now;
  }
  main.dispatchEvent(new PointerEvent("pointerup", at(300 + steps * 3, 300 + steps)));
  times.sort((a, b) => a - b);
  return {median: times[times.length >> 1], worst: times[times.length - 1]};
}"""


def browse(page_path: Path, browser: str) -> dict[str, float]:
    from playwright.sync_api import sync_playwright

    with sync_playwright() as p:
        b = p.chromium.launch(executable_path=browser)
        page = b.new_page(viewport={"width": 1400, "height": 900})
        page.goto(page_path.as_uri(), wait_until="commit", timeout=300_000)
        page.wait_for_selector("body[data-ready]", state="attached", timeout=300_000)
        painted = page.evaluate("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(t => r(t))))")
        whole = page.evaluate(_FRAMES, 60)
        page.evaluate("document.querySelector('main').dispatchEvent(new WheelEvent('wheel', "
                      "{deltaY: -2500, clientX: 700, clientY: 450, bubbles: true, cancelable: true}))")
        close = page.evaluate(_FRAMES, 60)
        b.close()
    return {"paint": painted / 1000, "whole": whole["median"], "whole_worst": whole["worst"],
            "close": close["median"], "close_worst": close["worst"]}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="1000,10000,100000")
    parser.add_argument("--unplaced", default="0.0,1.0", help="shares of instances without a location")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--browser", default="/usr/bin/chromium")
    args = parser.parse_args()
    print("| instances | unplaced | page | produce, wall / CPU (s) | first paint (s) "
          "| pan frame, whole sheet (ms) | pan frame, zoomed in (ms) |")
    print("|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as folder:
        warm = Path(folder, "warm.sp")
        generate(warm, 10, 0.0)
        produce(warm, Path(folder, "warm.html"))
        for count in map(int, args.sizes.split(",")):
            for share in map(float, args.unplaced.split(",")):
                source, out = Path(folder, f"chain{count}.sp"), Path(folder, f"chain{count}.html")
                generate(source, count, share)
                runs = [produce(source, out) for _ in range(args.repeat)]
                wall, cpu = min(w for w, _ in runs), min(c for _, c in runs)
                seen = browse(out, args.browser) if Path(args.browser).exists() else None
                size = out.stat().st_size / 1e6
                shown = (f"{seen['paint']:.2f} | {seen['whole']:.0f} (worst {seen['whole_worst']:.0f}) | "
                         f"{seen['close']:.0f} (worst {seen['close_worst']:.0f})" if seen else "- | - | -")
                print(f"| {count:,} | {share:.0%} | {size:.1f} MB | {wall:.2f} / {cpu:.2f} | {shown} |",
                      flush=True)
    print(f"\nPython {sys.version.split()[0]}; frame times are medians of 60 frames.")


if __name__ == "__main__":
    main()

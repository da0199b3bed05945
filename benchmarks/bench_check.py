"""tessel check on inputs that once took minutes, on a large netlist, and on the public corpus.

```sh
python benchmarks/bench_check.py [--megabytes 50] [--corpus ../shared/corpus/files]
```

Times `check_text` (both phases: the outline's checks and the reading's) in CPU seconds of the
calling thread, per input and per MB:

- a value of 100,000 digits, and a line of 200,000 ports (each once quadratic);
- a netlist of the reader's benchmark (`bench_spiceread.generate`) of about `--megabytes` MB;
- every file of the corpus in one call, after a first reading has imported the reader's
  circuit library (as `tessel check` does once per run).

The peak memory of checking the large netlist is measured in a fresh process (peak resident
set, reset through /proc/self/clear_refs) against that of `parse_oc_spice` on the same file.
"""

from __future__ import annotations

import argparse
import gc
import os
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from bench_spiceread import generate, run_probe  # noqa: E402

from tessel.check import check_netlist, check_text  # noqa: E402

EXAMPLE = Path(__file__).resolve().parents[1] / "examples" / "mzi.sp"

MEMORY_PROBE = r"""
import gc, json, sys, warnings
from pathlib import Path
from tessel.check import check_netlist
import tessel.core.spiceread as sr

path, which = Path(sys.argv[1]), sys.argv[2]
sr.parse_oc_spice(Path(sys.argv[3]))  # imports sax, fills the port cache
warnings.simplefilter("ignore")
run = {"check": lambda: check_netlist(path), "spice": lambda: sr.parse_oc_spice(path)}[which]
gc.collect()
before = rss("VmRSS:")
reset_peak()
result = run()
print(json.dumps({"peak": rss("VmHWM:") - before}))
"""


def cpu(fn) -> float:
    gc.collect()
    start = time.thread_time()
    fn()
    return time.thread_time() - start


def peak(path: Path, which: str) -> int | None:
    measured = run_probe(MEMORY_PROBE, path, which, EXAMPLE, env={**os.environ, "TESSEL_PDK": "generic"})
    return None if measured is None else measured["peak"]


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--megabytes", type=float, default=50.0)
    parser.add_argument("--corpus", type=Path,
                        default=Path(__file__).resolve().parents[2] / "shared" / "corpus" / "files")
    args = parser.parse_args(argv)
    os.environ.setdefault("TESSEL_PDK", "generic")
    check_netlist(EXAMPLE)  # imports the reader's circuit library
    gc.freeze()

    cases = {
        "value of 100,000 digits": ".subckt t a b\nX1 a b straight length=" + "1" * 100_000 + "\n.ends\n",
        "line of 200,000 ports": ".subckt t a\nX1 a " + " ".join(f"n{k}" for k in range(200_000)) + " straight\n.ends\n",
    }
    print(f"{'input':<28} {'MB':>7} {'CPU s':>8} {'s/MB':>7} {'findings':>9}")
    for name, text in cases.items():
        found: list = []
        seconds = cpu(lambda: found.extend(check_text(text)))
        mb = len(text.encode()) / 1e6
        print(f"{name:<28} {mb:7.2f} {seconds:8.3f} {seconds / mb:7.3f} {len(found):9}")

    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "large.sp"
        counts = generate(path, int(args.megabytes * 1e6 / 72))
        mb = counts["bytes"] / 1e6
        found = []
        seconds = cpu(lambda: found.extend(check_netlist(path)))
        print(f"{'netlist of ' + format(counts['elements'], ',') + ' elements':<28} {mb:7.2f} {seconds:8.3f} "
              f"{seconds / mb:7.3f} {len(found):9}")
        check_peak, spice_peak = peak(path, "check"), peak(path, "spice")
        if check_peak and spice_peak:
            print(f"peak memory: check {check_peak / 1e6:.0f} MB, parse_oc_spice {spice_peak / 1e6:.0f} MB "
                  f"({check_peak / spice_peak:.2f}x)")

    files = sorted(p for p in args.corpus.rglob("*") if p.is_file()) if args.corpus.is_dir() else []
    if files:
        total = sum(p.stat().st_size for p in files) / 1e6
        findings = 0

        def corpus() -> None:
            nonlocal findings
            for p in files:
                findings += len(check_netlist(p))

        seconds = cpu(corpus)
        print(f"{'corpus: ' + str(len(files)) + ' files':<28} {total:7.2f} {seconds:8.3f} {seconds / total:7.3f} "
              f"{findings:9}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

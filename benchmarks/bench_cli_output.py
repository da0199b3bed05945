"""Peak memory and time of ``tessel spice -o`` against ``parse_oc_spice`` on the same netlist.

Each run is a fresh process on the netlist of ``bench_spiceread.py`` (by default 1,000,000
elements); its peak resident memory is the kernel's (``ru_maxrss`` of the child), so that
the interpreter, ``sax`` and its numerical stack count for both alike.  The output is
written as it is serialised, so ``tessel spice -o`` should stay within about 1.5 times
the peak of the reading alone.

    python benchmarks/bench_cli_output.py [--sizes 1000000] [--formats json,yaml]
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from bench_spiceread import generate

READ = "import sys; from tessel.core.spiceread import parse_oc_spice; parse_oc_spice(sys.argv[1])"
TESSEL = "import sys; from tessel.cli import main; sys.exit(main(sys.argv[1:]))"


def run(*args: str) -> tuple[float, float, int]:
    """Wall time, CPU time (s) and peak resident memory (bytes) of `python -c ARGS...`."""
    start = time.monotonic()
    process = subprocess.Popen([sys.executable, "-c", *args], stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode:
        raise SystemExit(f"{args[1:]} failed with status {process.returncode}")
    return time.monotonic() - start, usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="1000000", help="element lines, comma-separated")
    parser.add_argument("--formats", default="json,yaml", help="output formats, comma-separated")
    args = parser.parse_args(argv)
    # No project: the generic PDK.
    os.environ["TESSEL_PROJECT_DIR"] = tempfile.mkdtemp(prefix="bench-cli-output-")
    print(f"Python {sys.version.split()[0]}; peak resident memory of the whole process\n")
    print(f"{'elements':>9s} {'run':28s} {'wall s':>7s} {'cpu s':>7s} {'peak MB':>8s} "
          f"{'output MB':>9s} {'peak / read':>11s}")
    with tempfile.TemporaryDirectory() as tmp:
        for size in (int(s) for s in args.sizes.split(",")):
            path = Path(tmp) / f"n{size}.sp"
            generate(path, size)
            wall, cpu, read_peak = run(READ, str(path))
            print(f"{size:9,d} {'parse_oc_spice':28s} {wall:7.1f} {cpu:7.1f} {read_peak / 1e6:8.0f}")
            for fmt in args.formats.split(","):
                out = Path(tmp) / f"out.{fmt}"
                wall, cpu, peak = run(TESSEL, "spice", str(path), "-o", str(out), "--format", fmt)
                label = f"tessel spice -o --format {fmt}"
                print(f"{size:9,d} {label:28s} {wall:7.1f} {cpu:7.1f} {peak / 1e6:8.0f} "
                      f"{out.stat().st_size / 1e6:9.0f} {peak / read_peak:11.2f}")
                out.unlink()
    return 0


if __name__ == "__main__":
    sys.exit(main())

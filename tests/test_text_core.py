"""The reader's text core on its own: its C++ unit tests, built and run here."""

from __future__ import annotations

import hashlib
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
SOURCE = ROOT / "native" / "text"


def tool(name: str) -> str | None:
    # The test environment's own build tools first, then the machine's.
    here = Path(sys.executable).parent / name
    return str(here) if here.exists() else shutil.which(name)


@pytest.mark.skipif(tool("cmake") is None, reason="needs cmake")
def test_text_core_unit_tests():
    # A build folder per set of tools: a checkout may be tested from several
    # environments (another interpreter, a chroot), whose CMake caches differ.
    tools = f"{tool('cmake')}|{tool('ninja')}|{sys.executable}|{SOURCE}"
    build = ROOT / "build" / f"text-core-tests-{hashlib.sha1(tools.encode()).hexdigest()[:10]}"
    configure = [tool("cmake"), "-S", str(SOURCE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Debug"]
    if tool("ninja"):
        configure += ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={tool('ninja')}"]
    if not (build / "CMakeCache.txt").exists():
        subprocess.run(configure, check=True, capture_output=True, text=True)
    subprocess.run([tool("cmake"), "--build", str(build)], check=True, capture_output=True, text=True)
    run = subprocess.run([str(build / "text_core_tests")], capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr

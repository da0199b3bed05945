"""Writes the seed corpora of the fuzz targets from netlist files.

    python3 fuzz/seeds.py OUT_DIR FILE_OR_FOLDER...

OUT_DIR/text holds pieces of whole netlists (up to a few kB, cut at line
ends), OUT_DIR/netlist fewer and shorter pieces for the slower Python target,
OUT_DIR/line single statement lines, OUT_DIR/word the words and values of
those lines.  Each kind is capped and chosen by content hash, so the same
sources always give the same seeds.
"""

from __future__ import annotations

import hashlib
import re
import sys
from pathlib import Path

CAP = {"text": 3000, "netlist": 400, "line": 3000, "word": 3000}


def pieces(data: bytes, size: int):
    piece = b""
    for line in data.splitlines(keepends=True):
        if len(piece) + len(line) > size and piece:
            yield piece
            piece = b""
        piece += line[:size]
    if piece:
        yield piece


def main(out: Path, sources: list[Path]) -> None:
    files = sorted(f for s in sources for f in ([s] if s.is_file() else s.rglob("*")) if f.is_file())
    seeds = {kind: set() for kind in CAP}
    for f in files:
        data = f.read_bytes()
        seeds["text"].update(pieces(data, 4000))
        seeds["netlist"].update(pieces(data, 1500))
        for line in data.splitlines():
            line = line.strip()
            if 0 < len(line) <= 300:
                seeds["line"].add(line)
                seeds["word"].update(w for w in re.split(rb"[\s=(),]+", line) if 0 < len(w) <= 40)
    for kind, found in seeds.items():
        folder = out / kind
        folder.mkdir(parents=True, exist_ok=True)
        named = sorted((hashlib.sha1(s).hexdigest(), s) for s in found)
        for name, seed in named[: CAP[kind]]:
            (folder / name).write_bytes(seed)
        print(f"seeds: {min(len(named), CAP[kind])} {kind} seeds from {len(files)} files")


if __name__ == "__main__":
    main(Path(sys.argv[1]), [Path(p) for p in sys.argv[2:]])

"""``tessel show FILE``: draw each subcircuit of a netlist, as one page or as SVG files.

Options::

    -o OUT, --output OUT        OUT.html: the page (default: FILE's name with .html, in the
                                current folder); OUT.svg: one SVG per subcircuit; -: the page
                                on stdout
    --subckt NAME               draw only the subcircuit NAME
    --open                      open what was written in the web browser
    --param, --component-map, --settings-keymap, --project, --pdk: as for ``tessel spice``

The file is read as ``tessel spice`` reads it and checked as ``tessel check`` checks it; the
page lists the findings beside the drawing.  With several subcircuits, ``OUT.svg`` holds the
first (the outermost) and ``OUT-NAME.svg`` each other one.
"""

from __future__ import annotations

import argparse
import gc
import io
import re
import sys
import webbrowser
from collections.abc import Iterator
from contextlib import contextmanager, nullcontext
from pathlib import Path
from typing import Any

from ..suggest import did_you_mean
from . import project, spice
from .console import INPUT_PROBLEM, OK, CommandError, UsageError, describe, say, write_file, write_stdout
from .reading import STDIN, parse_number_or_text, read_netlist

_PAGE, _SVG = (".html", ".htm"), (".svg",)
# What a subcircuit's name may keep in a file name; anything else becomes "_".
_UNSAFE = re.compile(r"[^A-Za-z0-9._+-]")


def add_parser(subparsers: argparse._SubParsersAction, common: argparse.ArgumentParser) -> None:
    parser = subparsers.add_parser(
        "show",
        parents=[common],
        help="draw the subcircuits of a netlist",
        description="Draw each subcircuit of an OC spice netlist: one self-contained HTML page "
        "with the findings of 'tessel check' beside the drawing, or one SVG per subcircuit.",
    )
    parser.add_argument("file", metavar="FILE", help="a netlist file; - reads standard input")
    parser.add_argument(
        "-o", "--output", metavar="OUT", type=Path,
        help="OUT.html for the page (default: FILE's name with .html, in the current folder), "
        "OUT.svg for one SVG per subcircuit (OUT.svg the first, OUT-NAME.svg the others), "
        "- for the page on stdout",
    )
    parser.add_argument("--subckt", metavar="NAME", help="draw only the subcircuit NAME")
    parser.add_argument("--open", action="store_true", help="open what was written in the web browser")
    spice.add_pair_options(parser)
    project.add_arguments(parser)
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    from ..check import check_netlist
    from ..show import draw, html_page, svg_document

    output = _output(args)
    if args.open and output is None:
        raise UsageError("--open needs a file to open, not stdout")
    with project.selected(args), _collector_paused():
        spice.prepare_project(args, persist=False)
        where = "<stdin>" if args.file == STDIN else args.file
        with _stdin_read_once() if args.file == STDIN else nullcontext(None) as text:
            netlists = read_netlist(args.file, args)
            if netlists is None:
                return INPUT_PROBLEM
            text = text if text is not None else _text_of(args.file)
        if args.subckt is not None:
            netlists = {args.subckt: _chosen(netlists, args.subckt)}
        elif not netlists:
            raise CommandError(where, "holds no subcircuit with elements: nothing to draw")
        if args.verbose:
            say(where, f"read {sum(len(n['instances']) for n in netlists.values())} instance(s) "
                f"in {len(netlists)} subcircuit(s); checking and drawing")
        params = {key: parse_number_or_text(value) for key, value in args.param}
        component_map = dict(args.component_map)
        source = io.StringIO(text) if args.file == STDIN else args.file
        findings = check_netlist(source, params, settings_keymap=dict(args.settings_keymap),
                                 component_map=component_map)
        sheets, targets = draw(netlists, text, findings, component_map=component_map)
        title = Path(where).name
        outputs: list[tuple[Path | None, str]]
        if output is None or output.suffix.lower() in _PAGE:
            outputs = [(output, html_page(title, sheets, findings, targets))]
        else:
            paths = _svg_paths(output, [s.name for s in sheets])
            outputs = [(path, svg_document(sheets, k, targets)) for k, path in enumerate(paths)]
    for path, content in outputs:
        if path is None:
            write_stdout(content)
        else:
            write_file(path, content)
    written = [path for path, _ in outputs if path is not None]
    if not written:
        return OK
    if not args.quiet:
        count = sum(len(s.instances) for s in sheets)
        say(None, f"wrote {', '.join(map(str, written))}: {len(sheets)} subcircuit(s), "
            f"{count} instance(s), {len(findings)} finding(s)")
    if args.open and not webbrowser.open(written[0].resolve().as_uri()):
        say(None, f"warning: no web browser to open {written[0]} with")
    return OK


@contextmanager
def _collector_paused() -> Iterator[None]:
    """Pause the cyclic garbage collector: reading, checking and drawing a large netlist make
    millions of objects without cycles, and the collections they trigger find nothing but
    take half the time."""
    was = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if was:
            gc.enable()


def _text_of(path: str) -> str:
    try:
        return Path(path).read_text(encoding="utf-8")
    except (OSError, UnicodeError) as e:  # read a moment ago by the reader
        raise CommandError(path, describe(e)) from None


def _output(args: argparse.Namespace) -> Path | None:
    """Where to write: a page or SVG path, or None for stdout."""
    if args.output is None:
        return Path(("stdin" if args.file == STDIN else Path(args.file).stem) + ".html")
    if str(args.output) == "-":
        return None
    if args.output.suffix.lower() not in _PAGE + _SVG:
        raise UsageError(f"-o {args.output}: write OUT.html for the page or OUT.svg for SVG files")
    return args.output


@contextmanager
def _stdin_read_once() -> Iterator[str]:
    """Standard input's text, and standard input reading it again: the reader, the outline
    and the checks each read the netlist."""
    text = sys.stdin.read()
    saved, sys.stdin = sys.stdin, io.StringIO(text)
    try:
        yield text
    finally:
        sys.stdin = saved


def _chosen(netlists: dict[str, Any], name: str) -> Any:
    if name in netlists:
        return netlists[name]
    hint = did_you_mean(name, netlists)
    known = ", ".join(netlists) or "none"
    raise UsageError(f"--subckt {name}: no such subcircuit with elements (there are: {known})"
                     + (f"; {hint}" if hint else ""))


def _svg_paths(output: Path, names: list[str]) -> list[Path]:
    paths = [output]
    for name in names[1:]:
        path = output.with_name(f"{output.stem}-{_UNSAFE.sub('_', name)}{output.suffix}")
        while path in paths:  # two names that differ only in what the file name cannot keep
            path = path.with_name(f"{path.stem}_{output.suffix}")
        paths.append(path)
    return paths

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
import warnings
import webbrowser
from collections.abc import Iterator
from contextlib import contextmanager
from pathlib import Path
from typing import Any

from ..suggest import did_you_mean
from . import project, spice
from .console import INPUT_PROBLEM, OK, CommandError, UsageError, report, say
from .console import write_file, write_stdout

STDIN = spice.STDIN
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
        spice.prepare_project(args)
        where = "<stdin>" if args.file == STDIN else args.file
        params = {key: spice.parse_number_or_text(value) for key, value in args.param}
        options = {"settings_keymap": dict(args.settings_keymap),
                   "component_map": dict(args.component_map)}
        read = _read(args.file, where, params, options, quiet=args.quiet)
        if read is None:
            return INPUT_PROBLEM
        text, netlists = read
        if args.subckt is not None:
            netlists = {args.subckt: _chosen(netlists, args.subckt)}
        elif not netlists:
            raise CommandError(where, "holds no subcircuit with elements: nothing to draw")
        if args.verbose:
            say(where, f"read {sum(len(n['instances']) for n in netlists.values())} instance(s) "
                f"in {len(netlists)} subcircuit(s); checking and drawing")
        source = io.StringIO(text) if args.file == STDIN else args.file
        findings = check_netlist(source, params, **options)
        sheets, targets = draw(netlists, text, findings, component_map=options["component_map"])
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


def _output(args: argparse.Namespace) -> Path | None:
    """Where to write: a page or SVG path, or None for stdout."""
    if args.output is None:
        return Path(("stdin" if args.file == STDIN else Path(args.file).stem) + ".html")
    if str(args.output) == "-":
        return None
    if args.output.suffix.lower() not in _PAGE + _SVG:
        raise UsageError(f"-o {args.output}: write OUT.html for the page or OUT.svg for SVG files")
    return args.output


def _read(name: str, where: str, params: dict[str, Any], options: dict[str, Any], *,
          quiet: bool) -> tuple[str, dict[str, Any]] | None:
    """The text of the netlist and what the reader makes of it, or None when it cannot be
    read (reported as ``tessel spice`` reports it)."""
    from tessel.core.spiceread import ParseWarning, parse_oc_spice

    result, failure = None, None
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", ParseWarning)
        try:
            # Standard input is read once, for the reader, the outline and the checks.
            text = sys.stdin.read() if name == STDIN else None
            netlists = parse_oc_spice(name if text is None else io.StringIO(text), **options, **params)
            if text is None:
                text = Path(name).read_text(encoding="utf-8")
            result = text, netlists
        except Exception as e:  # noqa: BLE001 - every failure becomes one line
            failure = e
    if not quiet:
        for warning in caught:
            say(where, f"warning: {warning.message}")
    if failure is not None:
        report(where, failure)
    return result


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

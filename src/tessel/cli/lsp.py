"""``tessel lsp``: a language server for OC spice netlists, over stdin and stdout.

Editors start it and talk the Language Server Protocol with it: diagnostics as you type
(the findings of ``tessel check``), hover, navigation, rename, completion and code actions.
docs/editors.md says how to set up Neovim, Helix, Emacs and VS Code.  It needs the
``lsp`` extra: ``pip install 'tessel[lsp]'``.
"""

from __future__ import annotations

import argparse
import logging
import sys

from .console import UsageError


def add_parser(subparsers: argparse._SubParsersAction, common: argparse.ArgumentParser) -> None:
    parser = subparsers.add_parser(
        "lsp",
        parents=[common],
        help="a language server for OC spice netlists, for editors",
        description="A language server for OC spice netlists over stdin and stdout: editors "
        "start it (see docs/editors.md). -v logs the protocol's traffic on stderr.",
    )
    parser.add_argument("--stdio", action="store_true",
                        help="talk over stdin and stdout (what it always does; accepted for the "
                        "editors that pass it)")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    try:
        from ..lsp.server import serve
    except ImportError as e:
        raise UsageError(f"the language server needs {e.name or 'pygls'}: pip install 'tessel[lsp]'") from None
    logging.basicConfig(stream=sys.stderr, format="tessel lsp: %(levelname)s: %(message)s",
                        level=logging.DEBUG if args.verbose else logging.ERROR if args.quiet else logging.WARNING)
    return serve()

"""The reading process of one project: ``python -m tessel.lsp.worker``.

The language server starts one per project, in the project's folder.  It imports the
reader and `sax` (the slow part: seconds), loads the project's PDK and registers its cells
as ``tessel check`` does, says it is ready, then answers each `Request` with the findings of
the reading phase and the ports of the text's components, until its standard input closes.
A reading that crashes or hangs takes only this process with it.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import signal
import sys
import traceback

from tessel.check import check_reading
from tessel.check.registry import OUTLINE
from tessel.check.rules.reading import Reading
from tessel.suggest import component_names

from . import frames
from .analysis import document

__all__ = ["main"]


def warm_up() -> frames.Ready:
    from tessel.cli import spice
    from tessel.cli.console import CommandError, describe

    try:
        import sax  # noqa: F401 - the slow import, made before the first reading needs it

        from tessel.core import pdk

        spice.prepare_project(argparse.Namespace(project=None, verbose=False, quiet=False))
        return frames.Ready(tuple(sorted(set(component_names(pdk.get_pdk())))))
    except CommandError as e:
        return frames.Ready((), f"{e.where}: {e.message}" if e.where else e.message)
    except Exception as e:  # noqa: BLE001 - the server says why, and reads no more
        return frames.Ready((), describe(e))


def answer(request: frames.Request) -> frames.Result:
    try:
        doc, _ = document(request.text, request.path)
        doc.found[OUTLINE] = list(request.outline)
        findings = check_reading(doc)
        reading = Reading(doc)
        components = {doc.component(e.component.text) for e in doc.outline.elements}
        return frames.Result(findings, {c: reading.ports(c) for c in components})
    except Exception:  # noqa: BLE001 - one failed reading is the server's to report
        return frames.Result([], {}, traceback.format_exc())


def main() -> int:
    # Ctrl-C in the editor's terminal is the server's to handle; it closes our input.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    channel = os.fdopen(os.dup(sys.stdout.fileno()), "wb")
    # Whatever the libraries print goes to stderr, not into the channel.
    os.dup2(sys.stderr.fileno(), sys.stdout.fileno())
    requests = sys.stdin.buffer

    def send(message: object) -> None:
        channel.write(frames.pack(message))
        channel.flush()

    try:
        send(warm_up())
        while (request := frames.read(requests)) is not None:
            send(answer(request))
    except BrokenPipeError:  # the server has gone
        pass
    finally:
        with contextlib.suppress(BrokenPipeError):
            channel.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())

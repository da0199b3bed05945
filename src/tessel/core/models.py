"""The project's simulation models and their registration into the active PDK.

A model is a function of the project marked with `model`; it is registered in
the active PDK's `models` under the component name it simulates (the
function's name unless given)::

    from tessel.core.models import model

    @model(name="straight")
    def straight_model(wl=1.55, length=10.0):
        ...

`register_models` finds the marked functions from the call graph (without
importing anything else), imports their files and puts them into the PDK.
"""

from __future__ import annotations

import functools
import inspect
from collections.abc import Callable
from pathlib import Path
from typing import Any, TypeVar, overload

from ..logger import get_logger
from . import imports
from .callgraph import CallGraph
from .lazy import lazy_import

__all__ = ["is_model_decorator", "model", "register_models"]

# The PDK module is compiled and loads the layout library; bind it on first use.
pdk_module = lazy_import("tessel.core.pdk")

_MARK = "__tessel_model__"

F = TypeVar("F", bound=Callable[..., Any])


@overload
def model(func: F, /) -> F: ...
@overload
def model(*, name: str | None = None) -> Callable[[F], F]: ...
def model(func: Any = None, /, *, name: str | None = None) -> Any:
    """Mark `func` as the simulation model of component `name` (default: its own name).

    Usable as ``@model``, ``@model()`` and ``@model(name="...")``; the function
    itself is returned, unchanged but for the mark.
    """
    if name is not None and (not isinstance(name, str) or not name):
        raise TypeError(f"model(): name must be a non-empty str, not {name!r}")
    if func is None:
        return functools.partial(model, name=name)
    if not callable(func):
        raise TypeError(f"model() decorates callables, not {type(func).__name__}")
    setattr(func, _MARK, name or func.__name__)
    return func


def is_model_decorator(decorator: str) -> bool:
    """Whether a decorator name (resolved by the call graph) may be `model`.

    The decision is only provisional: a file is imported for it, and only
    functions that carry the mark at run time are models.
    """
    return decorator == "model" or decorator.endswith(".model")


def register_models(G: CallGraph, *, reload: bool = True) -> dict[str, Callable[..., Any]]:
    """Put the project's models into the active PDK's `models`; return them by name.

    Files whose models already loaded are re-executed when `reload` is true.  A
    file that fails to import is logged and keeps its models of before;
    models of the project that are gone from files that did import (renamed,
    deleted) are taken out of the PDK.
    """
    log = get_logger()
    files = list(
        dict.fromkeys(
            f.path
            for f in G.functions()
            if f.toplevel and any(is_model_decorator(d) for d in f.decorators)
        )
    )
    modules, errors = imports.import_modules(paths=files, reload=reload, from_project=False)
    for path, (_, error) in errors.items():
        log.warning(f"{path.name}: {error}")

    found: dict[str, Callable[..., Any]] = {}
    for path, module in modules.items():
        # A reload re-executes a module in its old namespace: functions since
        # removed from the file are still there, and must not count.
        defined = {f.qualname for f in G.functions([path])}
        for value in vars(module).values():
            name = _mark(value)
            if (
                name is not None
                # Models imported from another module are registered from there.
                and getattr(value, "__module__", None) == module.__name__
                and getattr(value, "__qualname__", None) in defined
            ):
                found[name] = value

    pdk = pdk_module.get_pdk()
    keep = {*errors, *G.failed}
    stale = [
        name
        for name, value in pdk.models.items()
        if name not in found
        and _mark(value) is not None
        and (file := _defining_file(value)) is not None
        and file.is_relative_to(G.root)
        and file not in keep
    ]
    for name in stale:
        del pdk.models[name]
    pdk.models.update(found)
    log.info(f"models: {sorted(found)}")
    return found


def _mark(value: object) -> str | None:
    # Static lookup: module attributes may be lazy proxies or objects whose
    # __getattr__ answers anything (or imports something heavy).
    name = inspect.getattr_static(value, _MARK, None)
    return name if isinstance(name, str) and callable(value) else None


def _defining_file(value: object) -> Path | None:
    code = getattr(value, "__code__", None)
    filename = getattr(code, "co_filename", None)
    return Path(filename).resolve() if isinstance(filename, str) else None

"""Deferred imports.

``lazy_import("sax")`` returns a stand-in that imports ``sax`` the first time
it is used (an attribute is read or it is called) and from then on behaves as
the module, or as the named attribute of the module, for the life of the
process.  Modules bind heavy dependencies this way so that importing them
stays cheap.
"""

from __future__ import annotations

import importlib
from typing import Any

__all__ = ["lazy_import"]

_UNLOADED = object()


class LazyImport:
    """A module (or one attribute of a module) imported on first use."""

    __slots__ = ("_lazy_module", "_lazy_attr", "_lazy_target")

    def __init__(self, module_name: str, attr_name: str | None = None) -> None:
        object.__setattr__(self, "_lazy_module", module_name)
        object.__setattr__(self, "_lazy_attr", attr_name)
        object.__setattr__(self, "_lazy_target", _UNLOADED)

    def _lazy_load(self) -> Any:
        target = self._lazy_target
        if target is _UNLOADED:
            target = importlib.import_module(self._lazy_module)
            if self._lazy_attr is not None:
                target = getattr(target, self._lazy_attr)
            object.__setattr__(self, "_lazy_target", target)
        return target

    def __getattr__(self, name: str) -> Any:
        return getattr(self._lazy_load(), name)

    def __setattr__(self, name: str, value: Any) -> None:
        setattr(self._lazy_load(), name, value)

    def __delattr__(self, name: str) -> None:
        delattr(self._lazy_load(), name)

    def __call__(self, *args: Any, **kwargs: Any) -> Any:
        return self._lazy_load()(*args, **kwargs)

    def __dir__(self) -> list[str]:
        return dir(self._lazy_load())

    def __repr__(self) -> str:
        target = self._lazy_module
        if self._lazy_attr is not None:
            target += f".{self._lazy_attr}"
        state = "loaded" if self._lazy_target is not _UNLOADED else "not loaded"
        return f"<lazy {target} ({state})>"


def lazy_import(module_name: str, attr_name: str | None = None) -> Any:
    """Return a stand-in for ``module_name`` (or its ``attr_name``) that imports on first use."""
    return LazyImport(module_name, attr_name)

"""Importing the project's source files by path.

Cell registration knows the project's files by path; Python imports modules by
name.  `import_modules` bridges the two: it derives each file's module name,
makes the folder it is importable from visible on `sys.path`, imports (or
reloads) it and reports every failure instead of raising, so that one broken
file cannot stop the registration of the others.

Module names (`module_name`), in one of two modes:

- ``from_project=False``: the name follows the package layout.  The folders
  holding an ``__init__.py`` above the file form its package; the folder above
  the topmost package is the import root.  ``<project>/mypkg/cells/a.py`` with
  ``mypkg/__init__.py`` and ``mypkg/cells/__init__.py`` is ``mypkg.cells.a``,
  importable from ``<project>``; ``<project>/src/mypkg/...`` likewise imports
  from ``<project>/src``; a file outside any package is a top-level module
  named after its stem, importable from its own folder.  Relative paths are
  taken relative to the current directory.
- ``from_project=True``: the project folder itself is the import root and the
  name is the file's path relative to it, dotted (folders without an
  ``__init__.py`` import as namespace packages): ``<project>/scripts/x.py`` is
  ``scripts.x``.  Relative paths are taken relative to the project folder; a
  file outside the project folder cannot be imported this way.

Import roots are appended to `sys.path`, never prepended: a project file must
not shadow the standard library or installed packages for the rest of the
process.  A module name already taken by another file is reported as an
import error rather than silently returning the other file's module.
"""

from __future__ import annotations

import importlib
import importlib.util
import os
import re
import sys
from collections.abc import Iterable, Iterator
from pathlib import Path
from types import ModuleType

from .. import settings

__all__ = ["get_cells_from_regex", "import_modules", "module_name"]

PathLike = str | os.PathLike[str]


def module_name(path: PathLike, *, from_project: bool = False) -> tuple[Path, str]:
    """Return (import root, dotted module name) of the Python file `path`.

    Raises ImportError when no valid module name can be derived.
    """
    base = settings.get_project_dir() if from_project else Path.cwd()
    file = (base / path).resolve()
    if from_project:
        root = settings.get_project_dir()
        try:
            parts = list(file.relative_to(root).parts)
        except ValueError:
            raise ImportError(
                f"{file} is outside the project folder {root}", path=str(file)
            ) from None
    else:
        parts = [file.name]
        folder = file.parent
        while (folder / "__init__.py").is_file() and folder.name.isidentifier():
            parts.insert(0, folder.name)
            if folder.parent == folder:
                break
            folder = folder.parent
        root = folder
    stem = parts[-1].removesuffix(".py")
    parts = parts[:-1] if stem == "__init__" else [*parts[:-1], stem]
    if not parts or not all(p.isidentifier() for p in parts):
        raise ImportError(
            f"cannot derive a module name for {file}: "
            f"{'.'.join(parts) or file.name!r} is not a valid dotted name",
            path=str(file),
        )
    return root, ".".join(parts)


def import_modules(
    paths: Iterable[PathLike] = (),
    *,
    reload: bool = False,
    from_project: bool = False,
) -> tuple[dict[Path, ModuleType], dict[Path, tuple[str, Exception]]]:
    """Import the files `paths` in the given order (each file once).

    Files already imported are reloaded when `reload` is true and returned as
    loaded otherwise.  Returns (modules, errors): `modules` maps each imported
    file to its module, `errors` maps each file that failed to import to
    (module name, exception); both are keyed by the resolved path.  A failure
    never raises here; it leaves no half-executed module in `sys.modules`, so
    a later import runs the file again.
    """
    modules: dict[Path, ModuleType] = {}
    errors: dict[Path, tuple[str, Exception]] = {}
    # New files are invisible to the path finders' cached folder listings
    # until the caches are dropped.
    importlib.invalidate_caches()
    base = settings.get_project_dir() if from_project else Path.cwd()
    for given in paths:
        path = (base / given).resolve()
        if path in modules or path in errors:
            continue
        name = path.stem
        try:
            root, name = module_name(path, from_project=from_project)
            modules[path] = _import_file(path, root, name, reload)
        except (Exception, SystemExit) as e:
            errors[path] = (name, _as_exception(e))
    return modules, errors


def _as_exception(e: BaseException) -> Exception:
    if isinstance(e, Exception):
        return e
    # A module calling sys.exit() at import must not end the registering
    # process, and the error factories made from it must not either.
    error = ImportError(f"module exited during import (SystemExit: {e.code!r})")
    error.__cause__ = e
    return error


def _import_file(path: Path, root: Path, name: str, reload: bool) -> ModuleType:
    _check_parents(path, name)
    if str(root) not in sys.path:
        sys.path.append(str(root))
    module = sys.modules.get(name)
    if module is not None:
        _check_origin(module, path, name)
        if not reload:
            return module
        _drop_bytecode(path)
        try:
            return importlib.reload(module)
        except BaseException:
            # A failed reload leaves the old module half re-executed.
            if sys.modules.get(name) is module:
                del sys.modules[name]
            raise
    module = importlib.import_module(name)
    _check_origin(module, path, name)
    return module


def _check_origin(module: ModuleType, path: Path, name: str) -> None:
    origin = getattr(module, "__file__", None)
    if origin is None or Path(origin).resolve() != path:
        raise ImportError(
            f"cannot import {path} as {name!r}: that name is already taken by "
            f"{origin or 'a module without a file'}",
            name=name,
            path=str(path),
        )


def _check_parents(path: Path, name: str) -> None:
    """Fail when a package above `name` is already loaded from another folder."""
    folder = path.parent
    if path.name == "__init__.py":
        folder = folder.parent
    parents = name.split(".")[:-1]
    for depth in range(len(parents), 0, -1):
        package = ".".join(parents[:depth])
        loaded = sys.modules.get(package)
        search = getattr(loaded, "__path__", None)
        if loaded is not None and (
            search is None or all(Path(p).resolve() != folder for p in search)
        ):
            raise ImportError(
                f"cannot import {path} as {name!r}: package {package!r} is already "
                f"loaded from {getattr(loaded, '__file__', None) or list(search or [])}",
                name=name,
                path=str(path),
            )
        folder = folder.parent


def _drop_bytecode(path: Path) -> None:
    # Cached bytecode is trusted when the source's size and whole-second mtime
    # match; an edit of equal size within the same second would reload stale code.
    try:
        os.unlink(importlib.util.cache_from_source(str(path)))
    except (OSError, NotImplementedError, ValueError):
        pass


_CELL_DECORATOR = re.compile(r"@[ \t]*(?:[A-Za-z_]\w*[ \t]*\.[ \t]*)*cell\b(?![ \t]*\.)")
_DEF = re.compile(r"(?:async[ \t]+)?def[ \t]+([A-Za-z_]\w*)")


def get_cells_from_regex(path: PathLike) -> list[str]:
    """Return the names of cell factories in `path`, found by text search alone.

    For files that cannot be parsed or imported: a module-level function whose
    decorators include ``cell`` (``@cell``, ``@cell(...)``, ``@mw.cell``, ...).
    Raises OSError when the file cannot be read.
    """
    text = Path(path).read_text(encoding="utf-8", errors="replace")
    return list(dict.fromkeys(_cell_names(text.splitlines())))


def _cell_names(lines: list[str]) -> Iterator[str]:
    pending = False
    for line in lines:
        if _CELL_DECORATOR.match(line):
            pending = True
            continue
        if not pending:
            continue
        if m := _DEF.match(line):
            yield m[1]
            pending = False
        # Between decorator and def: further decorators, comments, blank lines,
        # indented lines and closing brackets of multi-line decorator arguments.
        elif line.strip() and line[0] not in " \t#@)]}":
            pending = False

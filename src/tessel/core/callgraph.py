"""The project's call graph, read from its sources without importing them.

`create_callgraph` parses every Python file of the project with `ast` into a
`CallGraph`: one node per function (with its file, module and decorators), one
edge per call from one project function to another that can be resolved by
name.  Cell registration reads the cell factories off it before importing
anything (`get_static_records`); model registration finds the model functions
the same way.

Decorators and calls are resolved through the module's imports, so
``from morrow import cell as c; @c`` is recorded as ``morrow.cell`` and
``import morrow as mw; @mw.cell()`` likewise.
"""

from __future__ import annotations

import ast
import os
from collections.abc import Iterable, Iterator
from dataclasses import dataclass, field
from pathlib import Path

from .. import settings
from ..logger import get_logger
from ..models import UNKNOWN, FactoryRecord
from . import imports

__all__ = [
    "CallGraph",
    "Function",
    "create_callgraph",
    "get_static_records",
    "is_cell_decorator",
    "iter_python_files",
]

# Folders that hold no project sources: tool output, caches, installed packages.
_SKIPPED_FOLDERS = {"__pycache__", "build", "dist", "node_modules", "site-packages"}


@dataclass(frozen=True)
class Function:
    """A function defined in the project."""

    key: str  # module + "." + qualname: unique within the graph
    name: str
    qualname: str
    module: str
    path: Path  # resolved
    lineno: int
    decorators: tuple[str, ...]  # dotted names, resolved through the module's imports
    toplevel: bool  # defined at module level, hence an attribute of its module


@dataclass
class CallGraph:
    """Functions of the project (nodes) and the calls between them (edges)."""

    root: Path
    nodes: dict[str, Function] = field(default_factory=dict)
    calls: dict[str, set[str]] = field(default_factory=dict)
    # Python files that could not be parsed, with the reason.
    failed: dict[Path, str] = field(default_factory=dict)

    def add_function(self, function: Function) -> None:
        self.nodes[function.key] = function
        self.calls.setdefault(function.key, set())

    def add_call(self, caller: str, callee: str) -> None:
        self.calls.setdefault(caller, set()).add(callee)

    def callees(self, key: str) -> set[str]:
        return set(self.calls.get(key, ()))

    def callers(self, key: str) -> set[str]:
        return {k for k, targets in self.calls.items() if key in targets}

    def edges(self) -> Iterator[tuple[str, str]]:
        for caller, targets in self.calls.items():
            for callee in sorted(targets):
                yield caller, callee

    def functions(self, paths: Iterable[str | os.PathLike[str]] = ()) -> list[Function]:
        """Return the functions in file order, limited to the files `paths` if any."""
        wanted = {Path(p).resolve() for p in paths}
        return [f for f in self.nodes.values() if not wanted or f.path in wanted]

    def __contains__(self, key: object) -> bool:
        return key in self.nodes

    def __len__(self) -> int:
        return len(self.nodes)

    def __iter__(self) -> Iterator[str]:
        return iter(self.nodes)


def iter_python_files(root: str | os.PathLike[str]) -> Iterator[Path]:
    """Yield the Python files under `root` in sorted order, skipping non-source folders."""
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if not _skipped(Path(folder, d)))
        for name in sorted(files):
            if name.endswith(".py"):
                yield Path(folder, name)


def _skipped(folder: Path) -> bool:
    name = folder.name
    return (
        name.startswith(".")
        or name in _SKIPPED_FOLDERS
        or name.endswith(".egg-info")
        or (folder / "pyvenv.cfg").exists()  # a virtual environment, whatever its name
    )


def create_callgraph(root: str | os.PathLike[str] | None = None) -> CallGraph:
    """Parse the project's Python files (under `root`, default the project folder)."""
    root = Path(root).resolve() if root is not None else settings.get_project_dir()
    graph = CallGraph(root=root)
    parsed = []
    for file in iter_python_files(root):
        path = file.resolve()
        try:
            tree = ast.parse(path.read_bytes(), filename=str(path))
            _, module = imports.module_name(path)
            scope = _ModuleScope(module, path.name == "__init__.py")
            scope.bind(tree.body)
            collector = _Collector(scope, path)
            collector.visit(tree)
        except (SyntaxError, ValueError, OSError, ImportError, RecursionError) as e:
            # Registration still finds this file's cells by text search.
            graph.failed[path] = f"{type(e).__name__}: {e}"
            get_logger().debug(f"{path}: not parsed: {e}")
            continue
        for function in collector.functions:
            graph.add_function(function)
        parsed.append(collector)
    # Calls are resolved once every function of the project is known.
    for collector in parsed:
        for caller, target in collector.calls:
            if target in graph.nodes:
                graph.add_call(caller, target)
    return graph


class _ModuleScope:
    """Module-level bindings of one module: local name -> dotted target."""

    def __init__(self, module: str, is_package: bool) -> None:
        self.module = module
        self.package = module if is_package else module.rpartition(".")[0]
        self.names: dict[str, str] = {}

    def bind(self, body: list[ast.stmt]) -> None:
        for node in _module_level(body):
            if isinstance(node, ast.Import):
                for alias in node.names:
                    if alias.asname:
                        self.names[alias.asname] = alias.name
                    else:
                        top = alias.name.partition(".")[0]
                        self.names[top] = top
            elif isinstance(node, ast.ImportFrom):
                base = self._absolute(node.module, node.level)
                for alias in node.names:
                    if alias.name != "*":
                        target = f"{base}.{alias.name}" if base else alias.name
                        self.names[alias.asname or alias.name] = target
            elif isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
                self.names[node.name] = f"{self.module}.{node.name}"

    def _absolute(self, module: str | None, level: int) -> str:
        if not level:
            return module or ""
        parts = self.package.split(".") if self.package else []
        base = ".".join(parts[: len(parts) - (level - 1)]) if level - 1 <= len(parts) else ""
        return ".".join(p for p in (base, module) if p)

    def resolve(self, node: ast.expr) -> str | None:
        """Return the dotted target of a name or attribute chain, if it is one."""
        attrs = []
        while isinstance(node, ast.Attribute):
            attrs.append(node.attr)
            node = node.value
        if not isinstance(node, ast.Name):
            return None
        head = self.names.get(node.id, node.id)
        return ".".join([head, *reversed(attrs)])


_TRY = (ast.Try, getattr(ast, "TryStar", ast.Try))


def _module_level(body: list[ast.stmt]) -> Iterator[ast.stmt]:
    """Statements executed at module level, including inside if/try/with blocks."""
    for node in body:
        yield node
        if isinstance(node, (ast.If, ast.For, ast.While, ast.With, ast.AsyncWith)):
            yield from _module_level(node.body)
            yield from _module_level(getattr(node, "orelse", []))
        elif isinstance(node, _TRY):
            for block in (node.body, node.orelse, node.finalbody):
                yield from _module_level(block)
            for handler in node.handlers:
                yield from _module_level(handler.body)


class _Collector(ast.NodeVisitor):
    """Functions of one module and the calls made inside them, still unresolved."""

    def __init__(self, scope: _ModuleScope, path: Path) -> None:
        self.scope = scope
        self.path = path
        self.qualname: list[str] = []
        self.current: str | None = None  # key of the innermost enclosing function
        self.in_class_or_function = 0
        self.functions: list[Function] = []
        self.calls: list[tuple[str, str]] = []  # (caller key, dotted callee)

    def visit_FunctionDef(self, node: ast.FunctionDef | ast.AsyncFunctionDef) -> None:
        qualname = ".".join([*self.qualname, node.name])
        key = f"{self.scope.module}.{qualname}"
        decorators = tuple(
            self.scope.resolve(d.func if isinstance(d, ast.Call) else d) or ast.unparse(d)
            for d in node.decorator_list
        )
        self.functions.append(
            Function(
                key=key,
                name=node.name,
                qualname=qualname,
                module=self.scope.module,
                path=self.path,
                lineno=node.lineno,
                decorators=decorators,
                toplevel=not self.in_class_or_function,
            )
        )
        # Decorators, defaults and annotations run in the enclosing scope.
        for expr in [*node.decorator_list, *node.args.defaults, *node.args.kw_defaults]:
            if expr is not None:
                self.visit(expr)
        outer = self.current
        self.current = key
        self.qualname += [node.name, "<locals>"]
        self.in_class_or_function += 1
        for stmt in node.body:
            self.visit(stmt)
        self.in_class_or_function -= 1
        del self.qualname[-2:]
        self.current = outer

    visit_AsyncFunctionDef = visit_FunctionDef

    def visit_ClassDef(self, node: ast.ClassDef) -> None:
        for expr in [*node.decorator_list, *node.bases]:
            self.visit(expr)
        self.qualname.append(node.name)
        self.in_class_or_function += 1
        for stmt in node.body:
            self.visit(stmt)
        self.in_class_or_function -= 1
        self.qualname.pop()

    def visit_Call(self, node: ast.Call) -> None:
        if self.current is not None:
            target = self.scope.resolve(node.func)
            if target is not None:
                self.calls.append((self.current, target))
        self.generic_visit(node)


def is_cell_decorator(decorator: str) -> bool:
    """Whether a resolved decorator name is the layout library's ``cell`` decorator."""
    return decorator == "cell" or decorator.endswith(".cell")


def get_static_records(
    G: CallGraph, *, paths: Iterable[str | os.PathLike[str]] = ()
) -> dict[str, FactoryRecord]:
    """Return the project's cell factories as records with status "UNKNOWN".

    A cell factory is a module-level function decorated with ``cell``
    (``@cell``, ``@cell()``, ``@mw.cell``, ...).  With `paths`, only the
    factories of those files are returned.  Files that could not be parsed
    contribute the names that a text search finds in them, so that their
    import error reaches those cells instead of the cells silently vanishing.
    Where two files define a cell of the same name, the first file in path
    order wins and the other is reported as a warning.
    """
    wanted = {Path(p).resolve() for p in paths}
    records: dict[str, FactoryRecord] = {}

    def add(name: str, path: Path) -> None:
        source = _source(path, G.root)
        if name in records:
            if records[name].source != source:
                get_logger().warning(
                    f"cell {name!r} of {source} ignored: already defined in {records[name].source}"
                )
            return
        records[name] = FactoryRecord(name=name, source=source, status=UNKNOWN, message="")

    found: dict[Path, list[str]] = {}
    for f in G.functions(wanted):
        if f.toplevel and any(is_cell_decorator(d) for d in f.decorators):
            found.setdefault(f.path, []).append(f.name)
    for path in G.failed:
        if not wanted or path in wanted:
            try:
                found[path] = imports.get_cells_from_regex(path)
            except Exception as e:  # noqa: BLE001 - a vanished file has no cells
                get_logger().debug(f"{path}: not searched: {e}")
    for path in sorted(found):
        for name in found[path]:
            add(name, path)
    return records


def _source(path: Path, root: Path) -> str:
    try:
        return path.relative_to(root).as_posix()
    except ValueError:
        return path.as_posix()

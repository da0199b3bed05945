"""Project settings.

The project is the folder holding the nearest ``pyproject.toml``, searched from
the current directory upwards; the environment variable ``TESSEL_PROJECT_DIR``
names the project folder instead.  Its settings live in the table
``[tool.tessel]``::

    [project]
    name = "my-chip"

    [tool.tessel]
    pdk = "my_pdk"      # import name of the PDK package; "generic" by default
    is-pdk = false      # whether the project is itself a PDK

    [tool.tessel.check]         # what `tessel check` reports (see docs/checks.md)
    select = ["TS1"]            # codes or code prefixes; all codes by default
    extend-select = []          # codes added to the selection
    ignore = ["TS113"]          # codes taken out of it
    exclude = ["generated"]     # folders and files that `tessel check DIR` skips
    per-file-ignores = { "legacy/*.sp" = ["TS106"] }

A key these tables do not know is an error, so that a misspelt setting does not
pass unnoticed.

The environment variable ``TESSEL_PDK`` names the PDK instead of the file.
Without a project the PDK is "generic", the project is not a PDK, and the
project name is the folder's name.  The file is read anew on every call, so a
change of directory or of the file takes effect at once.
"""

from __future__ import annotations

import os
import re
import tomllib
from pathlib import Path
from typing import Any

__all__ = [
    "PDK_ENV",
    "PROJECT_DIR_ENV",
    "ProjectConfigError",
    "CHECK_KEYS",
    "TOOL_KEYS",
    "get_check_settings",
    "get_pdk_name",
    "get_project_dir",
    "get_project_name",
    "get_pyproject_path",
    "has_tool_settings",
    "is_a_pdk",
]

PROJECT_DIR_ENV = "TESSEL_PROJECT_DIR"
PDK_ENV = "TESSEL_PDK"
DEFAULT_PDK = "generic"

# The keys of [tool.tessel] and of [tool.tessel.check].
TOOL_KEYS = ("pdk", "is-pdk", "check")
CHECK_KEYS = ("select", "extend-select", "ignore", "exclude", "per-file-ignores")


class ProjectConfigError(ValueError):
    """The project's pyproject.toml cannot be read or holds a bad value."""


def get_pyproject_path(start: Path | None = None) -> Path | None:
    """Return the project's pyproject.toml, or None when there is no project.

    The nearest one from `start` (a file or folder; the current directory by default) upwards.
    """
    override = os.environ.get(PROJECT_DIR_ENV)
    if override:
        candidate = Path(override).expanduser().resolve() / "pyproject.toml"
        return candidate if candidate.is_file() else None
    here = Path.cwd().resolve() if start is None else Path(start).resolve()
    if not here.is_dir():
        here = here.parent
    for folder in (here, *here.parents):
        candidate = folder / "pyproject.toml"
        if candidate.is_file():
            return candidate
    return None


def get_project_dir() -> Path:
    """Return the project folder (the current directory when there is no project)."""
    override = os.environ.get(PROJECT_DIR_ENV)
    if override:
        return Path(override).expanduser().resolve()
    pyproject = get_pyproject_path()
    return pyproject.parent if pyproject else Path.cwd().resolve()


def _load(start: Path | None = None) -> tuple[Path | None, dict[str, Any]]:
    path = get_pyproject_path(start)
    if path is None:
        return None, {}
    try:
        with path.open("rb") as f:
            return path, tomllib.load(f)
    except tomllib.TOMLDecodeError as e:
        raise ProjectConfigError(f"Malformed TOML in {path}: {e}") from e
    except OSError as e:
        raise ProjectConfigError(f"Cannot read {path}: {e}") from e


def _table(path: Path | None, config: dict[str, Any], *keys: str) -> dict[str, Any]:
    """Return the (possibly missing, then empty) table at `keys`."""
    table = config
    for depth, key in enumerate(keys, 1):
        table = table.get(key, {})
        if not isinstance(table, dict):
            raise ProjectConfigError(f"{path}: {'.'.join(keys[:depth])} must be a table")
    return table


def _known_keys(path: Path | None, table: dict[str, Any], name: str, known: tuple[str, ...]) -> None:
    unknown = [key for key in table if key not in known]
    if unknown:
        raise ProjectConfigError(
            f"{path}: [{name}] has no setting {', '.join(map(repr, unknown))} "
            f"(it knows {', '.join(known)})"
        )


def _tessel_table(path: Path | None, config: dict[str, Any]) -> dict[str, Any]:
    table = _table(path, config, "tool", "tessel")
    _known_keys(path, table, "tool.tessel", TOOL_KEYS)
    return table


def _tool_setting(key: str, default: Any, expected: type) -> Any:
    path, config = _load()
    table = _tessel_table(path, config)
    value = table.get(key, default)
    if not isinstance(value, expected):
        raise ProjectConfigError(
            f"{path}: [tool.tessel] {key} must be {expected.__name__}, "
            f"not {type(value).__name__}"
        )
    return value


def get_pdk_name() -> str:
    """Return the import name of the project's PDK package ("generic" by default).

    ``TESSEL_PDK``, when set, wins over the project's file.
    """
    return os.environ.get(PDK_ENV) or _tool_setting("pdk", DEFAULT_PDK, str)


def has_tool_settings() -> bool:
    """Return whether the project's pyproject.toml has a ``[tool.tessel]`` table."""
    path, config = _load()
    _tessel_table(path, config)
    return "tessel" in _table(path, config, "tool")


def get_check_settings(start: Path | None = None) -> tuple[Path | None, dict[str, Any]]:
    """Return the pyproject.toml that applies to `start` (see `get_pyproject_path`) and its
    ``[tool.tessel.check]`` table (empty when there is none).

    Only the keys are checked here; `tessel.check` checks their values.
    """
    path, config = _load(start)
    _tessel_table(path, config)
    table = _table(path, config, "tool", "tessel", "check")
    _known_keys(path, table, "tool.tessel.check", CHECK_KEYS)
    return path, table


def is_a_pdk() -> bool:
    """Return whether the project is itself a PDK."""
    return _tool_setting("is-pdk", False, bool)


def _import_name(name: str) -> str:
    return re.sub(r"[^0-9A-Za-z_]", "_", name.strip()).lower()


def get_project_name() -> str:
    """Return the project's package (import) name."""
    path, config = _load()
    name = _table(path, config, "project").get("name")
    if name is None:
        return _import_name(get_project_dir().name)
    if not isinstance(name, str):
        raise ProjectConfigError(f"{path}: [project] name must be str")
    return _import_name(name)

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


class ProjectConfigError(ValueError):
    """The project's pyproject.toml cannot be read or holds a bad value."""


def get_pyproject_path() -> Path | None:
    """Return the project's pyproject.toml, or None when there is no project."""
    override = os.environ.get(PROJECT_DIR_ENV)
    if override:
        candidate = Path(override).expanduser().resolve() / "pyproject.toml"
        return candidate if candidate.is_file() else None
    here = Path.cwd().resolve()
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


def _load() -> tuple[Path | None, dict[str, Any]]:
    path = get_pyproject_path()
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


def _tool_setting(key: str, default: Any, expected: type) -> Any:
    path, config = _load()
    table = _table(path, config, "tool", "tessel")
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
    return "tessel" in _table(path, config, "tool")


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

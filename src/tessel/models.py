"""Records that tessel keeps about the project's cell factories."""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path

from . import settings

__all__ = ["ERROR", "UNKNOWN", "FactoryRecord"]

# A record found in the sources but not (yet) resolved to a callable factory.
UNKNOWN = "UNKNOWN"
# A record whose file failed to import or whose factory could not be found;
# `message` then says why.
ERROR = "ERROR"


@dataclass(kw_only=True)
class FactoryRecord:
    """One cell factory of the project, as stored in the factory database.

    `source` is the defining file, relative to the project folder for files
    inside it (so the database survives moving the project), absolute otherwise.
    """

    name: str
    source: str
    status: str = UNKNOWN
    message: str = ""

    def absolute_source(self) -> Path:
        """Return the defining file as an absolute, resolved path.

        Paths are resolved the same way as the keys that
        `tessel.core.imports.import_modules` returns, so the two compare equal.
        """
        return (settings.get_project_dir() / self.source).resolve()

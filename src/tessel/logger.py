"""The package's logger."""

from __future__ import annotations

import logging

__all__ = ["get_logger"]

LOGGER_NAME = "tessel"


def get_logger() -> logging.Logger:
    """Return the package's standard ``logging`` logger."""
    return logging.getLogger(LOGGER_NAME)

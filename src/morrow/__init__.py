"""A small layout library: PDKs, components with ports, and cell factories.

Only what tessel needs of a layout library lives here: a PDK (`Pdk`) holding
cell factories, simulation models and containers by name, one of which is the
library's active PDK; components (`Component`) with named ports; and the
`cell` decorator that marks a function as a cell factory.  The generic PDK is
in `morrow.generic_tech`.
"""

from __future__ import annotations

import functools
from collections.abc import Callable
from typing import Any

__all__ = ["Component", "Pdk", "Port", "cell", "get_active_pdk"]

_active_pdk: Pdk | None = None


class Port:
    """A named port of a component, at `center` (x, y in um) facing `orientation` degrees."""

    def __init__(
        self,
        name: str,
        center: tuple[float, float] = (0.0, 0.0),
        orientation: float = 0.0,
        width: float = 0.5,
    ) -> None:
        self.name = name
        self.center = center
        self.orientation = orientation
        self.width = width

    def __repr__(self) -> str:
        return f"Port({self.name!r}, center={self.center}, orientation={self.orientation})"


class Component:
    """A layout component: a name, its ports in order, and the settings it was built with."""

    def __init__(
        self,
        name: str = "",
        ports: list[Port] | None = None,
        settings: dict[str, Any] | None = None,
    ) -> None:
        self.name = name
        self.ports = [] if ports is None else list(ports)
        self.settings = {} if settings is None else dict(settings)

    def add_port(self, name: str, **kwargs: Any) -> Port:
        port = Port(name, **kwargs)
        self.ports.append(port)
        return port

    def port(self, name: str) -> Port:
        for p in self.ports:
            if p.name == name:
                return p
        raise KeyError(f"{self.name!r} has no port {name!r}")

    def __repr__(self) -> str:
        return f"Component({self.name!r}, ports={[p.name for p in self.ports]})"


class Pdk:
    """A process design kit: cell factories, simulation models and containers, by name.

    The tables are plain mutable dicts kept in the instance's ``__dict__``, so
    callers may update them in place.
    """

    def __init__(
        self,
        *,
        name: str,
        cells: dict[str, Callable[..., Component]] | None = None,
        models: dict[str, Callable[..., Any]] | None = None,
        containers: dict[str, Callable[..., Component]] | None = None,
    ) -> None:
        self.name = name
        self.cells = {} if cells is None else cells
        self.models = {} if models is None else models
        self.containers = {} if containers is None else containers

    def activate(self) -> None:
        """Make this PDK the library's active PDK."""
        global _active_pdk
        _active_pdk = self

    def get_cell(self, name: str) -> Callable[..., Component]:
        try:
            return self.cells[name]
        except KeyError:
            raise KeyError(f"PDK {self.name!r} has no cell {name!r}") from None

    def __repr__(self) -> str:
        return f"{type(self).__name__}(name={self.name!r}, cells={len(self.cells)}, models={len(self.models)})"


def get_active_pdk() -> Pdk | None:
    """Return the PDK activated last, or None before any activation."""
    return _active_pdk


def cell(func: Callable[..., Component] | None = None, /) -> Any:
    """Mark `func` as a cell factory; usable as ``@cell`` and ``@cell()``.

    The factory's components are named after the function when the function
    leaves the name empty, and remember the keyword settings they were built with.
    """
    if func is None:
        return cell

    @functools.wraps(func)
    def factory(*args: Any, **kwargs: Any) -> Component:
        component = func(*args, **kwargs)
        if isinstance(component, Component):
            if not component.name:
                component.name = func.__name__
            component.settings = {**component.settings, **kwargs}
        return component

    factory.is_cell = True  # type: ignore[attr-defined]
    return factory

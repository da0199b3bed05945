# Patterns for nanobind's stub generator (see CMakeLists.txt): what the typed
# stubs of tessel.core.spiceread and tessel.core.pdk say beyond what the
# modules tell it themselves.  A query line (a regular expression matched
# against the dotted name, ending in ':') is followed by its replacement; no
# replacement removes the name.

# Module-level bindings that are no part of the public surface: the lazy
# imports and the names used in annotations.
^tessel\.core\.(spiceread|pdk)\.(TYPE_CHECKING|lazy_import|__test__)$:
^tessel\.core\.spiceread\.(sax|ts_pdk|natsorted)$:
^tessel\.core\.pdk\.(m|cg|mw|log|settings|frozendict|imports|db|register_models)$:

^tessel\.core\.spiceread\.__prefix__$:
    \import pathlib, typing

^tessel\.core\.pdk\.__prefix__$:
    \from collections.abc import Iterable
    \from pathlib import Path
    \import morrow

# The records are dataclasses made at load: their generated methods are
# spelt by the decorator here.
^tessel\.core\.spiceread\.Subckt$:
    @dataclasses.dataclass
    class Subckt:
        \doc
        id: int
        component: str
        ports: tuple[str, ...]
        settings: dict[str, typing.Any]
        parent_id: int
        children_ids: tuple[int, ...]
    \import dataclasses

^tessel\.core\.spiceread\.Conn$:
    @dataclasses.dataclass
    class Conn:
        \doc
        id: int
        name: str
        component: str
        ports: tuple[str, ...]
        settings: dict[str, typing.Any]
        parent_id: int

# A functools.cache wrapper: the stub spells the function it wraps.
^tessel\.core\.pdk\.get_base_pdk$:
    def get_base_pdk() -> morrow.Pdk:
        \doc

"""`Document`: one netlist text to check (a file's or an editor buffer's), with its outline and
what the checks ask of it more than once, each made in one walk when first asked for."""

from __future__ import annotations

from collections.abc import Iterator, Mapping
from functools import cached_property
from pathlib import Path
from typing import Any, NamedTuple

from tessel.core._outline import Element, Net, Outline, Setting, Subckt, read_outline, subckt_nets

from .config import CheckConfig, load_config, noqa_lines

__all__ = ["LIMIT", "Document", "NetTally", "Placed"]

# Findings of one code shown one by one in a file: past this, a deck that is not
# OC spice at all would bury the few findings that matter.
LIMIT = 50

# Up to this many elements, the nets of every subcircuit are kept once made.
_KEEP_NETS = 100_000


# A setting the reader evaluates, its element (None for a subcircuit's own setting) and the
# name of the subcircuit it is written in.
Placed = tuple[Setting, Element | None, str]


class NetTally(NamedTuple):
    """The nets of a kept subcircuit that the net rules look at, from one walk over them."""

    subckt: Subckt
    ports: dict[str, Net]  # the nets of its declared ports, by name, in order of first use
    single: list[Net]      # the nets of one terminal that are no declared port
    crowded: list[Net]     # the nets of three or more terminals that are no declared port


class Document:
    """A netlist text, where it comes from, and how it is read and checked.

    `path` need not exist (an editor's unsaved buffer): it selects the project's
    configuration (``[tool.tessel.check]``, unless `config` is given) and its per-file
    ignores.  `params` are the keyword values `parse_oc_spice` would be given, `read_options`
    its ``settings_keymap`` and ``component_map``.  Each code reports at most `limit`
    findings one by one, and then one that says how many more there are (None: all).
    """

    def __init__(self, text: str, path: str | Path | None = None, *,
                 params: Mapping[str, Any] | None = None,
                 read_options: Mapping[str, Any] | None = None,
                 config: CheckConfig | None = None, limit: int | None = LIMIT) -> None:
        self.text = text
        self.path = Path(path) if path is not None else None
        self.params = dict(params or {})
        options = dict(read_options or {})
        self.settings_keymap: dict[str, Any] = dict(options.pop("settings_keymap", None) or {})
        self.component_map: dict[str, Any] = dict(options.pop("component_map", None) or {})
        if options:
            raise TypeError(f"unknown read options: {', '.join(sorted(options))}")
        self.config = config if config is not None else load_config(self.path)
        self.limit = limit
        # Findings of each phase before selection and noqa (see tessel.check.run).
        self.found: dict[str, list[Any]] = {}
        self.reading: Any = None  # the Reading, once made
        self._nets: dict[int, tuple[Net, ...]] = {}

    @cached_property
    def outline(self) -> Outline:
        """What the reader's text core makes of the text (see `tessel.core._outline`)."""
        return read_outline(self.text)

    @cached_property
    def raw_lines(self) -> list[str]:
        """The text's raw lines (numbered from 1 by the outline's positions)."""
        return self.text.splitlines()

    @cached_property
    def codes(self) -> frozenset[str]:
        """The codes reported for this document."""
        return self.config.codes_for(self.path)

    @cached_property
    def noqa(self) -> dict[int, frozenset[str] | None]:
        return noqa_lines(self.outline.comments)

    @cached_property
    def owned(self) -> list[list[Element]]:
        """By subcircuit index: the elements the reader gives it, in order."""
        elements = self.outline.elements
        return [[elements[k] for k in s.elements] for s in self.outline.subckts]

    def nets(self, index: int) -> tuple[Net, ...]:
        """The nets of subcircuit `index` (see `tessel.core._outline.subckt_nets`).  In a large
        netlist only the last subcircuit's are kept: the rules walk the subcircuits one after
        another, and all of them at once would be a fifth of the outline again."""
        nets = self._nets.get(index)
        if nets is None:
            nets = subckt_nets(self.outline, index)
            if len(self.outline.elements) > _KEEP_NETS:
                self._nets.clear()
            self._nets[index] = nets
        return nets

    @cached_property
    def net_tallies(self) -> list[NetTally]:
        """By kept subcircuit, in order: its nets as the net rules need them."""
        tallies = []
        for k, s in enumerate(self.outline.subckts):
            if s.end is None:
                continue
            declared = {p.text for p in s.ports}
            ports: dict[str, Net] = {}
            single: list[Net] = []
            crowded: list[Net] = []
            for net in self.nets(k):
                if net.name in declared:
                    ports[net.name] = net
                elif (count := len(net.terminals)) == 1:
                    single.append(net)
                elif count > 2:
                    crowded.append(net)
            tallies.append(NetTally(s, ports, single, crowded))
        return tallies

    @property
    def settings(self) -> Iterator[Placed]:
        """Every setting the reader evaluates: the subcircuits' own, then the elements'."""
        subckts = self.outline.subckts
        for s in subckts:
            name = s.name.text
            for setting in s.settings:
                yield setting, None, name
        for e in self.outline.elements:
            if e.settings:
                name = subckts[e.subckt].name.text
                for setting in e.settings:
                    yield setting, e, name

    @cached_property
    def _by_kind(self) -> dict[str, tuple[list[Setting], list[Element | None], list[str]]]:
        # By the kind of value the reader makes of each, in the order of `settings`: three
        # lists rather than a tuple per setting, a tenth of a large outline's size.
        kinds: dict[str, tuple[list[Setting], list[Element | None], list[str]]] = {}
        for setting, element, name in self.settings:
            lists = kinds.get(setting.kind)
            if lists is None:
                lists = kinds[setting.kind] = ([], [], [])
            lists[0].append(setting)
            lists[1].append(element)
            lists[2].append(name)
        return kinds

    def settings_of(self, *kinds: str) -> Iterator[Placed]:
        """The `settings` of the given kinds (their order kept within each kind)."""
        for kind in kinds:
            if (lists := self._by_kind.get(kind)) is not None:
                yield from zip(*lists)

    @cached_property
    def closed(self) -> list[Subckt]:
        """The subcircuits the reader keeps (those with a .ends)."""
        return [s for s in self.outline.subckts if s.end is not None]

    def component(self, name: str) -> str:
        """A component or subcircuit name as the reader records it (`component_map` applied)."""
        if not self.component_map:
            return name
        mapped = self.component_map.get(name, name)
        return mapped if isinstance(mapped, str) else name

    @cached_property
    def subckt_ports(self) -> dict[str, tuple[str, ...]]:
        """Kept subcircuit name (mapped) -> its declared ports; the later definition wins."""
        return {self.component(s.name.text): tuple(p.text for p in s.ports) for s in self.closed}

    def parameters(self, element: Element | None) -> set[str]:
        """The names a single-quoted value may take from: the parameters, and for an element
        the settings of the subcircuit it is written in."""
        names = set(self.params)
        if element is not None:
            names.update(s.key.text for s in self.outline.subckts[element.subckt].settings)
        return names

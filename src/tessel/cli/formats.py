"""Netlist dictionaries as JSON or YAML text, written as they are serialised.

Both formats hold the same plain data: tuples become lists and objects of any
other type their text.  JSON has no infinities or not-a-number, so non-finite
numbers are written as the strings "Infinity", "-Infinity" and "NaN" (the
spelling of JavaScript and of Python's own non-standard JSON); YAML writes them
as its own ``.inf``, ``-.inf`` and ``.nan``.

The text is the one the standard serialisers make of that data (``json.dumps``
with an indent of 2; PyYAML's ``dump`` in its safe form, through its C emitter
where PyYAML has one), handed on in pieces, so that a large netlist is never in
memory twice, once as objects and once as text.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Iterable, Iterator
from json.encoder import encode_basestring_ascii as _json_str
from typing import Any

FORMATS = ("json", "yaml")

Write = Callable[[str], object]


class Entries:
    """A mapping whose entries are made while it is written: the results of several files,
    each read when the previous one has been written.  Without any entry nothing at all
    is written, not even an empty mapping."""

    def __init__(self, items: Iterable[tuple[str, Any]]) -> None:
        self._rest = iter(items)
        self._first = next(self._rest, None)

    def __bool__(self) -> bool:
        return self._first is not None

    def __iter__(self) -> Iterator[tuple[str, Any]]:
        first, self._first = self._first, None
        if first is not None:
            yield first
            del first  # before the next one is made
        yield from self._rest


def write_netlist(data: Any, fmt: str, write: Write) -> None:
    """Write `data` (any plain data, or `Entries`) as `fmt` text ending in a newline, in
    pieces through `write`."""
    if fmt == "json":
        _write_json(data, write)
    elif fmt == "yaml":
        _write_yaml(data, write)
    else:
        raise ValueError(f"unknown format {fmt!r}; expected one of {', '.join(FORMATS)}")


# Pieces of text gathered before they are handed on together.
_PIECES = 1 << 14

_NON_FINITE = {math.inf: '"Infinity"', -math.inf: '"-Infinity"'}
_JSON_WORDS = {None: "null", True: "true", False: "false"}
_float_text = float.__repr__
_int_text = int.__repr__


def _json_scalar(value: Any) -> str:
    kind = type(value)
    if kind is str:
        return _json_str(value)
    if kind is float:
        return _float_text(value) if math.isfinite(value) else _NON_FINITE.get(value, '"NaN"')
    if kind is int:
        return _int_text(value)
    if value is None or kind is bool:
        return _JSON_WORDS[value]
    return _json_str(str(value))


def _json_key(key: Any) -> str:
    # As json.dumps writes keys: numbers, booleans and None by their JSON text.
    if type(key) is str:
        return _json_str(key)
    text = _json_scalar(key)
    return text if text.startswith('"') else _json_str(text)


def _write_json(data: Any, write: Write) -> None:
    out: list[str] = []
    indents = ["\n"]

    def flush() -> None:
        write("".join(out))
        out.clear()

    def item(head: str, value: Any, level: int) -> None:
        kind = type(value)
        if kind is dict or kind is list or kind is tuple:
            out.append(head)
            container(value, kind, level)
        else:
            out.append(head + _json_scalar(value))

    def container(value: Any, kind: type, level: int) -> None:
        while len(indents) <= level + 1:
            indents.append(indents[-1] + "  ")
        inner = indents[level + 1]
        first = True
        if kind is dict:
            for key, entry in value.items():
                item(("{" if first else ",") + inner + _json_key(key) + ": ", entry, level + 1)
                first = False
                if len(out) >= _PIECES:
                    flush()
            out.append("{}" if first else indents[level] + "}")
        else:
            for entry in value:
                item(("[" if first else ",") + inner, entry, level + 1)
                first = False
                if len(out) >= _PIECES:
                    flush()
            out.append("[]" if first else indents[level] + "]")

    if type(data) is Entries:
        if not data:
            return
        head = "{\n  "
        for key, entry in data:
            item(head + _json_key(key) + ": ", entry, 1)
            head = ",\n  "
            del entry  # before the next one is made
            flush()
        out.append("\n}")
    else:
        item("", data, 0)
    out.append("\n")
    flush()


_MAP, _SEQ = "tag:yaml.org,2002:map", "tag:yaml.org,2002:seq"
_STR, _INT = "tag:yaml.org,2002:str", "tag:yaml.org,2002:int"
_FLOAT, _BOOL, _NULL = "tag:yaml.org,2002:float", "tag:yaml.org,2002:bool", "tag:yaml.org,2002:null"
_YAML_WORDS = {None: (_NULL, "null"), True: (_BOOL, "true"), False: (_BOOL, "false")}


class _Stream:
    """What PyYAML's emitters write to."""

    def __init__(self, write: Write) -> None:
        self.write = write


def _yaml_dumper() -> Any:
    import yaml

    # The C emitter, where PyYAML was built with it, is several times faster.
    return getattr(yaml, "CSafeDumper", yaml.SafeDumper)


def _write_yaml(data: Any, write: Write) -> None:
    """The events that ``yaml.dump(data, sort_keys=False, allow_unicode=True)`` would
    emit, made one at a time instead of from a tree of nodes of the whole document."""
    if type(data) is Entries and not data:
        return
    from yaml import events as ev
    from yaml.nodes import ScalarNode

    dumper = _yaml_dumper()(_Stream(write), default_flow_style=False, allow_unicode=True,
                            sort_keys=False)
    resolve, represent_float = dumper.resolve, dumper.represent_float
    # Text whose first character starts no implicit type is a string without asking the
    # resolver (which is what it would answer).
    typed_starts: set[str] | None = {c for c in dumper.yaml_implicit_resolvers if c}
    if None in dumper.yaml_implicit_resolvers or dumper.yaml_path_resolvers:
        typed_starts = None
    plain = (True, False)

    def scalar(value: Any) -> Any:
        kind = type(value)
        if kind is str:
            if typed_starts is not None and value and value[0] not in typed_starts:
                return ev.ScalarEvent(None, _STR, (True, True), value)
            implicit = resolve(ScalarNode, value, (True, False)) == _STR
            return ev.ScalarEvent(None, _STR, (implicit, True), value)
        if kind is float:
            return ev.ScalarEvent(None, _FLOAT, plain, represent_float(value).value)
        if kind is int:
            return ev.ScalarEvent(None, _INT, plain, _int_text(value))
        if value is None or kind is bool:
            tag, text = _YAML_WORDS[value]
            return ev.ScalarEvent(None, tag, plain, text)
        return scalar(str(value))

    def node(value: Any) -> Iterator[Any]:
        kind = type(value)
        if kind is dict:
            yield ev.MappingStartEvent(None, _MAP, True, flow_style=False)
            for key, item in value.items():
                yield from nodes(key)
                yield from nodes(item)
            yield ev.MappingEndEvent()
        elif kind is list or kind is tuple:
            yield ev.SequenceStartEvent(None, _SEQ, True, flow_style=False)
            for item in value:
                yield from nodes(item)
            yield ev.SequenceEndEvent()
        else:
            yield scalar(value)

    def nodes(value: Any) -> Iterator[Any] | tuple[Any]:
        # A scalar without a generator of its own: most values are scalars.
        kind = type(value)
        if kind is dict or kind is list or kind is tuple:
            return node(value)
        return (scalar(value),)

    def document() -> Iterator[Any]:
        yield ev.StreamStartEvent()
        yield ev.DocumentStartEvent(explicit=False)
        if type(data) is Entries:
            yield ev.MappingStartEvent(None, _MAP, True, flow_style=False)
            for key, item in data:
                yield scalar(key)
                yield from nodes(item)
                del item  # before the next one is made
            yield ev.MappingEndEvent()
        else:
            yield from nodes(data)
        yield ev.DocumentEndEvent(explicit=False)
        yield ev.StreamEndEvent()

    try:
        for event in document():
            dumper.emit(event)
    finally:
        dumper.dispose()

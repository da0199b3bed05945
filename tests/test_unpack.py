"""Steps that unpack a pair from a replaceable callee fail exactly like `a, b = value` does."""

from __future__ import annotations

import types

import pytest

import tessel.core.pdk as pdk
from tessel.core import spiceread as sr


class Indexable:
    """Iterable only through the old sequence protocol."""

    def __init__(self, n):
        self.n = n

    def __getitem__(self, i):
        if i >= self.n:
            raise IndexError(i)
        return i


class BrokenIter:
    def __iter__(self):
        raise TypeError("no iteration today")


def counting(n):
    yield from range(n)


# Factories, since an iterator is used up by the first unpacking.
VALUES = {
    "none": lambda: None,
    "int": lambda: 5,
    "short tuple": lambda: (1,),
    "long tuple": lambda: (1, 2, 3),
    "short list": lambda: ["a"],
    "long list": lambda: [1, 2, 3, 4],
    "long dict": lambda: {"a": 1, "b": 2, "c": 3},
    "long str": lambda: "abc",
    "empty generator": lambda: counting(0),
    "long generator": lambda: counting(5),
    "sequence protocol": lambda: Indexable(3),
    "failing iter": lambda: BrokenIter(),
}


def python_error(value):
    try:
        _a, _b = value
    except (TypeError, ValueError) as error:
        return type(error), str(error)
    raise AssertionError("unpacking did not fail")


def assert_fails_like_python(call, make):
    kind, message = python_error(make())
    with pytest.raises(kind) as info:
        call(make())
    assert str(info.value) == message


@pytest.mark.parametrize("make", VALUES.values(), ids=VALUES.keys())
def test_replaced_comment_split(monkeypatch, make):
    def call(value):
        monkeypatch.setattr(sr, "_split_comments", lambda line: value)
        sr._parse_into_ir(["R1 a b"], {})

    assert_fails_like_python(call, make)


@pytest.mark.parametrize("make", VALUES.values(), ids=VALUES.keys())
def test_replaced_importer(monkeypatch, make):
    def call(value):
        monkeypatch.setattr(pdk, "imports", types.SimpleNamespace(import_modules=lambda **_: value))
        pdk._import_modules({}, [], reload=False)

    assert_fails_like_python(call, make)


@pytest.mark.parametrize("make", VALUES.values(), ids=VALUES.keys())
def test_netlist_items(make):
    class Netlist(dict):
        def items(self):
            return [make()]

    def call(value):
        sr._patch_ports(Netlist(top={}))

    assert_fails_like_python(call, make)


@pytest.mark.parametrize("make", VALUES.values(), ids=VALUES.keys())
def test_instance_port_split(make):
    class Port(str):
        def split(self, separator):
            return make()

    def call(value):
        sr._patch_ports({"top": {"instances": {}, "connections": {}, "ports": {"p": Port("x")}}})

    assert_fails_like_python(call, make)

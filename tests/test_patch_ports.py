"""Positional port names on instances of sub-netlists become the sub-netlist's port names."""

from __future__ import annotations

import copy

import pytest

import tessel.core.spiceread as sr


def netlist(instances=None, connections=None, ports=None):
    return {
        "instances": {name: {"component": c} for name, c in (instances or {}).items()},
        "connections": dict(connections or {}),
        "ports": dict(ports or {}),
    }


def recursive():
    return {
        "top": netlist(
            {"X1": "sub", "R1": "resistor"},
            {"X1,o2": "R1,minus", "R1,plus": "X1,o3", "X1,o1": "X1,b"},
            {"in": "X1,o1", "out": "R1,o2"},
        ),
        "sub": netlist({"R9": "resistor"}, {}, {"a": "R9,minus", "b": "R9,plus"}),
    }


def test_positional_names_take_the_sub_netlists_port_names():
    nets = recursive()
    assert sr._patch_ports(nets) is None
    assert nets["top"]["connections"] == {
        "X1,b": "R1,minus",
        # Past the sub-netlist's port count, and names that are not positional, stay.
        "R1,plus": "X1,o3",
        "X1,a": "X1,b",
    }
    # Port names themselves never change; o2 on an instance of a non-netlist stays.
    assert list(nets["top"]["ports"].items()) == [("in", "X1,a"), ("out", "R1,o2")]
    assert nets["sub"]["ports"] == {"a": "R9,minus", "b": "R9,plus"}


def test_maps_come_from_the_netlists_before_patching():
    # mid's own port is positional and gets patched; top's map of mid must still
    # come from mid's port keys, whatever order the netlists are patched in.
    forward = {
        "top": netlist({"M": "mid"}, {}, {"p": "M,o1"}),
        "mid": netlist({"L": "leaf"}, {}, {"q": "L,o1"}),
        "leaf": netlist({"R": "resistor"}, {}, {"z": "R,minus"}),
    }
    backward = dict(reversed(list(copy.deepcopy(forward).items())))
    sr._patch_ports(forward)
    sr._patch_ports(backward)
    assert forward == backward
    assert forward["top"]["ports"] == {"p": "M,q"}
    assert forward["mid"]["ports"] == {"q": "L,z"}


@pytest.mark.parametrize(
    ("nets", "expected_ports"),
    [
        # A netlist without ports maps nothing.
        ({"top": netlist({"X": "e"}, {}, {"p": "X,o1"}), "e": netlist()}, {"p": "X,o1"}),
        # An instance that does not exist has the empty text for its component.
        ({"top": netlist({}, {}, {"p": "Y,o1"}), "sub": netlist({}, {}, {"a": "R,x"})},
         {"p": "Y,o1"}),
        ({"top": netlist({}, {}, {"p": "Y,o1"}), "": netlist({}, {}, {"a": "R,x"})},
         {"p": "Y,a"}),
        # An instance without a component entry behaves the same.
        ({"top": {"instances": {"Y": {}}, "connections": {}, "ports": {"p": "Y,o1"}},
          "": netlist({}, {}, {"a": "R,x"})},
         {"p": "Y,a"}),
    ],
)
def test_unresolvable_names_stay(nets, expected_ports):
    sr._patch_ports(nets)
    assert nets["top"]["ports"] == expected_ports


def test_collapsed_connection_keys_keep_the_later_value():
    nets = {
        "top": netlist({"X": "sub"}, {"X,o1": "R,a", "X,p": "R,b"}, {}),
        "sub": netlist({}, {}, {"p": "Q,x"}),
    }
    sr._patch_ports(nets)
    assert list(nets["top"]["connections"].items()) == [("X,p", "R,b")]


def test_entries_are_replaced_by_new_dicts():
    nets = recursive()
    old_sub_connections = nets["sub"]["connections"]
    old_top_ports = nets["top"]["ports"]
    sr._patch_ports(nets)
    assert nets["sub"]["connections"] is not old_sub_connections
    assert nets["top"]["ports"] is not old_top_ports
    assert old_top_ports == {"in": "X1,o1", "out": "R1,o2"}


def test_empty_recursive_netlist():
    nets = {}
    sr._patch_ports(nets)
    assert nets == {}


@pytest.mark.parametrize(
    ("connections", "ports", "message"),
    [
        ({"X1o1": "R,a"}, {}, r"not enough values to unpack \(expected 2, got 1\)"),
        ({"R,a": "X1,o1,x"}, {}, "too many values to unpack"),
        ({}, {"p": "nocomma"}, "not enough values to unpack"),
        ({}, {"p": "a,b,c"}, "too many values to unpack"),
    ],
)
@pytest.mark.parametrize("with_subnetlist", [True, False])
def test_instance_ports_need_exactly_one_comma(connections, ports, message, with_subnetlist):
    nets = {"top": netlist({"X1": "sub"}, connections, ports)}
    if with_subnetlist:
        nets["sub"] = netlist({}, {}, {"a": "R,x"})
    old_connections, old_ports = nets["top"]["connections"], nets["top"]["ports"]
    with pytest.raises(ValueError, match=message):
        sr._patch_ports(nets)
    # The netlist that failed keeps what it had.
    assert nets["top"]["connections"] is old_connections
    assert nets["top"]["ports"] is old_ports


def test_earlier_netlists_stay_patched_when_a_later_one_fails():
    nets = recursive()
    nets["bad"] = netlist({}, {}, {"p": "broken"})
    with pytest.raises(ValueError):
        sr._patch_ports(nets)
    assert nets["top"]["ports"]["in"] == "X1,a"


@pytest.mark.parametrize(
    ("net", "error"),
    [
        ({"instances": {}, "ports": {}}, KeyError),
        ({"instances": {}, "connections": {}}, KeyError),
        ({"instances": {}, "connections": None, "ports": {}}, AttributeError),
        ({"instances": {}, "connections": {}, "ports": None}, AttributeError),
    ],
)
def test_malformed_netlists_fail(net, error):
    with pytest.raises(error):
        sr._patch_ports({"top": net})


def test_non_text_instance_ports_fail_like_text_methods_do():
    with pytest.raises(AttributeError, match="split"):
        sr._patch_ports({"top": netlist({}, {1: "R,a"}, {})})


def test_netlist_may_be_a_dict_subclass_but_not_another_mapping():
    class Recursive(dict):
        pass

    nets = Recursive(recursive())
    sr._patch_ports(nets)
    assert nets["top"]["ports"]["in"] == "X1,a"
    with pytest.raises(TypeError, match="_patch_ports.*'netlist'"):
        sr._patch_ports(list(recursive().items()))

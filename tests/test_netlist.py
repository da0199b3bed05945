"""Netlist assembly from hand-built IR, with a fake PDK and a pass-through circuit library."""

from __future__ import annotations

import io
import types
import warnings

import pytest

import tessel.core.spiceread as sr

# Cleared around every test, whatever the test binds in its place.
PORT_CACHE = sr._get_ports


class IR:
    """Builds `ir` and `comments` the way the reader numbers them: children, then their .subckt."""

    def __init__(self):
        self.ir = {}
        self.comments = {}
        self._next = 1

    def _id(self):
        self._next += 1
        return self._next - 1

    def subckt(self, component, ports, children, settings=None):
        ids = []
        for child in children:
            name, component_name, nets, *rest = child
            child_settings = rest[0] if rest else {}
            _id = self._id()
            self.ir[_id] = sr.Conn(
                id=_id, name=name, component=component_name, ports=tuple(nets),
                settings=child_settings, parent_id=0,
            )
            if len(rest) > 1:
                self.comments[_id] = rest[1]
            ids.append(_id)
        _id = self._id()
        record = sr.Subckt(
            id=_id, component=component, ports=tuple(ports), settings=settings or {},
            parent_id=0, children_ids=tuple(ids),
        )
        self.ir[_id] = record
        return record

    def netlist(self, keymap=None):
        return sr._recursive_netlist_from_ir(self.ir, keymap or {}, self.comments)


class FakePort:
    def __init__(self, name):
        self.name = name


def cell(*names):
    return lambda: types.SimpleNamespace(ports=[FakePort(n) for n in names])


def fake_location(comment):
    # Stands for the location-comment reader: "* location=x,y" -> placement.
    if "location=" not in comment:
        return {}
    x, y = comment.split("location=")[1].split(",")
    return {"x": float(x), "y": float(y)}


@pytest.fixture(autouse=True)
def fakes(monkeypatch):
    pdk = types.SimpleNamespace(
        models={}, cells={"mmi": cell("o2", "o1", "o3"), "strip": cell("o1", "o2")}
    )
    monkeypatch.setattr(sr, "ts_pdk", types.SimpleNamespace(get_pdk=lambda: pdk))
    monkeypatch.setattr(sr, "sax", types.SimpleNamespace(netlist=lambda nets: nets))
    monkeypatch.setattr(sr, "_parse_location_comment", fake_location)
    PORT_CACHE.cache_clear()
    yield pdk
    PORT_CACHE.cache_clear()


def flat(ir, subckt, keymap=None, comments=None):
    return sr._netlist_from_subckt(ir.ir, subckt, keymap or {}, comments)


def test_two_resistors_between_two_ports():
    ir = IR()
    sub = ir.subckt("sub", ["a", "b"], [("R1", "resistor", "a mid".split()),
                                        ("R2", "resistor", "mid b".split())])
    result = flat(ir, sub)
    assert list(result) == ["instances", "connections", "ports", "settings", "placements"]
    assert result["instances"] == {
        "R1": {"component": "resistor", "settings": {}},
        "R2": {"component": "resistor", "settings": {}},
    }
    assert result["ports"] == {"a": "R1,minus", "b": "R2,plus"}
    assert result["connections"] == {"R1,plus": "R2,minus"}
    assert result["settings"] == {} and result["placements"] == {}


def test_single_terminal_nets_become_ports_after_the_declared_ones():
    ir = IR()
    sub = ir.subckt("sub", ["a"], [("R1", "resistor", ["dangling", "a"])])
    assert list(flat(ir, sub)["ports"].items()) == [("a", "R1,plus"), ("dangling", "R1,minus")]


def test_connections_are_keyed_by_the_earlier_terminal_in_order_of_first_appearance():
    ir = IR()
    sub = ir.subckt("sub", [], [("R1", "resistor", ["n2", "n1"]),
                                ("R2", "resistor", ["n1", "n2"])])
    assert list(flat(ir, sub)["connections"].items()) == [
        ("R1,minus", "R2,plus"), ("R1,plus", "R2,minus")]


@pytest.mark.parametrize("n_extra", [1, 2])
def test_three_or_more_terminals_on_a_net_are_rejected(n_extra):
    ir = IR()
    children = [("R1", "resistor", ["x", "mid"]), ("R2", "resistor", ["mid", "y"])]
    children += [(f"R{3 + k}", "resistor", ["mid", f"z{k}"]) for k in range(n_extra)]
    # A later crowded net is not the one reported.
    children.append(("R9", "resistor", ["other", "other"]))
    children.append(("R10", "resistor", ["other", "q"]))
    sub = ir.subckt("sub", [], children)
    names = ["'R1,plus'", "'R2,minus'"] + [f"'R{3 + k},minus'" for k in range(n_extra)]
    expected = (f"Net 'mid' is connected to more than two ports: [{', '.join(names)}]. "
                "This is currently not supported.")
    with pytest.raises(sr.ParseError) as info:
        flat(ir, sub)
    assert str(info.value) == expected


def test_several_terminals_on_a_declared_port_keep_the_last_and_warn():
    ir = IR()
    sub = ir.subckt("sub", ["a", "b"], [("R1", "resistor", ["a", "b"]),
                                        ("R2", "resistor", ["a", "c"]),
                                        ("R3", "resistor", ["c", "a"])])
    with pytest.warns(sr.ParseWarning) as record:
        result = flat(ir, sub)
    assert result["ports"] == {"a": "R3,plus", "b": "R1,plus"}
    assert result["connections"] == {"R2,plus": "R3,minus"}
    assert len(record) == 1
    message = str(record[0].message)
    assert "'a'" in message and "'R1,minus'" in message and "'R2,minus'" in message
    assert "R3,plus" in message
    assert record[0].filename == __file__


def test_dropped_terminals_of_a_port_named_by_a_lone_surrogate_warn():
    # A caller's stream may carry text that is not UTF-8 (errors="surrogateescape").
    text = ".subckt s \udcff\nR1 \udcff a\nR2 \udcff b\n.ends\n"
    with pytest.warns(sr.ParseWarning, match="\udcff"):
        sr.parse_oc_spice(io.StringIO(text))


def test_no_warning_when_each_declared_port_has_one_terminal():
    ir = IR()
    sub = ir.subckt("sub", ["a", "b"], [("R1", "resistor", ["a", "b"])])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        flat(ir, sub)


@pytest.mark.parametrize(
    ("component", "nets", "expected"),
    [
        ("resistor", ["a", "b", "c"], ["X,minus", "X,plus", "X,o3"]),
        # Cell ports come in canonical order, whatever order the cell has them in.
        ("mmi", ["a", "b", "c"], ["X,o1", "X,o2", "X,o3"]),
        ("wg_strip", ["a", "b"], ["X,o1", "X,o2"]),
        ("vccs", ["a", "b", "c", "d", "e"], ["X,minus", "X,plus", "X,out", "X,gnd_", "X,o5"]),
    ],
)
def test_terminals_take_port_names_then_positions(component, nets, expected):
    ir = IR()
    sub = ir.subckt("sub", [], [("X", component, nets)])
    assert list(flat(ir, sub)["ports"].values()) == expected


def test_unknown_component_with_terminals_names_instance_and_component():
    ir = IR()
    sub = ir.subckt("sub", [], [("R1", "resistor", ["a", "b"]), ("U7", "mystery", ["a"])])
    with pytest.raises(TypeError) as info:
        flat(ir, sub)
    message = str(info.value)
    assert "'U7'" in message and "'mystery'" in message and "unknown" in message


def test_unknown_component_without_terminals_is_accepted():
    ir = IR()
    sub = ir.subckt("sub", [], [("U7", "mystery", [])])
    assert flat(ir, sub)["instances"] == {"U7": {"component": "mystery", "settings": {}}}


def test_a_cell_that_cannot_be_built_has_unknown_ports(fakes):
    def broken():
        raise RuntimeError("needs arguments")

    fakes.cells["broken"] = broken
    ir = IR()
    sub = ir.subckt("sub", [], [("B1", "broken", ["a"])])
    with pytest.raises(TypeError, match="'B1'.*'broken'.*unknown"):
        flat(ir, sub)


def test_subcircuit_instances_take_its_declared_ports():
    ir = IR()
    ir.subckt("inner", ["left", "right"], [("R1", "resistor", ["right", "left"])])
    top = ir.subckt("top", ["p"], [("X1", "inner", ["p", "n", "extra"]),
                                   ("R2", "resistor", ["n", "q"])])
    result = flat(ir, top)
    assert result["ports"] == {"p": "X1,left", "extra": "X1,o3", "q": "R2,plus"}
    assert result["connections"] == {"X1,right": "R2,minus"}


def test_the_pdk_answers_before_the_files_own_subcircuits(fakes):
    ir = IR()
    ir.subckt("strip", ["a", "b"], [("R1", "resistor", ["a", "b"])])
    top = ir.subckt("top", [], [("X1", "strip", ["p", "q"])])
    assert flat(ir, top)["ports"] == {"p": "X1,o1", "q": "X1,o2"}


def test_duplicate_instance_names_keep_first_position_and_later_values():
    ir = IR()
    sub = ir.subckt("sub", [], [("A", "resistor", ["n1", "n2"], {"r": 1}),
                                ("B", "resistor", ["n1", "n3"]),
                                ("A", "capacitor", ["n2", "n3"], {"c": 2})])
    instances = flat(ir, sub)["instances"]
    assert list(instances) == ["A", "B"]
    assert instances["A"] == {"component": "capacitor", "settings": {"c": 2}}


def test_settings_are_mapped_and_converted_without_changing_the_ir():
    ir = IR()
    child_settings = {"w": 5e-7, "n": 3}
    sub = ir.subckt("sub", [], [("R1", "resistor", [], child_settings)],
                    settings={"L": 1e-5, "name": "x"})
    result = flat(ir, sub, keymap={"w": "width", "L": "length"})
    assert result["instances"]["R1"]["settings"] == {"n": 3, "width": 0.5}
    assert result["settings"] == {"length": 10.0, "name": "x"}
    assert child_settings == {"w": 5e-7, "n": 3}
    assert sub.settings == {"L": 1e-5, "name": "x"}


def test_placements_come_from_comments_with_location_only():
    ir = IR()
    sub = ir.subckt("sub", [], [
        ("A", "resistor", ["n1", "n2"], {}, "* location=5e-6,2"),
        ("B", "resistor", ["n1", "n2"], {}, "* just a remark"),
        ("C", "resistor", []),
    ])
    result = flat(ir, sub, comments=ir.comments)
    # Coordinates are not passed through the unit conversion of settings.
    assert result["placements"] == {"A": {"x": 5e-6, "y": 2.0}}
    for comments in (None, {}):
        assert flat(ir, sub, comments=comments)["placements"] == {}


def test_net_names_are_compared_exactly():
    ir = IR()
    sub = ir.subckt("sub", ["A"], [("R1", "resistor", ["a", "0"]), ("R2", "resistor", ["A", "0"])])
    result = flat(ir, sub)
    assert result["ports"] == {"A": "R2,minus", "a": "R1,minus"}
    assert result["connections"] == {"R1,plus": "R2,plus"}


def test_missing_child_is_a_key_error():
    ir = IR()
    sub = ir.subckt("sub", [], [("R1", "resistor", ["a", "b"])])
    sub.children_ids = (*sub.children_ids, 999)
    with pytest.raises(KeyError, match="999"):
        flat(ir, sub)


class SubDict(dict):
    pass


@pytest.mark.parametrize(
    ("function", "args", "argument"),
    [
        ("_netlist_from_subckt", (SubDict(), None, {}), "ir"),
        ("_netlist_from_subckt", ({}, None, None), "settings_keymap"),
        ("_netlist_from_subckt", ({}, None, {}, []), "comments"),
        ("_recursive_netlist_from_ir", (SubDict(), {}, {}), "ir"),
        ("_recursive_netlist_from_ir", ({}, SubDict(), {}), "settings_keymap"),
        ("_recursive_netlist_from_ir", ({}, {}, None), "comments"),
    ],
)
def test_tables_must_be_exact_dicts(function, args, argument):
    with pytest.raises(TypeError, match=f"{function}.*'{argument}'"):
        getattr(sr, function)(*args)


def test_recursive_netlist_skips_empty_subcircuits_and_reverses():
    ir = IR()
    ir.subckt("first", [], [("R1", "resistor", ["a", "b"])])
    ir.subckt("empty", ["a"], [])
    ir.subckt("second", [], [("R2", "resistor", ["a", "b"])])
    ir.ir[100] = "not a record"
    assert list(ir.netlist()) == ["second", "first"]


def test_recursive_netlist_of_nothing_is_empty(fakes, monkeypatch):
    seen = []
    monkeypatch.setattr(sr, "sax", types.SimpleNamespace(netlist=lambda n: seen.append(n) or n))
    assert sr._recursive_netlist_from_ir({}, {}, {}) == {}
    assert seen == [{}]


def test_later_subcircuit_of_the_same_name_replaces_the_earlier_in_place():
    ir = IR()
    ir.subckt("dup", [], [("R1", "resistor", ["a", "b"])])
    ir.subckt("other", [], [("R2", "resistor", ["a", "b"])])
    ir.subckt("dup", [], [("C1", "capacitor", ["a", "b"])])
    result = ir.netlist()
    assert list(result) == ["other", "dup"]
    assert list(result["dup"]["instances"]) == ["C1"]


def test_positional_ports_on_subcircuit_instances_are_patched(fakes):
    # The PDK knows "inner" with no ports, so its terminals are positional
    # until the sub-netlist's own port names replace them.
    fakes.cells["inner"] = cell()
    ir = IR()
    ir.subckt("inner", ["left", "right"], [("R1", "resistor", ["left", "right"])])
    ir.subckt("top", [], [("X1", "inner", ["p", "q", "r"])])
    assert ir.netlist()["top"]["ports"] == {"p": "X1,left", "q": "X1,right", "r": "X1,o3"}


class Model:
    def __init__(self, nets):
        self.nets = nets

    def model_dump(self):
        return {k: dict(v, placements={"junk": {}}) for k, v in self.nets.items()}


def test_a_circuit_library_model_is_dumped_and_placements_are_ours(monkeypatch):
    monkeypatch.setattr(sr, "sax", types.SimpleNamespace(netlist=Model))
    ir = IR()
    ir.subckt("sub", [], [("A", "resistor", ["a", "b"], {}, "* location=1,2")])
    result = ir.netlist()
    assert result["sub"]["placements"] == {"A": {"x": 1.0, "y": 2.0}}


def test_a_netlist_the_library_made_up_is_a_key_error(monkeypatch):
    monkeypatch.setattr(sr, "sax", types.SimpleNamespace(
        netlist=lambda nets: {**nets, "extra": {"instances": {}, "connections": {}, "ports": {}}}))
    ir = IR()
    ir.subckt("sub", [], [("A", "resistor", ["a", "b"])])
    with pytest.raises(KeyError, match="extra"):
        ir.netlist()


def test_replaced_stages_are_used(monkeypatch):
    calls = []
    monkeypatch.setattr(sr, "_get_ports", lambda c: calls.append(("ports", c)) or ("p1",))
    monkeypatch.setattr(sr, "_get_port", lambda ports, i: calls.append(("port", i)) or f"T{i}")
    monkeypatch.setattr(sr, "_patch_settings", lambda s, k: {"patched": True})
    monkeypatch.setattr(sr, "_patch_ports", lambda n: calls.append("patch"))
    ir = IR()
    ir.subckt("sub", [], [("A", "anything", ["a", "b"])])
    result = ir.netlist()
    assert result["sub"]["instances"]["A"]["settings"] == {"patched": True}
    assert result["sub"]["settings"] == {"patched": True}
    assert result["sub"]["ports"] == {"a": "A,T0", "b": "A,T1"}
    assert calls == [("ports", "anything"), ("port", 0), ("port", 1), "patch"]


def test_a_replaced_per_subcircuit_stage_is_used(monkeypatch):
    seen = []

    def per_subckt(ir, subckt, keymap, comments):
        seen.append((subckt.component, comments))
        return {"instances": {}, "connections": {}, "ports": {}, "placements": {"p": 1}}

    monkeypatch.setattr(sr, "_netlist_from_subckt", per_subckt)
    ir = IR()
    ir.subckt("sub", [], [("A", "resistor", ["a", "b"])])
    assert ir.netlist()["sub"]["placements"] == {"p": 1}
    assert seen == [("sub", {})]


def test_an_error_in_a_later_subcircuit_loses_the_whole_result():
    ir = IR()
    ir.subckt("good", [], [("R1", "resistor", ["a", "b"])])
    ir.subckt("bad", [], [("R1", "resistor", ["n", "n"]), ("R2", "resistor", ["n", "m"])])
    with pytest.raises(sr.ParseError, match="Net 'n'"):
        ir.netlist()


READ_BACK = [
    ".subckt top a b\nR1 a m w=1u l=2u\nR2 m b\n.ends\n",
    ".subckt top a b W=3 a=1e-6 B=0.5\nR1 a m x='W' y='a'\nR2 m b c=1e-9 c=2\n.ends\n",
    ".subckt inner p q\nR1 p q r=1\n.ends\n.subckt top a\nX1 a n inner\nR9 n m\n.ends\n",
]


@pytest.mark.parametrize("text", READ_BACK)
@pytest.mark.parametrize("keymap", [None, {"w": "width"}, {"w": "l", "x": "y"}])
def test_reading_gives_what_the_steps_give_on_their_own(text, keymap):
    read = sr.parse_oc_spice(io.StringIO(text), settings_keymap=keymap)
    ir, comments = sr._parse_oc_spice_into_ir(io.StringIO(text), {})
    assert read == sr._recursive_netlist_from_ir(ir, keymap or {}, comments)
    settings = [inst["settings"] for net in read.values() for inst in net["instances"].values()]
    settings += [net["settings"] for net in read.values()]
    # Each instance has a settings dict of its own, in sorted key order.
    assert len({id(s) for s in settings}) == len(settings)
    assert all(list(s) == sorted(s) for s in settings)


def test_python_code_in_a_patch_keeps_its_place_among_the_steps_of_assembly(monkeypatch):
    # A parameter's value whose product runs Python code is patched where the
    # assembly reaches its element, between the location steps, never earlier.
    seen = []

    class Metres(float):
        def __mul__(self, other):
            seen.append("multiply")
            return float(self) * other

    def location(comment):
        seen.append("location")
        return {}

    monkeypatch.setattr(sr, "_parse_location_comment", location)
    text = ".subckt top a\nR1 a m r='p' $ location=(1,2)\nR2 m b r='p' $ location=(3,4)\n.ends\n"
    read = sr.parse_oc_spice(io.StringIO(text), p=Metres(1e-6))
    assert seen == ["multiply", "location"] * 2
    assert read["top"]["instances"]["R2"]["settings"] == {"r": 1e-6 * 1e6}


def test_reading_leaves_an_ir_from_a_replaced_builder_alone(monkeypatch):
    ir = IR()
    sub = ir.subckt("sub", [], [("R1", "resistor", ["a", "b"], {"w": 1e-6})], {"l": 2e-6})
    monkeypatch.setattr(sr, "_parse_into_ir", lambda lines, component_map, **kw: (ir.ir, {}))
    read = sr.parse_oc_spice(io.StringIO("anything\n"))
    assert read["sub"]["instances"]["R1"]["settings"] == {"w": 1.0}
    assert read["sub"]["settings"] == {"l": 2.0}
    assert ir.ir[1].settings == {"w": 1e-6} and sub.settings == {"l": 2e-6}

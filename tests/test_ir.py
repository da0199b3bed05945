"""The IR builder: relevant lines to the (ir, comments) pair."""

from __future__ import annotations

import dataclasses
import itertools
import random

import pytest

from tessel.core import spiceread as sr


def _values_available() -> bool:
    try:
        sr._parse_value("1")
    except NotImplementedError:
        return False
    return True


needs_values = pytest.mark.skipif(not _values_available(), reason="value evaluation not built")


# Plain-Python equivalents of the builder's steps, used to replace them.


def py_split_comments(line):
    at = line.find("$")
    if at < 0:
        at = line.find("*")
    if at < 0:
        return line, ""
    return line[:at].strip(), line[at:].strip()


def py_split_words(line):
    word, mode = "", "char"
    for ch in line:
        if ch == " " and mode == "char":
            yield word
            word = ""
            continue
        if ch == '"' and mode == "char":
            mode = "string"
        elif ch == '"' and mode == "string":
            mode = "char"
        elif ch == "'" and mode == "char":
            mode = "eval"
        elif ch == "'" and mode == "eval":
            mode = "char"
        word += ch
    yield word


def py_filter_empty(lines):
    for line in lines:
        if line:
            yield line


def py_handle_sources(words):
    words = list(words)
    lower = [w.strip().lower() for w in words]
    for keyword in ("vcvs", "vccs", "ccvs", "cccs"):
        if keyword in lower:
            at = lower.index(keyword)
            break
    else:
        return list(words)
    ports, comp, control = words[:at], words[at], words[at + 1 :]
    j = 0
    for i, w in enumerate(control):
        if "=" in w:
            continue
        if w.isidentifier():
            control[i] = w + "="
            ports.insert(0, w)
        else:
            control[i] = f"gain={w}" if j == 0 else f"unknown{j}={w}"
            j += 1
    return [*ports, comp, *control]


def py_get_ir_ports(words):
    return tuple(w for w in words if "=" not in w)


def py_get_ir_settings(words, **kwargs):
    settings = {}
    for w in words:
        if "=" in w:
            key, value = w.split("=")
            settings[key] = sr._parse_value(value, **kwargs)
    return settings


def py_get_parent_id(parents):
    return parents[-1].id if parents else 0


def fake_value(value, **kwargs):
    """A stand-in value evaluation that shows what it was given."""
    if not value:
        return None
    return kwargs.get(value, value.upper())


STEPS = {
    "_split_comments": py_split_comments,
    "_split_words": py_split_words,
    "_filter_empty": py_filter_empty,
    "_handle_sources": py_handle_sources,
    "_get_ir_ports": py_get_ir_ports,
    "_get_ir_settings": py_get_ir_settings,
    "_get_parent_id": py_get_parent_id,
}


def build(lines, component_map=None, **kwargs):
    return sr._parse_into_ir(list(lines), component_map or {}, **kwargs)


Conn, Subckt = sr.Conn, sr.Subckt

EXAMPLE = [".subckt top a b w=x", "R1 a b r=10", "X1 a b mmi", ".ends"]


# -- structure ------------------------------------------------------------------------


def test_example_netlist(monkeypatch):
    monkeypatch.setattr(sr, "_parse_value", fake_value)
    ir, comments = build(EXAMPLE, {"resistor": "res"})
    assert list(ir) == [2, 3, 1]
    assert ir[2] == Conn(id=2, name="R1", component="res", ports=("a", "b"),
                         settings={"r": "10"}, parent_id=1)
    assert ir[3] == Conn(id=3, name="X1", component="mmi", ports=("a", "b"), settings={}, parent_id=1)
    assert ir[1] == Subckt(id=1, component="top", ports=("a", "b"), settings={"w": "X"},
                           parent_id=0, children_ids=(2, 3))
    assert comments == {}


@needs_values
def test_example_netlist_values():
    ir, _ = build([".subckt top a b w=1", "R1 a b r=10", "X1 a b mmi", ".ends"])
    assert ir[1].settings == {"w": 1.0}
    assert ir[2].settings == {"r": 10.0}


@pytest.mark.parametrize(
    ("element", "component", "ports"),
    [
        ("R1 a b 10", "resistor", ("a", "b", "10")),
        ("C1 a b", "capacitor", ("a", "b")),
        ("r1 a b 10", "10", ("a", "b")),
        ("c1 a b", "b", ("a",)),
        ("X1 mmi", "mmi", ()),
        ("X1 a w=1 b k=2", "b", ("a",)),
        ("E1 out 0 VCVS in 2 3", "VCVS", ("in", "out", "0")),
        ("Rx", "resistor", ()),
        ('X1 "a b" k="c d" \'e f\' m', "m", ('"a b"', "'e f'")),
    ],
)
def test_element_component_and_ports(element, component, ports, monkeypatch):
    monkeypatch.setattr(sr, "_parse_value", fake_value)
    ir, _ = build([".subckt s", element, ".ends"])
    assert (ir[2].component, ir[2].ports) == (component, ports)


def test_comment_lines_take_line_ids():
    ir, comments = build(["* title", ".subckt top a", "X1 a m $ placed", ".ends $ end"])
    assert comments == {1: "* title", 3: "$ placed", 4: "$ end"}
    assert list(ir) == [3, 2]
    assert ir[3].parent_id == 2


def test_elements_outside_a_subcircuit_are_skipped_but_keep_their_comment():
    ir, comments = build(["X0 a m * top level", ".subckt s", "X1 a m", ".ends"])
    assert list(ir) == [3, 2]
    assert ir[2].children_ids == (3,)
    assert comments == {1: "* top level"}


def test_children_ids_are_shared_across_nested_subcircuits():
    lines = [".subckt outer", "X1 a m", ".subckt inner", "X2 a m", ".ends",
             "X3 a m", ".ends", ".subckt next", ".ends"]
    ir, _ = build(lines)
    assert list(ir) == [2, 4, 3, 6, 1, 8]
    assert ir[3].children_ids == (2, 4)
    assert ir[1].children_ids == (6,)
    assert ir[8].children_ids == ()
    assert (ir[3].parent_id, ir[4].parent_id, ir[6].parent_id) == (1, 3, 1)


def test_unclosed_subcircuit_is_dropped_but_its_elements_stay():
    ir, _ = build([".subckt s a", "X1 a m"])
    assert list(ir) == [2]
    assert ir[2].parent_id == 1


@pytest.mark.parametrize("line", [".global gnd", ".ends extra words"])
def test_commands_that_do_not_make_records(line):
    lines = [".subckt s", line, ".ends"] if line.startswith(".global") else [".subckt s", line]
    ir, _ = build(lines)
    assert list(ir) == ([1] if line.startswith(".global") else [1])


def test_component_map_applies_to_subcircuits_and_elements():
    ir, _ = build([".subckt s", "X1 a m", "R1 a b", ".ends"], {"s": "S", "m": "M", "resistor": 7})
    assert (ir[1].component, ir[2].component, ir[3].component) == ("S", "M", 7)


def test_records_are_real_dataclass_instances():
    ir, _ = build([".subckt s a", "X1 a m", ".ends"])
    conn, subckt = ir[2], ir[1]
    made = Conn(id=2, name="X1", component="m", ports=("a",), settings={}, parent_id=1)
    assert type(conn) is Conn and conn == made and repr(conn) == repr(made)
    assert vars(conn) == vars(made) and list(vars(conn)) == list(vars(made))
    assert [f.name for f in dataclasses.fields(subckt)] == list(vars(subckt))
    assert dataclasses.asdict(subckt)["children_ids"] == (2,)


# -- failures -------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("lines", "error", "message"),
    [
        ([".ends"], sr.ParseError, ".ends before begin."),
        ([".subckt s", ".ends", ".ends"], sr.ParseError, ".ends before begin."),
        ([".end"], sr.ParseError, "Unsupported command: .end."),
        ([".SUBCKT s"], sr.ParseError, "Unsupported command: .SUBCKT."),
        ([".param x=1"], sr.ParseError, "Unsupported command: .param."),
        ([".en\0d"], sr.ParseError, "Unsupported command: .en\0d."),  # a NUL is text like any other
        ([".subckt"], ValueError, "not enough values to unpack (expected at least 1, got 0)"),
        ([".subckt s", "X1 k=1"], IndexError, "tuple index out of range"),
        ([".subckt s", "X1 a m k=1=2"], ValueError, "too many values to unpack (expected 2"),
        ([".subckt s a=b=c"], ValueError, "too many values to unpack (expected 2"),
    ],
)
def test_failures(lines, error, message):
    with pytest.raises(error) as info:
        build(lines)
    assert str(info.value).startswith(message)
    if error is sr.ParseError:
        assert info.value.args == (message,)


def test_element_outside_subcircuit_is_not_checked():
    assert build(["X1 k=1"]) == ({}, {})


@pytest.mark.parametrize(
    ("args", "kwargs", "error"),
    [
        ((["a"], None), {}, "component_map"),
        ((["a"], type("D", (dict,), {})()), {}, "component_map"),
        ((["a"],), {}, "missing 1 required positional argument: 'component_map'"),
        ((["a"], {}, {}), {}, "takes 2 positional arguments but 3 were given"),
    ],
)
def test_parse_into_ir_argument_errors(args, kwargs, error):
    with pytest.raises(TypeError, match=error):
        sr._parse_into_ir(*args, **kwargs)


def test_non_text_line_is_rejected():
    with pytest.raises(TypeError, match="_split_comments"):
        build([".subckt s", 5])


# -- keyword values -------------------------------------------------------------------


def test_keyword_values_reach_value_evaluation(monkeypatch):
    seen = []

    def spy(*args, **kwargs):
        seen.append((*args, kwargs))
        return args[0]

    monkeypatch.setattr(sr, "_parse_value", spy)
    names = {"lines": 1, "words": 2, "value": 3, "key_or_value": 4, "w": 0}
    ir, _ = sr._parse_into_ir([".subckt s w=5 k=6", "X1 a m p=7", ".subckt t w=8", "X2 a m q=9"],
                              {}, **names)
    assert seen[0] == ("5", names)
    assert seen[2] == ("7", {**names, "w": "5", "k": "6"})
    # Only the innermost subcircuit's settings are added.
    assert seen[4] == ("9", {**names, "w": "8"})
    assert sr._parse_into_ir(lines=[], component_map={}) == ({}, {})


def test_parameters_given_by_keyword():
    assert sr._get_ir_settings(words=[]) == {}


# -- the steps ------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("words", "expected"),
    [
        ("out 0 VCVS in 2 3", "in out 0 VCVS in= gain=2 unknown1=3"),
        ("a b c", "a b c"),
        ("a vccs vcvs b", "b a vccs vcvs b="),
        ("p VcCs x y 1 k=2 2", "y x p VcCs x= y= gain=1 k=2 unknown1=2"),
        ("in cccs in", "in in cccs in="),
        ("a ccvs 1a é _ x·y", "x·y _ é a ccvs gain=1a é= _= x·y="),
        ("a \u3000VCVS\t b", "b a \u3000VCVS\t b="),
        ("a VCVS \u3000b", "a VCVS gain=\u3000b"),
    ],
)
def test_handle_sources(words, expected):
    assert sr._handle_sources(words.split(" ")) == expected.split(" ")
    assert py_handle_sources(words.split(" ")) == expected.split(" ")


def test_handle_sources_takes_any_iterable_and_leaves_it_unchanged():
    words = ["a", "vcvs", "b"]
    assert sr._handle_sources(iter(words)) == ["b", "a", "vcvs", "b="]
    assert words == ["a", "vcvs", "b"]
    result = sr._handle_sources(words[:1])
    assert result == ["a"]


def test_no_non_ascii_character_lowercases_to_a_keyword_letter():
    # The keyword comparison in the builder is ASCII-only; this is why that is exact.
    assert [c for c in map(chr, range(0x80, 0x110000)) if set(c.lower()) & set("vcs")] == []


@pytest.mark.parametrize("seed", range(3))
def test_identifier_test_matches_python(seed):
    rng = random.Random(seed)
    pool = ["a", "Z", "_", "1", "9", "é", "日", "·", "²", "ℌ", "\u0300", "-", "ǅ", "ⅷ", "𝔘", "\u200c"]
    for _ in range(2000):
        word = "".join(rng.choice(pool) for _ in range(rng.randint(1, 3)))
        words = ["n", "vccs", word, "1"]
        assert sr._handle_sources(words) == py_handle_sources(words), word


@pytest.mark.parametrize(
    ("parents", "expected"),
    [([], 0), ([Subckt(1, "a", (), {}, 0, ()), Subckt(7, "b", (), {}, 1, ())], 7)],
)
def test_get_parent_id(parents, expected):
    assert sr._get_parent_id(parents) == expected


def test_get_ir_ports_keeps_order_and_skips_settings():
    assert sr._get_ir_ports(["a", "k=1", '"x=y"', "b"]) == ("a", "b")


@pytest.mark.parametrize("func", ["_get_parent_id", "_get_ir_ports", "_get_ir_settings"])
@pytest.mark.parametrize("bad", [("a",), None, "ab"])
def test_list_arguments_are_exact(func, bad):
    with pytest.raises(TypeError, match=func):
        getattr(sr, func)(bad)


def test_get_ir_settings_later_key_wins_and_keys_keep_case(monkeypatch):
    monkeypatch.setattr(sr, "_parse_value", fake_value)
    settings = sr._get_ir_settings(["K=a", "k=b", "K=c", "=d", "e=", "'q'=x", "port"])
    assert settings == {"K": "C", "k": "B", "": "D", "e": None, "'q'": "X"}
    assert list(settings) == ["K", "k", "", "e", "'q'"]


# -- replaced steps -------------------------------------------------------------------

NETS = ["a", "b", "n1", "0", "out", "é"]


def random_netlist(rng: random.Random) -> list[str]:
    lines, depth = [], 0
    for _ in range(rng.randint(1, 40)):
        r = rng.random()
        if r < 0.12:
            lines.append(f".subckt s{rng.randint(0, 5)} {' '.join(rng.sample(NETS, 2))} w={rng.randint(0, 3)}")
            depth += 1
        elif r < 0.2 and depth:
            lines.append(".ends")
            depth -= 1
        elif r < 0.3:
            lines.append(rng.choice(["* note", "$ x", ".global g", "X1 a m $ location=1,2"]))
        else:
            name = rng.choice(["R", "C", "X", "E", "r"]) + str(rng.randint(0, 99))
            words = rng.sample(NETS, rng.randint(1, 3))
            if name[0] == "E":
                words += [rng.choice(["VCVS", "cccs"]), rng.choice(["in", "2", "x=1"]), "3"]
            else:
                words += [rng.choice(["m", "mmi"]), f"k={rng.choice(['w', '1', ''])}"]
            comment = rng.choice(["", " * c", " $ d"])
            lines.append(f"{name} {' '.join(words)}{comment}")
    return lines


@pytest.mark.parametrize("replaced", [[name] for name in STEPS] + [list(STEPS)], ids=str)
def test_replaced_steps_give_the_same_ir(replaced, monkeypatch):
    monkeypatch.setattr(sr, "_parse_value", fake_value)
    rng = random.Random(7)
    netlists = [random_netlist(rng) for _ in range(150)]
    fast = [build(lines, {"m": "M"}, w="kw") for lines in netlists]
    for name in replaced:
        monkeypatch.setattr(sr, name, STEPS[name])
    assert [build(lines, {"m": "M"}, w="kw") for lines in netlists] == fast


def test_a_replaced_step_is_called(monkeypatch):
    calls = []

    def ports(words):
        calls.append(list(words))
        return tuple(w.upper() for w in words if "=" not in w)

    monkeypatch.setattr(sr, "_get_ir_ports", ports)
    ir, _ = build([".subckt s a", "X1 b m k=1", ".ends"])
    assert calls == [["a"], ["b", "m", "k=1"]]
    assert (ir[1].ports, ir[2].ports, ir[2].component) == (("A",), ("B",), "M")


def test_builder_reads_any_iterable_of_lines():
    lines = [".subckt s a", "X1 a m", ".ends"]
    assert sr._parse_into_ir(iter(lines), {}) == build(lines)
    assert sr._parse_into_ir(sr._iter_relevant_lines("\n".join(lines)), {}) == build(lines)
    assert sr._parse_into_ir(itertools.chain(lines), {}) == build(lines)

"""The reader's entry: argument checks, opening and closing, and the fused road to the IR."""

from __future__ import annotations

import io
import os
import random
import re
from pathlib import Path

import pytest

from tessel.core import spiceread as sr

NETLIST = """\
* test netlist
.subckt top a b w=1
R1 a b r=10 $ location=1,2
+ extra=3

X1 a n1 mmi
X2 n1 b  mmi   * tail
.ends
"""


class Dict(dict):
    pass


def open_fds(path: Path) -> int:
    fds = "/proc/self/fd"
    count = 0
    for fd in os.listdir(fds):
        try:
            count += os.readlink(os.path.join(fds, fd)) == str(path.resolve())
        except OSError:
            pass
    return count


needs_proc = pytest.mark.skipif(not os.path.isdir("/proc/self/fd"), reason="needs /proc")


@pytest.fixture
def netlist_file(tmp_path):
    path = tmp_path / "net.sp"
    path.write_text(NETLIST, encoding="utf-8")
    return path


@pytest.fixture
def netlist_from_ir(monkeypatch):
    """Stands in for the netlist stage: returns what it was given."""
    calls = []

    def fake(ir, settings_keymap, comments):
        calls.append((ir, settings_keymap, comments))
        return {"ir": ir}

    monkeypatch.setattr(sr, "_recursive_netlist_from_ir", fake)
    return calls


# -- argument checks ------------------------------------------------------------------


@pytest.mark.parametrize("name", ["settings_keymap", "component_map"])
@pytest.mark.parametrize("value", [Dict(), [], "x"])
def test_maps_must_be_exact_dicts(name, value, netlist_file, netlist_from_ir):
    with pytest.raises(TypeError, match=name):
        sr.parse_oc_spice(netlist_file, **{name: value})
    assert netlist_from_ir == []


def test_none_and_empty_maps_behave_the_same(netlist_file, netlist_from_ir):
    sr.parse_oc_spice(netlist_file)
    sr.parse_oc_spice(netlist_file, {}, {})
    (ir1, keymap1, c1), (ir2, keymap2, c2) = netlist_from_ir
    assert (ir1, keymap1, c1) == (ir2, keymap2, c2)


def test_four_positional_arguments_are_rejected(netlist_file):
    with pytest.raises(TypeError):
        sr.parse_oc_spice(netlist_file, None, None, {})


@pytest.mark.parametrize("value", [None, Dict()])
def test_into_ir_needs_an_exact_dict(value, netlist_file):
    with pytest.raises(TypeError, match="component_map"):
        sr._parse_oc_spice_into_ir(netlist_file, value)


def test_bytes_path_is_taken_for_a_stream(netlist_file):
    with pytest.raises(AttributeError):
        sr._parse_oc_spice_into_ir(bytes(netlist_file), {})


def test_byte_stream_is_rejected_and_left_open():
    stream = io.BytesIO(NETLIST.encode())
    with pytest.raises(TypeError, match="_iter_relevant_lines"):
        sr._parse_oc_spice_into_ir(stream, {})
    assert not stream.closed


@pytest.mark.parametrize("text", [NETLIST, ".ends\n"])
def test_caller_stream_is_left_open(text):
    stream = io.StringIO("ignored\n" + text)
    stream.readline()
    try:
        sr._parse_oc_spice_into_ir(stream, {})
    except sr.ParseError:
        pass
    assert not stream.closed
    assert stream.read() == ""


@needs_proc
@pytest.mark.parametrize("text", [NETLIST, NETLIST + ".ends\n", "\ud800".encode("utf-8", "surrogatepass")])
def test_file_opened_by_the_call_is_closed(text, tmp_path):
    path = tmp_path / "f.sp"
    if isinstance(text, bytes):
        path.write_bytes(text)
    else:
        path.write_text(text, encoding="utf-8")
    for arg in (path, str(path)):
        try:
            sr._parse_oc_spice_into_ir(arg, {})
        except (sr.ParseError, UnicodeDecodeError):
            pass
        assert open_fds(path) == 0


def test_missing_file_error_is_the_hosts(tmp_path):
    with pytest.raises(FileNotFoundError):
        sr._parse_oc_spice_into_ir(tmp_path / "none.sp", {})


def test_path_as_text_or_path_object_gives_the_same_ir(netlist_file):
    by_path = sr._parse_oc_spice_into_ir(netlist_file, {})
    assert sr._parse_oc_spice_into_ir(str(netlist_file), {}) == by_path
    assert sr._parse_oc_spice_into_ir(path_or_buf=io.StringIO(NETLIST), component_map={}) == by_path


def test_files_are_read_as_utf8(tmp_path):
    path = tmp_path / "u.sp"
    path.write_bytes(".subckt tôp a\nX1 a mödel\n.ends\n".encode())
    ir, _ = sr._parse_oc_spice_into_ir(path, {})
    assert (ir[1].component, ir[2].component) == ("tôp", "mödel")


@pytest.mark.parametrize(
    "text",
    [
        ".subckt top a b\nR1 a b\n.ends\n",  # plain ASCII: the file's bytes are scanned as they are
        ".subckt top a b\r\nR1 a b\r\n.ends\r\n",
        ".subckt top a b\rR1 a b\r.ends\r",
        ".subckt tôp a b\nR1 a b\n.ends\n",
    ],
)
def test_a_file_reads_as_text_mode_reads_it(text, tmp_path, monkeypatch):
    path = tmp_path / "f.sp"
    path.write_bytes(text.encode())
    with open(path, encoding="utf-8") as file:
        expected = sr._parse_oc_spice_into_ir(io.StringIO(file.read()), {})
    assert sr._parse_oc_spice_into_ir(path, {}) == expected
    # A replaced step gets the text as str.
    seen, original = [], sr._iter_relevant_lines
    monkeypatch.setattr(sr, "_iter_relevant_lines", lambda content: seen.append(type(content)) or original(content))
    assert sr._parse_oc_spice_into_ir(path, {}) == expected
    assert seen == [str]


@pytest.mark.parametrize("by", ["path", "stream"])
def test_a_byte_order_mark_is_no_part_of_the_first_line(by, tmp_path):
    path = tmp_path / "bom.sp"

    def read(text):
        path.write_text(text, encoding="utf-8")
        return sr._parse_oc_spice_into_ir(path if by == "path" else io.StringIO(text), {})

    good = ".subckt top a b\nR1 a b\n.ends\n"
    assert read("\ufeff" + good) == read(good)
    with pytest.raises(ValueError) as info:
        read("\ufeff" + good.replace("R1 a b", "R1 a b k=1=2"))
    assert info.value.__notes__ == [f"{path if by == 'path' else '<stream>'}:2: R1 a b k=1=2"]
    assert read(good.replace("top", "t\ufeffop"))[0][1].component == "t\ufeffop"  # elsewhere it is text


class ClassRaises(io.StringIO):
    @property
    def __class__(self):
        raise LookupError("no class")


class NoHash:
    def __hash__(self):
        raise LookupError("no hash")


class NoOrder(str):
    __hash__ = str.__hash__

    def __lt__(self, other):
        raise LookupError("no order")


SUB = {"instances": {}, "connections": {}, "ports": {"a": "R1,minus"}}
FAILING_CALLS = {
    "isinstance of a stream": lambda: sr.parse_oc_spice(ClassRaises(".subckt top a\n.ends\n")),
    "isinstance of a record": lambda: sr._recursive_netlist_from_ir({1: ClassRaises()}, {}, {}),
    "comparison of keys": lambda: sr._map_settings_keys({NoOrder("b"): 1, NoOrder("a"): 2}, {}),
    "hash of a component": lambda: sr._patch_ports({"sub": SUB, "top": {
        "instances": {"X1": {"component": NoHash()}}, "connections": {"X1,o1": "X2,o1"}, "ports": {}}}),
}


@pytest.mark.parametrize("call", FAILING_CALLS.values(), ids=FAILING_CALLS.keys())
def test_a_failing_object_protocol_call_is_the_error_raised(call):
    # Not an AttributeError about 'read', nor a wrong road taken.
    with pytest.raises(LookupError, match="^no "):
        call()


# -- the road to the IR ---------------------------------------------------------------


def test_line_ids_count_relevant_lines(netlist_file):
    ir, comments = sr._parse_oc_spice_into_ir(netlist_file, {})
    assert list(ir) == [3, 4, 5, 2]
    assert comments == {1: "* test netlist", 3: "$ location=1,2 extra=3", 5: "* tail"}
    assert ir[2].children_ids == (3, 4, 5)


def test_parse_oc_spice_hands_the_ir_on(netlist_file, netlist_from_ir):
    keymap = {"r": "resistance"}
    result = sr.parse_oc_spice(netlist_file, keymap, {"mmi": "MMI"})
    (ir, keymap_seen, comments), = netlist_from_ir
    assert result == {"ir": ir}
    assert keymap_seen is keymap
    assert ir[4].component == "MMI"
    assert comments[1] == "* test netlist"


def test_keyword_values_travel_to_value_evaluation(netlist_file, netlist_from_ir, monkeypatch):
    seen = []

    def spy(*args, **kwargs):
        seen.append(kwargs)
        return args[0]

    monkeypatch.setattr(sr, "_parse_value", spy)
    names = {"lines": 1, "words": 2, "value": 3, "key_or_value": 4, "path_or_buf2": 5}
    sr.parse_oc_spice(netlist_file, **names)
    assert seen[0] == names
    assert seen[1] == {**names, "w": "1"}


def python_relevant_lines(content):
    joined = []
    for line in (raw.strip() for raw in content.splitlines()):
        if joined and line.startswith("+"):
            joined[-1] += " " + line[1:].strip()
        else:
            joined.append(line)
    return (line for line in (re.sub(r"\s+", " ", j).strip() for j in joined) if line)


def random_netlist_text(rng):
    out, depth = [], 0
    for _ in range(rng.randint(1, 60)):
        r = rng.random()
        ws = rng.choice([" ", "  ", "\t", " \u3000", "\xa0"])
        end = rng.choice(["\n", "\r\n", "\r", "\u2028"])
        if r < 0.1:
            out.append(f".subckt{ws}s{rng.randint(0, 9)}{ws}a b{ws}w={rng.choice(['1', 'x'])}")
            depth += 1
        elif r < 0.18 and depth:
            out.append(rng.choice([".ends", "  .ends  "]))
            depth -= 1
        elif r < 0.3:
            out.append(rng.choice(["* note", "", "   ", "+ k=2", "$ location=1,2", "X9 a b m * c"]))
        else:
            name = rng.choice(["R", "C", "X", "E", "x"]) + str(rng.randint(0, 999))
            nets = ws.join(rng.sample(["a", "b", "n1", "0", "ñ", "o2"], rng.randint(1, 3)))
            model = rng.choice(["mmi", "VCVS 2 in", "wg", "'q r'"])
            out.append(f"{ws}{name}{ws}{nets}{ws}{model}{ws}k={rng.choice(['1', 'u', ''])}")
        out.append(end)
    return "".join(out)


@pytest.mark.parametrize("seed", range(3))
def test_fused_road_equals_the_stage_by_stage_road(seed, monkeypatch):
    monkeypatch.setattr(sr, "_parse_value", lambda value, **kwargs: value or None)
    rng = random.Random(seed)
    texts = [random_netlist_text(rng) for _ in range(200)]

    def run():
        results = []
        for text in texts:
            try:
                results.append(sr._parse_oc_spice_into_ir(io.StringIO(text), {"mmi": "M"}, w="kw"))
            except (sr.ParseError, IndexError, ValueError) as error:
                results.append((type(error), str(error)))
        return results

    fused = run()
    original = sr._parse_into_ir
    monkeypatch.setattr(sr, "_iter_relevant_lines", python_relevant_lines)
    monkeypatch.setattr(sr, "_parse_into_ir", lambda lines, cm, **kw: original(list(lines), cm, **kw))
    assert run() == fused


def test_unresolved_values_warn_once_each_at_the_callers_line():
    text = ".subckt s a\nX1 a m k='nope' j='nope'\nX2 a m k='w'\n.ends\n"
    with pytest.warns(sr.ParseWarning) as record:
        ir, _ = sr._parse_oc_spice_into_ir(io.StringIO(text), {}, w=3)  # the warning's line
    assert [str(w.message).count("'nope'") for w in record] == [2, 2]
    assert {(w.filename, w.lineno) for w in record} == {(__file__, record[0].lineno)}
    assert record[0].lineno == test_unresolved_values_warn_once_each_at_the_callers_line.__code__.co_firstlineno + 3
    assert ir[2].settings == {"k": None, "j": None}
    assert ir[3].settings == {"k": 3}

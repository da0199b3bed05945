"""The reader's line pipeline: relevant lines, the stages, comment and word splitting."""

from __future__ import annotations

import random
import re

import pytest

from tessel.core import spiceread as sr

STAGES = ("_strip_lines", "_join_continuations", "_standardize_spaces", "_filter_empty")


def reference_lines(content: str) -> list[str]:
    """The relevant lines by Python's own string operations."""
    joined: list[str] = []
    for line in (raw.strip() for raw in content.splitlines()):
        if joined and line.startswith("+"):
            joined[-1] += " " + line[1:].strip()
        else:
            joined.append(line)
    cleaned = (re.sub(r"\s+", " ", line).strip() for line in joined)
    return [line for line in cleaned if line]


def relevant(content: str) -> list[str]:
    return list(sr._iter_relevant_lines(content))


# -- relevant lines -------------------------------------------------------------------


@pytest.mark.parametrize(
    ("content", "expected"),
    [
        ("R1 a b\n+ c=1\n+d=2", ["R1 a b c=1 d=2"]),
        ("R1 a b\n\n+ c=1", ["R1 a b", "c=1"]),
        ("+ a b\nc", ["+ a b", "c"]),
        ("* note\n+ more", ["* note more"]),
        (" \tR1\ta   b \n \t \n", ["R1 a b"]),
        ("a\r\nb\rc\n", ["a", "b", "c"]),
        ("a\r\n+b", ["a b"]),
        ("a\n+\n+ b", ["a b"]),
        ("a\n  +b", ["a b"]),
        ("a\n++b", ["a +b"]),
        ("'x   y'  \"p\tq\"", ["'x y' \"p q\""]),
        ("", []),
        ("\n\n  \n", []),
        ("+", ["+"]),
    ],
    ids=lambda v: repr(v)[:30],
)
def test_relevant_lines_edge_cases(content, expected):
    assert relevant(content) == expected
    assert reference_lines(content) == expected


@pytest.mark.parametrize("mark", ["  ", "\t", " \t", "\xa0", "\x1c", "\x1f", "\n+", " \n"])
def test_white_space_at_every_offset_of_a_clean_line(mark):
    # a clean line is checked eight bytes at a time: a mark on either side of each boundary
    text = "abc defgh ijklmno pqrstu vwx yz0123"
    for at in range(len(text) + 1):
        content = text[:at] + mark + text[at:] + "\nR1 a b\n"
        assert relevant(content) == reference_lines(content), repr(content)


@pytest.mark.parametrize("boundary", ["\n", "\r", "\r\n", "\v", "\f", "\x1c", "\x1d", "\x1e",
                                      "\x85", "\u2028", "\u2029"])
def test_every_line_boundary_breaks_a_continuation(boundary):
    assert relevant(f"a{boundary}b{boundary}+c") == ["a", "b c"]


def test_lines_and_spaces_agree_with_python_for_every_code_point():
    chars = [chr(c) for c in range(0x3100)] + ["\U0001F600", "\U000E0020"]
    texts = [f" a{ch}b{ch}\n{ch}+{ch}c{ch}" for ch in chars]
    assert [relevant(t) for t in texts] == [reference_lines(t) for t in texts]


def test_stages_agree_with_python_for_every_code_point():
    chars = [chr(c) for c in range(0x3100)] + ["\U0001F600", "\udc80"]
    lines = [f"{ch}{ch}a{ch}b{ch}" for ch in chars]
    assert list(sr._strip_lines(lines)) == [line.strip() for line in lines]
    assert list(sr._standardize_spaces(lines)) == [re.sub(r"\s+", " ", line) for line in lines]


def test_lone_surrogates_take_the_correct_route():
    text = "X\ud800 a \udfff\n+ \ud83d=1\u3000\n b\u00e9"
    assert relevant(text) == reference_lines(text)
    assert list(sr._split_words("a\ud800 'b \udc00' c")) == ["a\ud800", "'b \udc00'", "c"]
    assert sr._split_comments("R\ud800 $ n\udfff ") == ("R\ud800", "$ n\udfff")


WHITE = [" ", "  ", "\t", "\x1f", "\xa0", "\u1680", "\u2003", "\u202f", "\u205f", "\u3000", "\x0b"]
BREAKS = ["\n", "\r", "\r\n", "\n\n", "\x0c", "\x85", "\u2028", "\u2029", "\x1c"]
WORDS = ["R1", "a", "b", "X2", "mmi", "w=1", "'x y'", '"p q"', "+", "++", "$c", "*n", "é",
         "ünï", "日本", "\U0001F600", ".subckt", "k='1'", "\u200b", "v"]


def random_text(rng: random.Random) -> str:
    parts = []
    for _ in range(rng.randint(0, 12)):
        kind = rng.random()
        if kind < 0.45:
            parts.append(rng.choice(WORDS))
        elif kind < 0.7:
            parts.append(rng.choice(WHITE))
        elif kind < 0.9:
            parts.append(rng.choice(BREAKS))
            if rng.random() < 0.5:
                parts.append(rng.choice(["+", " +", "\t+ "]))
        else:
            parts.append(rng.choice(BREAKS) + rng.choice(WHITE))
    return "".join(parts)


@pytest.mark.parametrize("seed", range(4))
def test_relevant_lines_match_python_on_random_texts(seed):
    rng = random.Random(seed)
    for _ in range(1000):
        text = random_text(rng)
        assert relevant(text) == reference_lines(text), repr(text)


@pytest.mark.parametrize("seed", range(2))
def test_fused_scanner_equals_the_stages_chained(seed, monkeypatch):
    rng = random.Random(100 + seed)
    texts = [random_text(rng) for _ in range(500)]
    fused = [relevant(t) for t in texts]
    # A stage that is not the module's own makes the pipeline compose the stages.
    original = sr._filter_empty
    monkeypatch.setattr(sr, "_filter_empty", lambda lines: original(lines))
    assert [relevant(t) for t in texts] == fused


def test_replaced_stage_is_used(monkeypatch):
    seen = []

    def spy(lines):
        for line in lines:
            seen.append(line)
            yield line.upper()

    monkeypatch.setattr(sr, "_standardize_spaces", spy)
    assert relevant("a  b\n+c") == ["A  B C"]
    assert seen == ["a  b c"]


@pytest.mark.parametrize("content", [b"R1 a b", None, 3, ["R1"]])
def test_relevant_lines_accept_only_text(content):
    with pytest.raises(TypeError, match="_iter_relevant_lines"):
        sr._iter_relevant_lines(content)


def test_relevant_line_stream_is_single_use():
    stream = sr._iter_relevant_lines("a\nb")
    assert iter(stream) is stream
    assert list(stream) == ["a", "b"]
    assert list(stream) == []


# -- the stages ------------------------------------------------------------------------


def counting(items, pulled):
    for item in items:
        pulled.append(item)
        yield item


@pytest.mark.parametrize("stage", STAGES)
def test_stages_are_lazy(stage):
    pulled = []
    stream = getattr(sr, stage)(counting(["a  b", "+c", "d", "e"], pulled))
    assert pulled == []
    next(stream)
    assert len(pulled) <= 3


@pytest.mark.parametrize("stage", STAGES)
@pytest.mark.parametrize("make", [lambda: ("a",), lambda: ["a"], lambda: iter(["a"]), lambda: {"a": 1}])
def test_stages_accept_any_iterable(stage, make):
    assert list(getattr(sr, stage)(make())) == ["a"]


@pytest.mark.parametrize("stage", STAGES)
@pytest.mark.parametrize("bad", [b"x", 5, None])
def test_stages_fail_on_a_non_text_item_then_stop(stage, bad):
    stream = getattr(sr, stage)(["a", bad, "b"])
    with pytest.raises(TypeError, match=stage):
        list(stream)
    assert list(stream) == []


def test_stage_fails_on_a_non_iterable_only_when_pulled():
    stream = sr._strip_lines(5)
    with pytest.raises(TypeError):
        next(stream)


@pytest.mark.parametrize(
    ("stage", "lines", "expected"),
    [
        ("_strip_lines", [" a \t", "\u3000b\x85", ""], ["a", "b", ""]),
        ("_standardize_spaces", [" a \t\tb ", "x\u2028\u2029y"], [" a b ", "x y"]),
        ("_filter_empty", ["", "a", "", " "], ["a", " "]),
        ("_join_continuations", [], []),
        ("_join_continuations", ["+a", "+ b ", "c", "+"], ["+a b", "c "]),
        ("_join_continuations", ["", "+ c=1"], [" c=1"]),
        ("_join_continuations", [" a", " +b"], [" a", " +b"]),
    ],
)
def test_stage_semantics(stage, lines, expected):
    assert list(getattr(sr, stage)(lines)) == expected


def test_unchanged_line_is_passed_through():
    line = "R1 a b"
    assert next(sr._strip_lines([line])) is line
    assert next(sr._standardize_spaces([line])) is line


# -- _chain ---------------------------------------------------------------------------


def test_chain_applies_functions_left_to_right():
    f = sr._chain(lambda x: x + "a", lambda x: x + "b")
    assert f("") == "ab"
    assert f(x="") == "ab"


def test_chain_without_functions_returns_its_argument_itself():
    obj = object()
    assert sr._chain()(obj) is obj


def test_chain_captures_its_function_list():
    funcs = [str.upper]
    f = sr._chain(*funcs)
    funcs.append(str.lower)
    assert f("a") == "A"


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: sr._chain(str, key=1), "unexpected keyword argument 'key'"),
        (lambda: sr._chain()(), "missing 1 required positional argument: 'x'"),
        (lambda: sr._chain()(1, 2), "takes 1 positional argument but 2 were given"),
        (lambda: sr._chain()(1, x=2), "multiple values for argument 'x'"),
        (lambda: sr._chain()(y=2), "unexpected keyword argument 'y'"),
    ],
)
def test_chain_argument_errors(call, message):
    with pytest.raises(TypeError, match=re.escape(message)):
        call()


# -- comments and words ---------------------------------------------------------------


@pytest.mark.parametrize(
    ("line", "expected"),
    [
        ("no comment", ("no comment", "")),
        ("$ only", ("", "$ only")),
        ("R1 a b * x $ y", ("R1 a b * x", "$ y")),
        ("R1 a*b $ c", ("R1 a*b", "$ c")),
        ("R1 a b $ note", ("R1 a b", "$ note")),
        ("k=2*3", ("k=2", "*3")),
        (" a \t* b\u3000", ("a", "* b")),
        ("", ("", "")),
    ],
)
def test_split_comments(line, expected):
    assert sr._split_comments(line) == expected


@pytest.mark.parametrize(
    ("line", "expected"),
    [
        ('X1 "a b" c', ["X1", '"a b"', "c"]),
        ("k='x y' z", ["k='x y'", "z"]),
        ("a  b", ["a", "", "b"]),
        ("a 'b c", ["a", "'b c"]),
        ("", [""]),
        (" a ", ["", "a", ""]),
        ("'a \"b' c\" d", ["'a \"b'", 'c" d']),
        ("a\tb", ["a\tb"]),
        ("é 日本", ["é", "日本"]),
    ],
)
def test_split_words(line, expected):
    assert list(sr._split_words(line)) == expected


@pytest.mark.parametrize("func", ["_split_comments", "_split_words"])
@pytest.mark.parametrize("bad", [b"a b", None, ["a"]])
def test_splitters_accept_only_text(func, bad):
    with pytest.raises(TypeError, match=func):
        getattr(sr, func)(bad)

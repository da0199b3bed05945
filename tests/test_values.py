"""Setting values: numbers with scale suffixes, quoting, evaluation of single-quoted values,
and the ParseWarning for values nobody can resolve."""

from __future__ import annotations

import decimal
import inspect
import io
import math
import random
import struct
import sys
import unicodedata
import warnings

import pytest

import tessel.core.spiceread as spiceread

SHIFT = {"p": -12, "n": -9, "u": -6, "m": -3}
EXACT = decimal.Context(prec=decimal.MAX_PREC, Emax=decimal.MAX_EMAX, Emin=decimal.MIN_EMIN)


def same(got, expected) -> bool:
    """Equal and of the same type; floats bit for bit (signed zeros, the sign of a nan)."""
    if type(got) is not type(expected):
        return False
    if isinstance(got, float):
        return struct.pack("<d", got) == struct.pack("<d", expected)
    return got == expected


def unresolved_message(text: str) -> str:
    return (
        f"Could not parse '{text}'. Setting it to None (to be specified during the circuit call). "
        f"You can also set the value of '{text}' as a keyword argument of ts.parse_oc_spice"
    )


@pytest.fixture
def caught():
    with warnings.catch_warnings(record=True) as records:
        warnings.simplefilter("always")
        yield records


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        ("", None),
        ('""', ""),  # emptiness is tested before the quotes come off
        ('"', ""),
        ("10", 10.0),
        ("-0", -0.0),
        ("2.5m", 0.0025),
        ("2.5M", 0.0025),  # milli, never mega
        ("3p", 3e-12),
        ("10u", 1e-05),  # the decimal as written, scaled: one rounding
        ("10n", 1e-08),
        ("1e-6", 1e-06),  # the whole text is a number before "6" could be a suffix
        ("1e5u", 0.1),
        ("5x", 5.0),
        ("1k", 1.0),
        ("1meg", "1meg"),
        ("abc", "abc"),
        ("m", "m"),
        ("{1,2}", "[1,2]"),
        ("{}", "[]"),
        ('"5u"', 5e-06),
        ("1_000", 1000.0),
        ("1_", 1.0),
        ("1__0", "1__0"),
        ("_1", "_1"),
        ("0x10", "0x10"),  # no hexadecimal, whatever the C library accepts
        ("1e400", math.inf),
        ("-Infinity", -math.inf),
        ("infu", math.inf),
        ("1,5", "1,5"),
        ("٣", 3.0),  # non-ASCII digits, as float() reads them
        ("١٠u", 1e-05),
        ("5µ", 5.0),  # a non-ASCII last character is no scale suffix but still cut off
        ("5\ud800", 5.0),
        ("x\ud800", "x\ud800"),
    ],
)
def test_unquoted_values(value, expected):
    assert same(spiceread._parse_value(value), expected)


def test_nan_keeps_its_sign():
    assert math.copysign(1.0, spiceread._parse_value("-nan")) == -1.0
    assert math.isnan(spiceread._parse_value("NaNm"))


@pytest.mark.parametrize(("first", "second"), [("0", "-0"), ("-0", "0"), ("nan", "-nan"), ("-nan", "nan")])
def test_a_number_read_after_its_twin_keeps_its_sign(first, second):
    # Recurring numbers share one float: 0.0 == -0.0 must not make them one.
    a, b = spiceread._parse_value(first), spiceread._parse_value(second)
    assert math.copysign(1.0, a) != math.copysign(1.0, b)


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        ("'{1,2}'", [1, 2]),
        ("'[1, (2, 3)]'", [1, (2, 3)]),
        ("'True'", True),
        ("'None'", None),
        ("'\"hi\"'", "hi"),  # double quotes inside single quotes stay for the evaluation
        ("\"'(1,2)'\"", (1, 2)),  # single quotes inside double quotes are evaluated
        ("''(7)''", 7),
        # Quoted numbers are numbers, scaled like unquoted ones (they used to reach
        # _eval as floats and abandon the parse with a type error).
        ("'5u'", 5e-06),
        ("'3'", 3.0),
        ("\"'2.5m'\"", 0.0025),
        ("'-inf'", -math.inf),
    ],
)
def test_single_quoted_values_are_evaluated(value, expected, caught):
    assert same(spiceread._parse_value(value), expected)
    assert caught == []


def test_quoted_numbers_never_reach_eval(monkeypatch):
    calls = []
    monkeypatch.setattr(spiceread, "_eval", lambda *a, **k: calls.append(a))
    assert spiceread._parse_value("'5u'", x=1) == 5e-06
    assert calls == []


def test_parameter_lookup_returns_the_parameter_itself():
    width = object()
    assert spiceread._parse_value("'w'", w=width) is width
    assert spiceread._parse_value("'m'", m="x") == "x"  # not cut down to a scale suffix
    assert spiceread._eval("w", w=width) is width


@pytest.mark.parametrize(
    ("call", "expected"),
    [
        (lambda: spiceread._parse_value("'value'", value=5), 5),
        (lambda: spiceread._parse_value("'key_or_value'", key_or_value=6), 6),
        (lambda: spiceread._eval("key_or_value", key_or_value=7), 7),
        (lambda: spiceread._eval("value", value=8), 8),
    ],
    ids=["parse_value-value", "parse_value-key_or_value", "eval-key_or_value", "eval-value"],
)
def test_parameters_named_like_the_arguments(call, expected):
    assert call() == expected


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("{1, 2}", [1, 2]),  # a set comes back as a list
        ("[{1}]", [{1}]),  # only the outer value is converted
        ("(1, 2)", (1, 2)),
        ("{'a': 1}", {"a": 1}),
        ("-1.5", -1.5),
        ("'5u'", "5u"),
    ],
)
def test_eval_literals(text, expected, caught):
    assert same(spiceread._eval(text), expected)
    assert caught == []


@pytest.mark.parametrize("text", ["a b", "[1", "", "1 2"])
def test_eval_syntax_errors_propagate(text, caught):
    with pytest.raises(SyntaxError):
        spiceread._eval(text)
    assert caught == []


@pytest.mark.parametrize("value", ["'a b'", "'[1'", "''", "\"''\""])
def test_quoted_text_that_does_not_parse_abandons(value, caught):
    with pytest.raises(SyntaxError):
        spiceread._parse_value(value)
    assert caught == []


def test_quoted_number_with_a_blank_is_the_number():
    # float("1 2") fails, "2" is taken as a suffix and float("1 ") succeeds
    assert same(spiceread._parse_value("'1 2'"), 1.0)


@pytest.mark.parametrize("text", ["x", "1+x", "__import__('os').getpid()", "\ud800"])
def test_unresolved_values_warn_once_and_become_none(text, caught):
    assert spiceread._eval(text) is None
    assert spiceread._parse_value(f"'{text}'") is None
    assert [(w.category, str(w.message)) for w in caught] == [
        (spiceread.ParseWarning, unresolved_message(text))
    ] * 2


def test_eval_never_executes_code(caught):
    probe = "__import__('sys').modules.__setitem__('tessel_eval_probe', 1)"
    assert spiceread._eval(probe) is None
    assert "tessel_eval_probe" not in sys.modules


@pytest.mark.parametrize("value", [3.0, b"x", None, 1, type("S", (str,), {})("x")])
def test_eval_rejects_anything_but_str_before_any_work(value, monkeypatch):
    monkeypatch.setattr(spiceread, "ast", None)  # any evaluation attempt would fail differently
    with pytest.raises(TypeError, match=r"_eval\(\) argument 'key_or_value' must be str"):
        spiceread._eval(value)


@pytest.mark.parametrize("value", [0, None, [], 0.0])
def test_any_falsy_value_is_none(value):
    assert spiceread._parse_value(value) is None


@pytest.mark.parametrize("value", [5, b"1", [1]])
def test_other_values_are_refused(value):
    with pytest.raises(TypeError, match=r"_parse_value\(\) argument 'value' must be str"):
        spiceread._parse_value(value)


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: spiceread._parse_value(), "_parse_value() missing 1 required positional argument: 'value'"),
        (lambda: spiceread._parse_value("a", "b"), "_parse_value() takes 1 positional argument but 2 were given"),
        (lambda: spiceread._eval(), "_eval() missing 1 required positional argument: 'key_or_value'"),
    ],
)
def test_argument_count(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_replaced_eval_is_used_with_its_own_parameters(monkeypatch):
    seen = []

    def fake_eval(key_or_value, **kwargs):
        seen.append((key_or_value, dict(kwargs)))
        kwargs["changed"] = True
        return "replaced"

    monkeypatch.setattr(spiceread, "_eval", fake_eval)
    params = {"a": 1}
    assert spiceread._parse_value("'x'", **params) == "replaced"
    assert spiceread._parse_value("y") == "y"  # unquoted text is not evaluated
    assert seen == [("x", {"a": 1})]


# --- where the warning points -------------------------------------------------------------


def test_warning_names_the_calling_line(caught):
    here = inspect.currentframe()
    _, eval_line = spiceread._eval("unknown"), here.f_lineno
    _, parse_line = spiceread._parse_value("'unknown'"), here.f_lineno
    _, location_line = spiceread._parse_location_comment("$ location=('unknown',1,2)"), here.f_lineno
    _, surrogate_line = spiceread._eval("\ud800"), here.f_lineno  # not UTF-8: warnings.warn route
    assert [(w.filename, w.lineno) for w in caught] == [
        (__file__, eval_line), (__file__, parse_line), (__file__, location_line), (__file__, surrogate_line)
    ]


def test_warning_text_may_hold_a_nul(caught, monkeypatch):
    class RefusingAst:
        @staticmethod
        def literal_eval(text):
            raise ValueError(text)

    monkeypatch.setattr(spiceread, "ast", RefusingAst)
    _, line = spiceread._eval("odd\x00name"), inspect.currentframe().f_lineno
    assert [(str(w.message), w.filename, w.lineno) for w in caught] == [
        (unresolved_message("odd\x00name"), __file__, line)
    ]


def test_warning_of_a_whole_parse_names_the_callers_line(caught):
    netlist = io.StringIO(".subckt top a b\nX1 a b mmi w='unknown'\n.ends\n")
    try:
        _, line = spiceread._parse_oc_spice_into_ir(netlist, {}), inspect.currentframe().f_lineno
    except NotImplementedError:
        pytest.skip("the IR builder is not in this build")
    assert [(w.category, w.filename, w.lineno) for w in caught] == [
        (spiceread.ParseWarning, __file__, line)
    ]


def test_warning_turned_error_keeps_the_refusal_as_context():
    with warnings.catch_warnings():
        warnings.simplefilter("error", spiceread.ParseWarning)
        with pytest.raises(spiceread.ParseWarning) as info:
            spiceread._parse_value("'x'")
    assert str(info.value) == unresolved_message("x")
    assert isinstance(info.value.__context__, ValueError)


# --- numbers: bit for bit what float() gives ----------------------------------------------


def reference(text: str):
    """The unquoted value of `text`, with Python's float() as the oracle."""
    try:
        number = float(text)
    except Exception:
        unit = text[-1:]
        try:
            number = float(text[:-1])
        except Exception:
            return text
        shift = SHIFT.get(unit.lower(), 0)
        if shift == 0 or number == 0 or math.isnan(number) or "inf" in text.lower():
            return number
        # The decimal as written, scaled, rounded once (an overflow may come back in range).
        digits = "".join(str(unicodedata.decimal(c, c)) for c in text[:-1] if not c.isspace())
        try:
            return float(decimal.Decimal(digits.replace("_", "")).scaleb(shift, EXACT))
        except decimal.InvalidOperation:  # an exponent beyond what decimal holds
            return number
    return number


@pytest.mark.parametrize(
    "text",
    [
        "9007199254740993",  # halfway between two doubles: ties to even
        "2.2250738585072011e-308",
        "2.2250738585072014e-308",
        "4.9406564584124654e-324",
        "2.4703282292062328e-324",  # just above half the least subnormal: rounds up
        "2.4703282292062327e-324",  # just below: zero
        "1.7976931348623157e308",
        "1.7976931348623159e308",  # overflows to inf
        "0." + "0" * 400 + "1",
        "1" + "0" * 400,
        "1" + "0" * 400 + "e-400",
        "0" * 500 + "1.5",
        "0.1e99999999999999999999",
        "1e-99999999999999999999",
        "0e99999999999999999999",
        "-0.0e-5",
        "1." + "9" * 800,
        "123456789012345678901234567890e-10",
    ],
)
def test_hard_roundings(text):
    assert same(spiceread._parse_value(text), reference(text))


ASCII_SPACES = " \t\n\x0b\x0c\r"
OTHER_SPACES = ["\x85", "\xa0", "\u2003", "\u3000", "\x1c", "\x1f"]  # \x1c-\x1f: not for float()
OTHER_DIGITS = ["٣", "৫", "０", "𝟙", "७"]
WORDS = ["inf", "infinity", "nan", "in", "infinit", "nana"]
GARBAGE = ["x", "j", "0x", ",", "\x00", "µ", "\ud800", "e", "E", "+", "-", ".", "_", "m", "U", "p", "N", " "]


def digit_run(rng: random.Random, allow_other: bool) -> str:
    size = rng.choice([0, 1, 1, 2, 3, 5, 8, 17, 20, 40]) if rng.random() < 0.97 else rng.randint(300, 800)
    chars = []
    for _ in range(size):
        if allow_other and rng.random() < 0.05:
            chars.append(rng.choice(OTHER_DIGITS))
        else:
            chars.append(rng.choice("0123456789"))
        if chars and rng.random() < 0.08:
            chars.append("_" * rng.choice([1, 1, 1, 2]))
    return "".join(chars)


def spaces(rng: random.Random, allow_other: bool) -> str:
    if rng.random() < 0.8:
        return ""
    pool = list(ASCII_SPACES) + (OTHER_SPACES if allow_other else [])
    return "".join(rng.choice(pool) for _ in range(rng.randint(1, 3)))


def number_text(rng: random.Random) -> str:
    other = rng.random() < 0.2
    text = spaces(rng, other) + rng.choice(["", "", "+", "-"])
    if rng.random() < 0.12:
        word = rng.choice(WORDS)
        text += "".join(c.upper() if rng.random() < 0.5 else c for c in word)
    else:
        text += digit_run(rng, other)
        if rng.random() < 0.5:
            text += "." + digit_run(rng, other)
        if rng.random() < 0.4:
            exponent = rng.choice([str(rng.randint(0, 30)), str(rng.randint(290, 340)), "9" * 25, digit_run(rng, other)])
            text += rng.choice("eE") + rng.choice(["", "+", "-"]) + exponent
    text += spaces(rng, other)
    for _ in range(rng.choice([0, 0, 0, 1, 2])):  # damage it a little
        at = rng.randint(0, len(text))
        text = text[:at] + rng.choice(GARBAGE) + text[at + rng.choice([0, 0, 1]):]
    if rng.random() < 0.3:
        text += rng.choice("pnumPNUMkx")
    return text


@pytest.mark.parametrize("seed", [1, 2, 3, 4])
def test_numbers_match_python_float(seed):
    rng = random.Random(seed)
    texts = [t for t in (number_text(rng) for _ in range(1500)) if t and t[0] not in "\"'{"]
    mismatches = [(t, spiceread._parse_value(t), reference(t)) for t in texts
                  if not same(spiceread._parse_value(t), reference(t))]
    assert mismatches == []
    # the generator must keep producing both sides of the question
    numbers = sum(isinstance(reference(t), float) for t in texts)
    assert 0.3 * len(texts) < numbers < 0.95 * len(texts)


def test_short_decimals_match_python_float():
    # significands around 2^53 and exponents around +-22: the edges of exact conversion
    rng = random.Random(5)
    for _ in range(3000):
        digits = str(rng.randint(0, 2**54))
        cut = rng.randint(0, len(digits))
        text = f"{digits[:cut]}.{digits[cut:]}e{rng.randint(-25, 25)}"
        assert same(spiceread._parse_value(text), float(text)), text

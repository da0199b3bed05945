"""How the reader module loads and what it binds: what callers and monkeypatching rely on."""

from __future__ import annotations

import ctypes
import dataclasses
import importlib
import json
import re
import sys
from pathlib import Path

import pytest

from conftest import run_python

import tessel.core.spiceread as spiceread

# The module's functions, in their order, come from the one table that binds them.
TABLE = (Path(__file__).resolve().parents[1] / "native" / "spiceread" / "module.hpp").read_text()
FUNCTIONS = re.findall(r"^\s*X\((\w+), def_\w+,", TABLE.split("TESSEL_SPICEREAD_FUNCTIONS(X)", 1)[1], re.M)
NAMES_IN_ORDER = [
    "ast", "re", "warnings",
    "Callable", "Generator", "Iterable", "Sequence",
    "suppress", "dataclass", "lru_cache", "TextIOWrapper", "Path", "TYPE_CHECKING", "Any", "Literal",
    "lazy_import", "sax", "ts_pdk", "natsorted", "__all__",
    "ParseError", "ParseWarning", "Subckt", "Conn",
    *FUNCTIONS,
]


def test_names_are_bound_in_definition_order():
    bound = [name for name in vars(spiceread) if not name.startswith("__") or name == "__all__"]
    assert bound == NAMES_IN_ORDER
    assert spiceread.__all__ == ["parse_oc_spice"]


def test_docstring_carries_the_experimental_note():
    doc = spiceread.__doc__
    assert doc.startswith("Parse OC Spice.")
    assert "Note:" in doc and "This spice parser is experimental and incomplete." in doc


@pytest.mark.parametrize(
    "cls, doc, fields",
    [
        (spiceread.Subckt, "Subcircuit.",
         ["id", "component", "ports", "settings", "parent_id", "children_ids"]),
        (spiceread.Conn, "Connection.",
         ["id", "name", "component", "ports", "settings", "parent_id"]),
    ],
)
def test_records_are_dataclasses_of_the_module(cls, doc, fields):
    assert dataclasses.is_dataclass(cls)
    assert cls.__module__ == "tessel.core.spiceread" and cls.__doc__ == doc
    assert [f.name for f in dataclasses.fields(cls)] == fields
    values = dict(zip(fields, range(len(fields))))
    record = cls(**values)
    assert record == cls(**values) and record != cls(**{**values, fields[0]: -1})
    assert repr(record) == f"{cls.__name__}(" + ", ".join(f"{k}={v}" for k, v in values.items()) + ")"
    with pytest.raises(TypeError):
        cls()  # no field defaults
    record.parent_id = 99  # mutable
    with pytest.raises(TypeError):
        record < record  # no ordering


def test_exception_and_warning_classes():
    assert issubclass(spiceread.ParseError, RuntimeError)
    assert spiceread.ParseError.__doc__ == "Error while parsing spice."
    assert spiceread.ParseWarning.__bases__ == (Warning,)
    assert spiceread.ParseWarning.__doc__ == "Warning while parsing spice."
    assert spiceread.ParseError.__module__ == "tessel.core.spiceread"


def test_import_loads_no_heavy_dependency():
    out = run_python("""
        import json, sys
        import tessel.core.spiceread
        print(json.dumps([m in sys.modules for m in ("sax", "natsort", "tessel.core.pdk")]))
    """).stdout
    assert json.loads(out) == [False, False, False]


@pytest.mark.parametrize("module_name, init", [
    ("tessel.core.spiceread", "PyInit_spiceread"),
    ("tessel.core.pdk", "PyInit_pdk"),
])
def test_second_initialisation_is_refused(module_name, init):
    module = importlib.import_module(module_name)
    entry = getattr(ctypes.PyDLL(module.__file__), init)
    entry.restype = ctypes.py_object
    with pytest.raises(RuntimeError, match="initialised twice"):
        entry()
    assert sys.modules[module_name] is module


# Child-side helper: runs `code` in a new interpreter of the process, closes it
# and returns the error text, or None.  An isolated interpreter refuses
# single-phase modules itself (3.12 on); a legacy one (and any on 3.11) reaches
# the module's own guard.
IN_SUBINTERPRETER = """
import sys

def in_subinterpreter(code, isolated):
    if isolated and sys.version_info >= (3, 14):
        from concurrent import interpreters
        interp = interpreters.create()
        try:
            interp.exec(code)
        except interpreters.ExecutionFailed as e:
            return str(e)
        finally:
            interp.close()
        return None
    try:
        import _interpreters as api
        interp = api.create() if isolated else api.create("legacy")
    except ImportError:
        import _xxsubinterpreters as api
        interp = api.create(isolated=isolated)
    try:
        failure = api.run_string(interp, code)
    except Exception as e:  # 3.11 and 3.12 raise RunFailedError
        failure = e
    finally:
        api.destroy(interp)
    return None if failure is None else str(failure)
"""


@pytest.mark.parametrize("module_name", ["tessel.core.spiceread", "tessel.core.pdk"])
def test_second_interpreter_is_refused(module_name):
    out = run_python(IN_SUBINTERPRETER + f"""
import {module_name}
print(in_subinterpreter("import {module_name}", isolated=False))
""").stdout
    assert "ImportError" in out and "second interpreter" in out


@pytest.mark.parametrize("module_name", ["tessel.core.spiceread", "tessel.core.pdk"])
@pytest.mark.parametrize("steps", [
    ["isolated", "main", "isolated", "legacy"],
    ["legacy", "isolated", "main", "legacy"],
])
def test_refusing_another_interpreter_leaves_the_module_to_the_main_one(module_name, steps):
    out = run_python(IN_SUBINTERPRETER + f"""
import ctypes, importlib, json
results = []
for step in {steps!r}:
    if step == "main":
        module = importlib.import_module("{module_name}")
        results.append(module.__name__)
    else:
        results.append(in_subinterpreter("import {module_name}", isolated=step == "isolated"))
entry = getattr(ctypes.PyDLL(module.__file__), "PyInit_" + "{module_name}".rsplit(".")[-1])
entry.restype = ctypes.py_object
try:
    entry()
except RuntimeError as e:
    results.append(str(e))
print(json.dumps(results + [sys.modules["{module_name}"] is module]))
""").stdout
    *imports, second_init, same_module = json.loads(out)
    for step, result in zip(steps, imports):
        if step == "main":
            assert result == module_name
        else:
            assert "ImportError" in result
    assert "initialised twice" in second_init and same_module


@pytest.mark.parametrize("name", [name for name in FUNCTIONS if name != "parse_oc_spice"])
def test_a_step_wrapped_around_its_original_reads_the_same(name, monkeypatch, tmp_path):
    # A wrapper (a trace, say) that calls the step it replaced: the original
    # does its own work and never calls the wrapper back.
    path = tmp_path / "wrapped.sp"
    path.write_text(".subckt inner p q\nR1 p q\n.ends\n"
                    ".subckt top a b w=1u\nR1 a m r='w' $ location=(1,2,0)\nX2 m b inner\n.ends\n")
    expected = spiceread.parse_oc_spice(path)
    original = getattr(spiceread, name)
    monkeypatch.setattr(spiceread, name, lambda *args, **kwargs: original(*args, **kwargs))
    assert spiceread.parse_oc_spice(path) == expected

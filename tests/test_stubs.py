"""The typed stubs of the extension modules: installed, in step with the modules, usable by mypy."""

from __future__ import annotations

import ast
import inspect
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import tessel.core.pdk as pdk
import tessel.core.spiceread as spiceread

PUBLIC = [
    (spiceread, "parse_oc_spice"),
    (pdk, "get_pdk"),
    (pdk, "get_base_pdk"),
    (pdk, "register_cells"),
    (pdk, "activate_pdk_by_name"),
]

USER_SCRIPT = """
    from tessel.core.pdk import get_pdk, register_cells
    from tessel.core.spiceread import ParseError, ParseWarning, parse_oc_spice

    netlists = parse_oc_spice("top.sp", settings_keymap={"w": "width"}, gap=0.2)
    reveal_type(netlists)
    reveal_type(get_pdk())
    reveal_type(register_cells(paths=[]))
    reveal_type(ParseError("x"))
    reveal_type(ParseWarning)
"""


def stub_of(module) -> ast.Module:
    path = Path(module.__file__).with_name(module.__name__.rpartition(".")[2] + ".pyi")
    return ast.parse(path.read_text())


def test_stubs_and_marker_are_installed_with_the_modules():
    # Beside the extensions (in site-packages, also for an editable install).
    for module in (spiceread, pdk):
        stub_of(module)
    assert (Path(spiceread.__file__).parents[1] / "py.typed").is_file()


def declared(text: str) -> str:
    return text.replace("typing.", "").replace(" ", "")


@pytest.mark.parametrize(("module", "name"), PUBLIC, ids=[name for _, name in PUBLIC])
def test_runtime_signature_and_docstring_are_the_stubs(module, name):
    # inspect.signature (and so help() and IDEs) sees what the stub declares.
    function = getattr(module, name)
    runtime = inspect.signature(function)
    [stub] = [n for n in stub_of(module).body if isinstance(n, ast.FunctionDef) and n.name == name]
    assert declared(str(runtime).replace("'", "")) == declared(
        f"({ast.unparse(stub.args)}) -> {ast.unparse(stub.returns)}")
    assert inspect.cleandoc(function.__doc__) == ast.get_docstring(stub)
    assert "Returns:" in function.__doc__


def test_mypy_strict_on_a_user_script(tmp_path):
    script = tmp_path / "user.py"
    script.write_text(textwrap.dedent(USER_SCRIPT))
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", script.name],
        cwd=tmp_path, capture_output=True, text=True,
    )
    revealed = [line.split("Revealed type is ")[1].strip('"').replace("builtins.", "")
                for line in done.stdout.splitlines() if "Revealed type is" in line]
    assert revealed == [
        "dict[str, Any]",
        "morrow.Pdk",
        "tuple[list[str], list[str]]",
        "tessel.core.spiceread.ParseError",
        "def (*args: object) -> tessel.core.spiceread.ParseWarning",
    ], done.stdout
    assert "error" not in done.stdout, done.stdout

"""Lazy imports: nothing is imported before first use, then the proxy behaves as its target."""

from __future__ import annotations

import json

from conftest import run_python


def test_target_is_imported_on_first_use_only():
    out = run_python("""
        import json, sys
        from tessel.core.lazy import lazy_import
        dec = lazy_import("decimal")
        ctx = lazy_import("decimal", "getcontext")
        before = "decimal" in sys.modules
        value = str(dec.Decimal("1.5"))
        print(json.dumps([before, "decimal" in sys.modules, value, ctx().prec]))
    """).stdout
    assert json.loads(out) == [False, True, "1.5", 28]


def test_target_is_kept_for_the_life_of_the_process():
    out = run_python("""
        import sys
        from tessel.core.lazy import lazy_import
        mod = lazy_import("colorsys")
        first = mod.rgb_to_hsv
        del sys.modules["colorsys"]
        print(mod.rgb_to_hsv is first)
    """).stdout
    assert out.strip() == "True"


def test_missing_target_fails_at_use_not_at_binding():
    out = run_python("""
        from tessel.core.lazy import lazy_import
        ghost = lazy_import("no_such_module_anywhere")
        try:
            ghost.anything
        except ModuleNotFoundError as e:
            print(e.name)
    """).stdout
    assert out.strip() == "no_such_module_anywhere"

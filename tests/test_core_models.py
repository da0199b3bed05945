import logging
import sys
import textwrap
import types

import pytest

from tessel.core import callgraph as cg
from tessel.core import models as tm
from tessel.core.models import model


@pytest.fixture
def pdk(monkeypatch):
    def base_model():
        return {}

    active = types.SimpleNamespace(name="fake", models={"base": base_model}, cells={})
    monkeypatch.setattr(tm, "pdk_module", types.SimpleNamespace(get_pdk=lambda: active))
    return active


@pytest.fixture
def project(tmp_path, monkeypatch, isolated_imports):
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(tmp_path))
    monkeypatch.chdir(tmp_path)
    (tmp_path / "pkg").mkdir()
    (tmp_path / "pkg" / "__init__.py").write_text("")
    return tmp_path


def write(root, relative, text):
    path = root / relative
    path.write_text(textwrap.dedent(text))
    return path


def register(**kwargs):
    return tm.register_models(cg.create_callgraph(), **kwargs)


@pytest.mark.parametrize(
    "decorate, name",
    [
        (lambda f: model(f), "wg_model"),
        (lambda f: model()(f), "wg_model"),
        (lambda f: model(name="straight")(f), "straight"),
    ],
)
def test_model_marks_and_returns_the_function(decorate, name):
    def wg_model(wl=1.55):
        return {("o1", "o2"): wl}

    assert decorate(wg_model) is wg_model
    assert wg_model.__tessel_model__ == name
    assert wg_model(wl=2) == {("o1", "o2"): 2}


@pytest.mark.parametrize("call", [lambda: model(name=""), lambda: model(name=3), lambda: model(42)])
def test_model_rejects_bad_arguments(call):
    with pytest.raises(TypeError):
        call()


MODELS = """
    import tessel.core.models as tcm
    from tessel.core.models import model
    from pkg.lib import other, lib_model

    @model
    def wg():
        return "wg v1"

    @tcm.model(name="mmi")
    def mmi_model():
        return "mmi"

    @other.model
    def lookalike():
        return "not a model"
"""

LIB = """
    import types
    from tessel.core.models import model

    other = types.SimpleNamespace(model=lambda f: f)

    @model
    def lib_model():
        return "lib"

    raise_if_imported_without_reason = None
"""


def test_registers_marked_functions_under_their_names(project, pdk):
    write(project, "pkg/models.py", MODELS)
    write(project, "pkg/lib.py", LIB)
    # No model decorator here: registering models must not import it.
    write(project, "pkg/unrelated.py", "raise RuntimeError('imported for nothing')\n")
    found = register(reload=True)
    assert sorted(found) == ["lib_model", "mmi", "wg"]
    assert {k: v() for k, v in pdk.models.items()} == {
        "base": {}, "wg": "wg v1", "mmi": "mmi", "lib_model": "lib"
    }
    assert pdk.models["lib_model"].__module__ == "pkg.lib"
    assert "pkg.unrelated" not in sys.modules


@pytest.mark.parametrize("reload, expected", [(True, "wg v2"), (False, "wg v1")])
def test_reload_picks_up_edited_models(project, pdk, reload, expected):
    path = write(project, "pkg/models.py", "from tessel.core.models import model\n@model\ndef wg(): return 'wg v1'\n")
    register(reload=True)
    path.write_text(path.read_text().replace("v1", "v2") + "# longer now\n")
    register(reload=reload)
    assert pdk.models["wg"]() == expected


def test_failing_file_keeps_its_models_and_renamed_models_go(project, pdk, caplog):
    write(project, "pkg/a.py", "from tessel.core.models import model\n@model\ndef a(): return 'a'\n")
    b = write(project, "pkg/b.py", "from tessel.core.models import model\n@model\ndef b(): return 'b'\n")
    register()
    write(project, "pkg/a.py", "from tessel.core.models import model\n@model\ndef a2(): return 'a2'\n")
    b.write_text(b.read_text() + "1 / 0\n")
    with caplog.at_level(logging.WARNING, logger="tessel"):
        found = register()
    assert list(found) == ["a2"]
    assert sorted(pdk.models) == ["a2", "b", "base"]
    assert "b.py: division by zero" in caplog.text
    # An unparsable file is not taken for an emptied one either.
    b.write_text("def b(:\n")
    register()
    assert sorted(pdk.models) == ["a2", "b", "base"]
    b.unlink()
    register()
    assert sorted(pdk.models) == ["a2", "base"]

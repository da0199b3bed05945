import copy
from pathlib import Path

import pytest

from tessel.core import imports
from tessel.models import ERROR, UNKNOWN, FactoryRecord


def record(**changes):
    fields = dict(name="wg", source="pkg/cells/a.py", status=UNKNOWN, message="")
    return FactoryRecord(**{**fields, **changes})


def test_positional_construction_is_rejected():
    with pytest.raises(TypeError):
        FactoryRecord("wg", "a.py", UNKNOWN, "")


@pytest.mark.parametrize(
    "field, value",
    [("name", "bend"), ("source", "pkg/cells/b.py"), ("status", ERROR), ("message", "boom")],
)
def test_records_differing_in_any_field_are_unequal(field, value):
    assert record() == record()
    assert record() != record(**{field: value})
    changed = record()
    setattr(changed, field, value)
    assert changed == record(**{field: value})


def test_deep_copy_is_independent_and_equal():
    original = record(message="x")
    duplicate = copy.deepcopy(original)
    assert duplicate == original and duplicate is not original
    duplicate.status = ERROR
    assert original.status == UNKNOWN


@pytest.mark.parametrize("source", ["pkg/cells/a.py", "./pkg/../pkg/cells/a.py", "ABS"])
def test_absolute_source_equals_import_keys(tmp_path, monkeypatch, isolated_imports, source):
    real = tmp_path / "real"
    (real / "pkg" / "cells").mkdir(parents=True)
    file = real / "pkg" / "cells" / "a.py"
    file.write_text("X = 1\n")
    # The project is reached through a symlink: both sides must resolve it.
    link = tmp_path / "link"
    link.symlink_to(real)
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(link))
    monkeypatch.chdir(tmp_path)
    if source == "ABS":
        source = str(link / "pkg" / "cells" / "a.py")
    absolute = record(source=source).absolute_source()
    assert isinstance(absolute, Path) and absolute.is_absolute()
    modules, errors = imports.import_modules(paths=[Path("link/pkg/cells/a.py")])
    assert not errors
    assert list(modules) == [absolute]

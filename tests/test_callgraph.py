import logging
import textwrap

import pytest

from tessel.core import callgraph as cg
from tessel.models import FactoryRecord


@pytest.fixture
def project(tmp_path, monkeypatch):
    monkeypatch.setenv("TESSEL_PROJECT_DIR", str(tmp_path))
    monkeypatch.chdir(tmp_path)
    for folder in ("pkg", "pkg/cells"):
        (tmp_path / folder).mkdir()
        (tmp_path / folder / "__init__.py").write_text("")
    return tmp_path


def write(root, relative, text):
    path = root / relative
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(textwrap.dedent(text))
    return path


@pytest.mark.parametrize(
    "header, decorator",
    [
        ("from morrow import cell", "@cell"),
        ("from morrow import cell", "@cell()"),
        ("import morrow as mw", "@mw.cell"),
        ("import morrow", "@morrow.cell(name='x')"),
        ("from morrow import cell as c", "@c"),
        ("", "@cell"),
    ],
)
def test_cell_decorator_forms_are_found(project, header, decorator):
    write(project, "pkg/cells/a.py", f"{header}\n\n@other\n{decorator}\ndef wg():\n    pass\n")
    records = cg.get_static_records(cg.create_callgraph(), paths=[])
    assert type(records) is dict
    assert records == {
        "wg": FactoryRecord(name="wg", source="pkg/cells/a.py", status="UNKNOWN", message="")
    }


def test_only_module_level_cell_functions_are_factories(project):
    write(
        project,
        "pkg/cells/a.py",
        """
        import morrow as mw
        from morrow import cellular

        @cellular
        def not_a(): pass

        @mw.cell.cache
        def not_b(): pass

        def plain(): pass

        class K:
            @mw.cell
            def method(self): pass

        def outer():
            @mw.cell
            def inner(): pass

        if True:
            @mw.cell
            def conditional(): pass
        """,
    )
    G = cg.create_callgraph()
    assert list(cg.get_static_records(G)) == ["conditional"]
    assert {f.qualname: f.toplevel for f in G.functions()} == {
        "not_a": True,
        "not_b": True,
        "plain": True,
        "K.method": False,
        "outer": True,
        "outer.<locals>.inner": False,
        "conditional": True,
    }


def test_nodes_carry_file_module_and_resolved_decorators(project):
    path = write(project, "pkg/cells/a.py", "from .. import deco as d\n\n@d.cell()\n@d.other\ndef wg(): pass\n")
    (f,) = cg.create_callgraph().functions()
    assert (f.key, f.module, f.path, f.lineno) == ("pkg.cells.a.wg", "pkg.cells.a", path.resolve(), 5)
    assert f.decorators == ("pkg.deco.cell", "pkg.deco.other")


def test_calls_between_project_functions_are_edges(project):
    write(project, "pkg/cells/b.py", "def helper(): pass\n")
    write(
        project,
        "pkg/cells/a.py",
        """
        import morrow as mw
        import pkg.cells.b as bmod
        from .b import helper as h

        def wg():
            h()
            return mw.Component()

        def mzi():
            wg()
            bmod.helper()
            undefined_name()

            def nested():
                wg()
        """,
    )
    G = cg.create_callgraph()
    assert sorted(G.edges()) == [
        ("pkg.cells.a.mzi", "pkg.cells.a.wg"),
        ("pkg.cells.a.mzi", "pkg.cells.b.helper"),
        ("pkg.cells.a.mzi.<locals>.nested", "pkg.cells.a.wg"),
        ("pkg.cells.a.wg", "pkg.cells.b.helper"),
    ]
    assert G.callers("pkg.cells.b.helper") == {"pkg.cells.a.mzi", "pkg.cells.a.wg"}


@pytest.mark.parametrize(
    "folder",
    [".venv", "venv_named_anything", "build", "dist", "__pycache__", ".hidden", "x.egg-info", "node_modules"],
)
def test_non_source_folders_are_skipped(project, folder):
    write(project, f"{folder}/lib.py", "@cell\ndef foreign(): pass\n")
    if folder == "venv_named_anything":
        (project / folder / "pyvenv.cfg").write_text("home = /usr\n")
    write(project, "pkg/cells/a.py", "@cell\ndef own(): pass\n")
    assert list(cg.get_static_records(cg.create_callgraph())) == ["own"]


@pytest.mark.parametrize(
    "broken",
    ["@cell\ndef lost(:\n    pass\n", "@cell\ndef lost(): pass\n\x00", "x = \"\xff\"\n@cell\ndef lost(): pass\n"],
)
def test_unparsable_file_keeps_its_cells_by_text_search(project, broken):
    path = project / "pkg/cells/bad.py"
    path.write_bytes(broken.encode("latin-1"))
    write(project, "pkg/cells/good.py", "@cell\ndef fine(): pass\n")
    G = cg.create_callgraph()
    assert list(G.failed) == [path.resolve()]
    records = cg.get_static_records(G)
    assert list(records) == ["lost", "fine"]
    assert records["lost"].source == "pkg/cells/bad.py"
    assert records["lost"].status == "UNKNOWN"


@pytest.mark.parametrize("form", ["relative", "absolute", "dotted"])
def test_paths_limit_records_to_those_files(project, form):
    write(project, "pkg/cells/a.py", "@cell\ndef a1(): pass\n@cell\ndef a2(): pass\n")
    b = write(project, "pkg/cells/b.py", "@cell\ndef b1(): pass\n")
    write(project, "pkg/cells/c.py", "@cell\ndef c1(: pass\n")
    given = {"relative": "pkg/cells/b.py", "absolute": b, "dotted": "pkg/./cells/../cells/b.py"}[form]
    G = cg.create_callgraph()
    assert list(cg.get_static_records(G, paths=[given])) == ["b1"]
    assert list(cg.get_static_records(G, paths=[given, "pkg/cells/c.py"])) == ["b1", "c1"]
    assert list(cg.get_static_records(G, paths=[])) == ["a1", "a2", "b1", "c1"]


def test_duplicate_cell_names_keep_the_first_file(project, caplog):
    write(project, "pkg/cells/a.py", "@cell\ndef wg(): pass\n")
    write(project, "pkg/cells/b.py", "@cell\ndef wg(): pass\n")
    with caplog.at_level(logging.WARNING, logger="tessel"):
        records = cg.get_static_records(cg.create_callgraph())
    assert records["wg"].source == "pkg/cells/a.py"
    assert "pkg/cells/b.py ignored" in caplog.text

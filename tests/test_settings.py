"""Project settings: found from the working directory upwards or named by the environment."""

from __future__ import annotations

import pytest

from tessel import settings


@pytest.fixture
def no_env(monkeypatch):
    monkeypatch.delenv(settings.PROJECT_DIR_ENV, raising=False)


def write_project(folder, text):
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "pyproject.toml").write_text(text)
    return folder


def test_without_a_project_the_defaults_hold(tmp_path, monkeypatch, no_env):
    folder = tmp_path / "My-Chip 2"
    folder.mkdir()
    monkeypatch.chdir(folder)
    if settings.get_pyproject_path() is not None:
        pytest.skip("a pyproject.toml above the temporary folder")
    assert settings.get_pdk_name() == "generic"
    assert settings.is_a_pdk() is False
    assert settings.get_project_name() == "my_chip_2"
    assert settings.get_project_dir() == folder.resolve()


def test_project_is_found_from_a_subfolder(tmp_path, monkeypatch, no_env):
    project = write_project(
        tmp_path / "proj",
        '[project]\nname = "Fancy-Chip"\n[tool.tessel]\npdk = "acme_pdk"\nis-pdk = true\n',
    )
    deep = project / "cells" / "sub"
    deep.mkdir(parents=True)
    monkeypatch.chdir(deep)
    assert settings.get_pdk_name() == "acme_pdk"
    assert settings.is_a_pdk() is True
    assert settings.get_project_name() == "fancy_chip"
    assert settings.get_project_dir() == project.resolve()


def test_environment_names_the_project_over_the_working_directory(tmp_path, monkeypatch):
    write_project(tmp_path / "here", '[tool.tessel]\npdk = "here_pdk"\n')
    there = write_project(tmp_path / "there", '[tool.tessel]\npdk = "there_pdk"\n')
    monkeypatch.chdir(tmp_path / "here")
    monkeypatch.setenv(settings.PROJECT_DIR_ENV, str(there))
    assert settings.get_pdk_name() == "there_pdk"
    assert settings.get_project_name() == "there"  # no [project] name: the folder's


def test_environment_naming_a_folder_without_pyproject_gives_defaults(tmp_path, monkeypatch):
    empty = tmp_path / "empty_proj"
    empty.mkdir()
    write_project(tmp_path, '[tool.tessel]\npdk = "outer_pdk"\n')  # not consulted
    monkeypatch.setenv(settings.PROJECT_DIR_ENV, str(empty))
    assert settings.get_pdk_name() == "generic"
    assert settings.get_project_name() == "empty_proj"


def test_changes_to_the_file_are_seen_at_once(tmp_path, monkeypatch):
    project = write_project(tmp_path / "p", '[tool.tessel]\npdk = "one"\n')
    monkeypatch.setenv(settings.PROJECT_DIR_ENV, str(project))
    assert settings.get_pdk_name() == "one"
    write_project(project, '[tool.tessel]\npdk = "two"\n')
    assert settings.get_pdk_name() == "two"


@pytest.mark.parametrize("getter", [settings.get_pdk_name, settings.is_a_pdk, settings.get_project_name])
def test_malformed_toml_names_the_file(tmp_path, monkeypatch, getter):
    project = write_project(tmp_path / "broken", "[tool.tessel\npdk = \n")
    monkeypatch.setenv(settings.PROJECT_DIR_ENV, str(project))
    with pytest.raises(settings.ProjectConfigError, match="broken.pyproject.toml"):
        getter()


@pytest.mark.parametrize("text, getter", [
    ('[tool.tessel]\npdk = 3\n', settings.get_pdk_name),
    ('[tool.tessel]\nis-pdk = "yes"\n', settings.is_a_pdk),
    ('[project]\nname = 7\n', settings.get_project_name),
    ('tool = 1\n', settings.get_pdk_name),
    ('[tool]\ntessel = "x"\n', settings.is_a_pdk),
    ('project = "x"\n', settings.get_project_name),
])
def test_values_of_the_wrong_type_are_reported(tmp_path, monkeypatch, text, getter):
    project = write_project(tmp_path / "bad", text)
    monkeypatch.setenv(settings.PROJECT_DIR_ENV, str(project))
    with pytest.raises(settings.ProjectConfigError, match="pyproject.toml"):
        getter()

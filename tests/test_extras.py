"""The integrations extra: every data tool pinned, all under the one marker
that integration_support.require follows, the test extra bringing it, the
base install still without dependencies, and the runs that leave the
integration tests out doing it by their marker."""

from __future__ import annotations

import re
import tomllib

import pytest

from cli_support import ROOT
from integration_support import EXTRA_MARKER, wheels_checked

packaging = pytest.importorskip("packaging.requirements")

PYPROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text("utf-8"))
PROJECT = PYPROJECT["project"]
TOOLS = {"pandas", "polars", "duckdb", "dask", "distributed", "nanoarrow", "pyarrow"}


def test_every_tool_is_pinned_under_the_marker_the_tests_follow():
    requirements = [packaging.Requirement(r) for r in PROJECT["optional-dependencies"]["integrations"]]
    assert {r.name for r in requirements} == TOOLS
    marker = packaging.Requirement("x; " + EXTRA_MARKER).marker
    for r in requirements:
        assert re.fullmatch(r"==\d+(\.\d+)*", str(r.specifier)), r
        assert str(r.marker) == str(marker), r
        assert r.marker.evaluate() == wheels_checked()
    assert [r for r in requirements if r.name == "dask"][0].extras == {"dataframe"}


def test_the_test_extra_brings_it_and_the_base_install_stays_bare():
    assert "quorvel[integrations]" in PROJECT["optional-dependencies"]["test"]
    assert "dependencies" not in PROJECT
    assert PROJECT["optional-dependencies"]["arrow"] == ["pyarrow==26.0.1"]


def test_the_runs_without_the_tools_deselect_them_by_marker():
    markers = PYPROJECT["tool"]["pytest"]["ini_options"]["markers"]
    assert any(m.startswith("integration:") for m in markers)
    assert '-m "not integration"' in PYPROJECT["tool"]["cibuildwheel"]["test-command"]
    assert '-m "not integration"' in (ROOT / "scripts" / "test-sanitize.sh").read_text("utf-8")
    tests = sorted((ROOT / "tests").glob("test_integration_*.py"))
    assert tests
    for test in tests:
        assert "pytestmark = pytest.mark.integration" in test.read_text("utf-8"), test.name

"""The helpers behind make wheel and make test-wheels: which builds the
cibuildwheel settings select, what a wheel may hold, and when two runs of
the suite count as equal. A fault here would let a bad wheel pass."""

import importlib.util
import pathlib
import sys
import xml.etree.ElementTree as ET

import pytest

from cli_support import ROOT

SCRIPTS = ROOT / "scripts"


def _load(name):
    path = SCRIPTS / f"{name}.py"
    if not path.is_file():
        pytest.skip("not running from a source tree")
    spec = importlib.util.spec_from_file_location(f"_quorvel_{name}", path)
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module
    spec.loader.exec_module(module)
    return module


@pytest.mark.parametrize("identifier, expected", [
    ("cp312-manylinux_x86_64", True),
    ("cp313-manylinux_x86_64", True),
    ("cp313-manylinux_aarch64", True),
    ("cp314-manylinux_x86_64", True),
    ("cp311-manylinux_x86_64", False),   # below requires-python
    ("cp310-manylinux_aarch64", False),
    ("cp313t-manylinux_x86_64", False),  # free-threaded 3.13: cibuildwheel 4 has none
    ("cp314t-manylinux_x86_64", True),   # free-threaded 3.14
    ("cp314t-musllinux_x86_64", False),
    ("cp313-musllinux_x86_64", False),
    ("cp313-manylinux_i686", False),     # not among the Linux archs
    ("pp310-manylinux_x86_64", False),
])  # fmt: skip
def test_cibuildwheel_selectors(identifier, expected):
    assert _load("cibw_settings").selected(identifier) is expected


def test_linux_wheels_link_the_cxx_runtime_in():
    settings = _load("cibw_settings")
    assert settings.environment() == ["SKBUILD_CMAKE_DEFINE=QUORVEL_STATIC_CXX_RUNTIME=ON"]
    assert settings._settings()["repair-wheel-command"] == "auditwheel repair -w {dest_dir} {wheel}"
    # The wheels' suite is the repository's, run from outside the tree.
    assert "{project}/tests" in settings._settings()["test-command"]


def _wheel_names(*extra, drop=()):
    sources = sorted(f"quorvel/{p.name}" for p in (ROOT / "python" / "quorvel").iterdir()
                     if p.suffix in {".py", ".pyi"} or p.name == "py.typed")
    info = "quorvel-0.1.0.dist-info"
    names = sources + ["quorvel/_build.py", "quorvel/jid.cpython-313-x86_64-linux-gnu.so",
                       "quorvel/_blocks.cpython-313-x86_64-linux-gnu.so",
                       "quorvel/_text.cpython-313-x86_64-linux-gnu.so",
                       "quorvel/_batch.cpython-313-x86_64-linux-gnu.so",
                       f"{info}/METADATA", f"{info}/WHEEL", f"{info}/RECORD",
                       f"{info}/entry_points.txt", f"{info}/licenses/LICENSE",
                       f"{info}/licenses/data/unicode/LICENSE-UNICODE", *extra]
    return [n for n in names if n not in drop]


@pytest.mark.parametrize("names, faults", [
    (_wheel_names(), []),
    (_wheel_names("tests/test_cli.py"), ["unexpected tests/test_cli.py"]),
    (_wheel_names("quorvel.libs/libicuuc-6ae74e03.so.72.1"),
     ["unexpected quorvel.libs/libicuuc-6ae74e03.so.72.1"]),
    (_wheel_names("quorvel/jid.cpython-312-x86_64-linux-gnu.so"),
     ["expected one extension module quorvel/jid.*, found "
      "['quorvel/jid.cpython-313-x86_64-linux-gnu.so', 'quorvel/jid.cpython-312-x86_64-linux-gnu.so']"]),
    (_wheel_names(drop={"quorvel/_text.cpython-313-x86_64-linux-gnu.so"}),
     ["expected one extension module quorvel/_text.*, found []"]),
    (_wheel_names(drop={"quorvel-0.1.0.dist-info/licenses/data/unicode/LICENSE-UNICODE"}),
     ["missing quorvel-0.1.0.dist-info/licenses/data/unicode/LICENSE-UNICODE"]),
    (_wheel_names(drop={"quorvel/py.typed", "quorvel/jid.pyi"}),
     ["missing quorvel/jid.pyi", "missing quorvel/py.typed"]),
])  # fmt: skip
def test_wheel_contents(names, faults):
    assert _load("check_wheel").expected_files(names)[1] == faults


@pytest.mark.parametrize("library, allowed", [
    ("libc.so.6", True), ("libm.so.6", True), ("libgcc_s.so.1", True), ("libstdc++.so.6", True),
    ("ld-linux-x86-64.so.2", True), ("ld-linux-aarch64.so.1", True),
    ("libicuuc.so.72", False), ("libidn.so.12", False), ("libpython3.13.so.1.0", False),
    ("libstdc++.so.6.0.30", False),
])  # fmt: skip
def test_only_the_c_and_cxx_runtime_may_be_needed(library, allowed):
    assert bool(_load("check_wheel").RUNTIME.match(library)) is allowed


def _junit(path, outcomes):
    suite = ET.Element("testsuite")
    for name, outcome in outcomes.items():
        module, test = name.rsplit(".", 1)
        case = ET.SubElement(suite, "testcase", classname=module, name=test)
        if outcome != "passed":
            ET.SubElement(case, {"failed": "failure", "skipped": "skipped"}[outcome])
    root = ET.Element("testsuites")
    root.append(suite)
    ET.ElementTree(root).write(path)
    return str(path)


BASE = {"tests.test_module.test_a": "passed", "tests.test_sdist.test_installs": "passed",
        "tests.test_conformance.test_b": "skipped"}


@pytest.mark.parametrize("other, status", [
    (BASE, 0),
    ({**BASE, "tests.test_sdist.test_installs": "skipped"}, 0),   # no compiler by the wheel
    ({**BASE, "tests.test_module.test_a": "skipped"}, 1),         # anything else is a fault
    ({**BASE, "tests.test_conformance.test_b": "passed"}, 1),
    ({k: v for k, v in BASE.items() if k != "tests.test_module.test_a"}, 1),
    ({**BASE, "tests.test_module.test_new": "passed"}, 1),
    ({**BASE, "tests.test_sdist.test_installs": "failed"}, 1),
])  # fmt: skip
def test_wheel_and_source_results_compared_test_by_test(tmp_path, other, status):
    compare = _load("compare_results")
    reference = _junit(tmp_path / "a.xml", BASE)
    assert compare.main([reference, _junit(tmp_path / "b.xml", other)]) == status


def test_a_failure_on_both_sides_is_no_agreement(tmp_path):
    compare = _load("compare_results")
    failing = {**BASE, "tests.test_module.test_a": "failed"}
    assert compare.main([_junit(tmp_path / "a.xml", failing), _junit(tmp_path / "b.xml", failing)]) == 1

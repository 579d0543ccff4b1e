"""The source distribution: built from this tree, it holds what a build needs
and nothing else, and it installs into a fresh virtual environment."""

import pathlib
import subprocess
import sys
import tarfile

import pytest

from cli_support import ROOT

# One thread under pytest-run-parallel (make test-free-threaded).
pytestmark = pytest.mark.thread_unsafe(
    reason="builds the package from the sdist: several such builds at once add minutes and test no threading")

# Top-level entries an sdist may hold; anything else is a leak from the tree.
ALLOWED_TOP = {"PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md", "LICENSE",
               "core", "binding", "python", "data"}
REQUIRED = ["pyproject.toml", "CMakeLists.txt", "README.md", "LICENSE", "core/CMakeLists.txt",
            "core/include/quorvel/address.h", "core/src/address/address.cpp", "binding/CMakeLists.txt",
            "binding/jid/jid.cpp", "binding/_build.py.in", "python/quorvel/__init__.py",
            "python/quorvel/cli.py", "python/quorvel/jid.pyi", "python/quorvel/py.typed",
            "data/unicode/LICENSE-UNICODE"]


def _run(*cmd, cwd=None):
    result = subprocess.run([str(c) for c in cmd], capture_output=True, cwd=cwd, timeout=900)
    assert result.returncode == 0, result.stderr.decode(errors="replace")[-4000:]
    return result.stdout.decode()


@pytest.fixture(scope="module")
def sdist(tmp_path_factory):
    if not (ROOT / "pyproject.toml").is_file():
        pytest.skip("not running from a source tree")
    pytest.importorskip("build")
    out = tmp_path_factory.mktemp("dist")
    _run(sys.executable, "-m", "build", "--sdist", "--outdir", out, ROOT)
    (path,) = out.glob("quorvel-*.tar.gz")
    return path


def test_sdist_holds_the_sources_and_nothing_else(sdist):
    with tarfile.open(sdist) as tar:
        names = [n.split("/", 1)[1] for n in tar.getnames() if "/" in n]
    files = set(names)
    assert [f for f in REQUIRED if f not in files] == []
    assert {n.split("/", 1)[0] for n in files} <= ALLOWED_TOP
    leaked = [n for n in files if n.startswith(("core/tests/", "build")) or n.endswith((".so", ".o"))]
    assert leaked == []
    # Of the pinned Unicode data only its licence, which covers the tables
    # generated from it; the data files themselves no build reads.
    assert sorted(n for n in files if n.startswith("data/") and not n.endswith("/")) == [
        "data/unicode/LICENSE-UNICODE"]


def test_sdist_installs_into_a_fresh_environment(sdist, tmp_path):
    venv = tmp_path / "venv"
    _run(sys.executable, "-m", "venv", venv)
    python = venv / "bin" / "python"
    _run(python, "-m", "pip", "install", "--quiet", sdist)
    # From a neutral directory, so that nothing of the source tree is imported.
    code = ("import quorvel.jid as m, quorvel._build as b; "
            "print(m.JID('Juliet@Example.COM/Home'), b.IDNA_UNICODE_VERSION == '17.0')")
    assert _run(python, "-c", code, cwd=tmp_path).split() == ["juliet@example.com/Home", "True"]
    assert _run(venv / "bin" / "quorvel-jid", "A@B", cwd=tmp_path) == "a@b\n"

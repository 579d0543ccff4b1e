"""The package around the module: version, light import, stubs and metadata."""

import importlib
import importlib.metadata
import pathlib
import re
import subprocess
import sys
import tomllib

import pytest

import quorvel
import elf_symbols
from cli_support import ROOT, env


def test_one_version_everywhere():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    assert re.search(r"project\(quorvel VERSION ([0-9.]+)", cmake).group(1) == quorvel.__version__
    try:
        installed = importlib.metadata.version("quorvel")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("the package is not installed")
    if "site-packages" not in pathlib.Path(quorvel.__file__).resolve().parts:
        pytest.skip("running against a build tree; the installed metadata may be another build")
    assert installed == quorvel.__version__


def test_importing_the_package_loads_nothing_else():
    code = ("import sys, quorvel; "
            "print(sorted(m for m in sys.modules if m.startswith('quorvel')))")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, env=env(),
                         check=True, timeout=60).stdout
    assert out.decode().strip() == "['quorvel']"


def test_stubs_and_marker_ship_beside_the_module():
    package = pathlib.Path(quorvel.__file__).parent
    assert (package / "py.typed").is_file()
    stub = (package / "jid.pyi").read_text()
    assert '__all__ = ["JID", "unescape_node", "InvalidJID"]' in stub
    # The command-line tool's private module, with its own stub, is
    # installed next to quorvel.jid.
    blocks = importlib.import_module("quorvel._blocks")
    assert pathlib.Path(blocks.__file__).parent == package
    assert (package / "_blocks.pyi").is_file()
    # So is the private module of escape_node and quorvel.uri.
    text = importlib.import_module("quorvel._text")
    assert pathlib.Path(text.__file__).parent == package
    assert (package / "_text.pyi").is_file()
    # And quorvel.batch's native half.
    native = importlib.import_module("quorvel._batch")
    assert pathlib.Path(native.__file__).parent == package
    assert (package / "_batch.pyi").is_file()


def test_metadata_states_python_and_licence():
    project = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
    assert project["requires-python"] == ">=3.12"
    assert "Programming Language :: Python :: 3.12" in project["classifiers"]
    assert project["scripts"] == {"quorvel-jid": "quorvel.cli:main"}
    assert (ROOT / "LICENSE").read_text().startswith("MIT License")
    # Both licences exist where the metadata says, the Unicode one because
    # the tables compiled into the module are generated from Unicode's data.
    assert project["license"] == "MIT AND Unicode-3.0"
    assert project["license-files"] == ["LICENSE", "data/unicode/LICENSE-UNICODE"]
    assert (ROOT / "data/unicode/LICENSE-UNICODE").read_text().startswith("UNICODE LICENSE V3")


def test_installed_metadata_carries_both_licences():
    if "site-packages" not in pathlib.Path(quorvel.__file__).resolve().parts:
        pytest.skip("running against a build tree")
    meta = importlib.metadata.metadata("quorvel")
    assert meta["License-Expression"] == "MIT AND Unicode-3.0"
    assert sorted(meta.get_all("License-File")) == ["LICENSE", "data/unicode/LICENSE-UNICODE"]
    files = {str(f) for f in importlib.metadata.files("quorvel")}
    info = f"quorvel-{quorvel.__version__}.dist-info/licenses"
    assert {f"{info}/LICENSE", f"{info}/data/unicode/LICENSE-UNICODE"} <= files


@pytest.mark.skipif(sys.platform != "linux", reason="reads the ELF dynamic symbol table")
@pytest.mark.parametrize("module", ["jid", "_blocks", "_text", "_batch"])
def test_each_extension_module_exports_only_its_init_function(module):
    # Every module links a copy of the core: an exported function or a GNU
    # unique object of it would be shared with the other modules at run time.
    path = importlib.import_module(f"quorvel.{module}").__file__
    symbols = elf_symbols.exported(path)
    assert [name for name, is_function in symbols if is_function] == [f"PyInit_{module}"]
    assert [name for name, _ in symbols if "quorvel" in name] == []

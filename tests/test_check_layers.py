"""scripts/check_layers.py: the tree passes, and every kind of include that
runs back up a layer or into private headers is caught in a copy of it."""

import importlib.util
import shutil
import subprocess
import sys

import pytest

from cli_support import ROOT

SCRIPT = ROOT / "scripts" / "check_layers.py"

pytestmark = pytest.mark.skipif(not SCRIPT.is_file(), reason="not running from a source tree")


def _load():
    spec = importlib.util.spec_from_file_location("check_layers", SCRIPT)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


# One thread under pytest-run-parallel (make test-free-threaded): most tests
# edit the copy of the tree their fixture made, which the test's threads share.
pytestmark = pytest.mark.thread_unsafe(reason="edits the copy of the tree its fixture made")


@pytest.fixture
def tree(tmp_path):
    """The core's and the binding's sources, copied."""
    for part in ("core/src", "core/include", "binding"):
        shutil.copytree(ROOT / part, tmp_path / part,
                        ignore=shutil.ignore_patterns("*.txt", "*.in", "*.py"))
    return tmp_path


def _run(root):
    return subprocess.run([sys.executable, str(SCRIPT), "--root", str(root)],
                          capture_output=True, text=True, timeout=60)


def _add_include(path, name):
    text = path.read_text(encoding="utf-8")
    path.write_text(f'#include "{name}"\n' + text, encoding="utf-8")


def test_the_tree_passes():
    result = _run(ROOT)
    assert result.returncode == 0, result.stderr


# (file that gains the include, the include, a file to create first, what the
# message must say)
FAULTS = [
    ("core/src/unicode/normalize.cpp", "address/fast/ascii_address.h", None, "above unicode"),
    ("core/src/tables/normalization.h", "unicode/utf8_codec.h", None, "above tables"),
    ("core/src/simd/scan.h", "quorvel/address.h", None, "above simd"),
    ("core/src/domain/prepare_domain.cpp", "escape/escape_codes.h", None, "above domain"),
    ("core/src/prep/profiles.cpp", "precis/profiles.h", "core/src/precis/profiles.h",
     "above prep"),
    ("core/src/prep/refold.cpp", "refold.h", None, "no path below core/src"),
    ("core/src/value/jid_value.cpp", "quorvel/jid.h", None, "no public header"),
    ("core/include/quorvel/jid_value.h", "quorvel/address.h", None, "above value"),
    ("binding/jid/jid.cpp", "prep/char_tables.h", None, "private prep/char_tables.h"),
    ("binding/support/errors.cpp", "jid/jid_object.h", None, "support does not stand on"),
    ("binding/blocks/blocks.h", "text/text.h", None, "blocks does not stand on"),
]


@pytest.mark.parametrize("target, include, create, message", FAULTS,
                         ids=[f"{f[0].split('/')[-1]}:{f[1]}" for f in FAULTS])
def test_an_include_out_of_its_layer_fails(tree, target, include, create, message):
    if create:
        (tree / create).parent.mkdir(parents=True, exist_ok=True)
        (tree / create).write_text("#pragma once\n", encoding="utf-8")
    assert _run(tree).returncode == 0
    _add_include(tree / target, include)
    result = _run(tree)
    assert result.returncode == 1
    assert message in result.stderr, result.stderr


def test_what_a_layer_may_include_follows_the_table_down():
    layers = _load()
    assert layers.below(layers.LAYERS, "address") >= {"domain", "prep", "precis", "unicode",
                                                     "tables", "simd", "value"}
    assert "escape" not in layers.below(layers.LAYERS, "address")
    # Beside each other: neither may include the other.
    assert "precis" not in layers.below(layers.LAYERS, "prep")
    assert "prep" not in layers.below(layers.LAYERS, "precis")


@pytest.mark.parametrize("table, message", [
    ({"a": ("b",), "b": ("a",)}, "stands on itself"),
    ({"a": ("a",)}, "stands on itself"),
    ({"a": ("nowhere",)}, "which is no layer"),
])
def test_a_table_with_a_cycle_or_an_unknown_layer_is_refused(table, message):
    errors = _load().table_errors("T", table)
    assert errors and all(message in e for e in errors)


@pytest.mark.parametrize("create, message", [
    ("core/src/stray.h", "belongs in a layer"),
    ("core/src/misc/x.h", "LAYERS does not list"),
    ("binding/stray.cpp", "one of BINDING's folders"),
    ("binding/misc/x.cpp", "BINDING does not list"),
    ("core/include/quorvel/extra.h", "PUBLIC does not list"),
])
def test_a_source_outside_every_layer_fails(tree, create, message):
    (tree / create).parent.mkdir(parents=True, exist_ok=True)
    (tree / create).write_text("#pragma once\n", encoding="utf-8")
    result = _run(tree)
    assert result.returncode == 1
    assert message in result.stderr, result.stderr


def test_a_private_header_that_shadows_a_system_header_fails(tree, tmp_path):
    system = tmp_path / "system"
    (system / "unicode").mkdir(parents=True)
    (system / "unicode" / "utf8.h").write_text("#pragma once\n", encoding="utf-8")
    args = [sys.executable, str(SCRIPT), "--root", str(tree), "--system-include", str(system)]
    assert subprocess.run(args, capture_output=True, timeout=60).returncode == 0
    (tree / "core/src/unicode/utf8.h").write_text("#pragma once\n", encoding="utf-8")
    result = subprocess.run(args, capture_output=True, text=True, timeout=60)
    assert result.returncode == 1
    assert "shadows the system header" in result.stderr, result.stderr

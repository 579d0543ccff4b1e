"""What the integration tests share: importing a tool the test extra pins
(a failure where a wheel of it was checked to exist, a one-line skip
elsewhere), the examples directory, and a mixed table with its expected
results by the per-object route."""

from __future__ import annotations

import importlib
import pathlib
import sys
import sysconfig
from types import ModuleType

import pytest

from batch_support import PROFILES, corpus, reference

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"

# The interpreters the integrations extra installs on (its entries carry the
# marker of the same test, which test_integration_extra checks): wheels of
# every pinned tool were checked to exist for CPython 3.12 to 3.14.
EXTRA_MARKER = 'python_version < "3.15" and platform_python_implementation == "CPython"'


def wheels_checked() -> bool:
    """Whether EXTRA_MARKER holds for this interpreter."""
    return sys.implementation.name == "cpython" and (3, 12) <= sys.version_info[:2] < (3, 15)


def free_threaded() -> bool:
    """Whether this interpreter is a free-threaded build. The extra's marker
    cannot tell one apart (no environment marker names the ABI), so it
    selects the tools there too, but the pinned releases were checked for
    the default ABI only: make test-free-threaded installs whichever of
    them have a wheel for it, and the rest skip."""
    return bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def require(name: str) -> ModuleType:
    """The module `name`, at module level of a test file: missing, it fails
    the run where the extra installs it, and skips the file elsewhere."""
    try:
        return importlib.import_module(name)
    except ImportError as exc:
        version = ".".join(map(str, sys.version_info[:2]))
        if free_threaded():
            pytest.skip(f"{name}: not installed on this free-threaded CPython {version} (no wheel of the "
                        "pinned release for its ABI)", allow_module_level=True)
        if wheels_checked():
            pytest.fail(f"{name} is missing ({exc}); pip install '.[test]' installs it on CPython {version}",
                        pytrace=False)
        pytest.skip(f"{name}: no wheel was checked for {sys.implementation.name} {version}, "
                    "and the integrations extra leaves it out there", allow_module_level=True)
    raise AssertionError("unreachable")


def example(name: str) -> ModuleType:
    """examples/{name}.py as a module (its directory goes on sys.path, where
    worker processes started from here find it too)."""
    if str(EXAMPLES) not in sys.path:
        sys.path.insert(0, str(EXAMPLES))
    return importlib.import_module(name)


def mixed_rows() -> list[str | None]:
    """Valid, invalid, null and non-ASCII rows: the batch corpus without lone
    surrogates, which no Arrow string column can hold."""
    return [v for v in corpus() if v is None or not any(0xD800 <= ord(c) <= 0xDFFF for c in v)]


def expected(values: list[str | None], bare: bool = False, profile: str = "rfc6122") -> list[str | None]:
    return [reference(v, bare, profile)[0] for v in values]


__all__ = ["EXAMPLES", "EXTRA_MARKER", "PROFILES", "example", "expected", "mixed_rows", "require"]

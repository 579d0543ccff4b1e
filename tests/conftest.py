"""Shared set-up for the quorvel test suite.

The suite runs against an installed package or against a CMake build tree
(``PYTHONPATH=<build>/python``). When neither is importable, the default
developer build directory is tried before giving up.
"""

import importlib.util
import pathlib
import sys

import pytest

if importlib.util.find_spec("quorvel") is None or importlib.util.find_spec("quorvel.jid") is None:
    _build = pathlib.Path(__file__).resolve().parent.parent / "build" / "dev" / "python"
    if (_build / "quorvel").is_dir():
        sys.path.insert(0, str(_build))
        sys.modules.pop("quorvel", None)

from quorvel.jid import JID, InvalidJID  # noqa: E402

# The integration tests import their data tool when collected, and fail
# where the tool should be installed but is not; a run that deselects them
# (-m "not integration": the sanitizer run, the wheels' checks, where the
# tools are not installed) leaves their files uncollected instead.
DESELECT_INTEGRATION = "not integration"


def pytest_ignore_collect(collection_path, config):
    if config.getoption("markexpr", "").strip() == DESELECT_INTEGRATION:
        return collection_path.name.startswith("test_integration_") or None
    return None

# The core's messages, as the binding raises them.
NODE_EMPTY = "nodepart empty despite the presence of a @"
RESOURCE_EMPTY = "resource empty despite the presence of a /"
NODE_TOO_LONG = "localpart longer than 1023 bytes"
RESOURCE_TOO_LONG = "resource longer than 1023 bytes"
NODE_PREP = "localpart doesn\u2019t pass nodeprep validation"
NAME_PREP = "domain doesn\u2019t pass nameprep validation"
RESOURCE_PREP = "resource doesn\u2019t pass resourceprep validation"
TOO_MANY_ATS = "second @ found before parsing the resource"
IDNA = "domain doesn\u2019t pass idna validation"


def snapshot(jid):
    """Everything observable about a JID's value, for before/after checks."""
    return (bool(jid), str(jid), jid.bare, jid.node, jid.domain, jid.resource, hash(jid))

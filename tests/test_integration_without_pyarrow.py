"""quorvel.batch where pyarrow is not installed: an interpreter started
without site-packages sees only quorvel, the examples and the distributions
linked for it (nanoarrow; pandas with what it requires), and no pyarrow.
There nanoarrow arrays go through normalise and are read back through
nanoarrow, and pandas 3's default str dtype is python-backed and is taken
as a list."""

from __future__ import annotations

import importlib.metadata
import json
import os
import pathlib
import subprocess
import sys

import pytest

import quorvel

from integration_support import EXAMPLES, mixed_rows, reference, require

pytestmark = pytest.mark.integration
require("nanoarrow")
require("pandas")
Requirement = require("packaging.requirements").Requirement

ROWS = mixed_rows()


def _with_requirements(names):
    """The distributions `names` and, transitively, those they require
    without extras on this platform."""
    seen, pending = {}, list(names)
    while pending:
        dist = importlib.metadata.distribution(pending.pop())
        key = dist.metadata["Name"].lower().replace("_", "-")
        if key in seen:
            continue
        seen[key] = dist
        for text in dist.requires or []:
            requirement = Requirement(text)
            if requirement.marker is None or requirement.marker.evaluate({"extra": ""}):
                pending.append(requirement.name)
    return list(seen.values())


def _link(path, distributions):
    path.mkdir()
    (path / "quorvel").symlink_to(pathlib.Path(quorvel.__file__).resolve().parent)
    for dist in distributions:
        tops = {pathlib.PurePath(f).parts[0] for f in dist.files or []}
        for top in tops - {".."}:
            target = pathlib.Path(dist.locate_file(top))
            if target.exists() and not (path / top).exists():
                (path / top).symlink_to(target)
    return path


def run_isolated(tmp_path, distributions, code):
    path = _link(tmp_path / "site", _with_requirements(distributions))
    prelude = ("import sys, importlib.util\n"
               f"sys.path[:0] = [{str(path)!r}, {str(EXAMPLES)!r}]\n"
               "assert importlib.util.find_spec('pyarrow') is None, 'pyarrow is visible'\n")
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON")}
    done = subprocess.run([sys.executable, "-S", "-c", prelude + code], input=json.dumps(ROWS),
                          capture_output=True, text=True, env=env, timeout=120)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


@pytest.mark.parametrize("profile", ["rfc6122", "rfc7622"])
def test_nanoarrow_arrays_in_and_out(tmp_path, profile):
    out = run_isolated(tmp_path, ["nanoarrow"], (
        "import json, nanoarrow_only\n"
        "rows = json.load(sys.stdin)\n"
        f"print(json.dumps({{t: nanoarrow_only.normalise_array(rows, t, profile={profile!r})"
        " for t in ('string', 'large_string')}))\n"))
    results = [reference(v, False, profile) for v in ROWS]
    for type_name, got in out.items():
        assert got["types"] == [type_name, "int8"]
        assert got["text"] == [t for t, _ in results]
        assert [e is None for e in got["error"]] == [m is None for _, m in results]


def test_pandas_default_str_dtype_without_pyarrow(tmp_path):
    out = run_isolated(tmp_path, ["pandas"], (
        "import json, pandas as pd, pandas_columns\n"
        "series = pd.Series(json.load(sys.stdin))\n"
        "frame = pandas_columns.normalise_series(series)\n"
        "print(json.dumps({'dtype': [str(series.dtype), series.dtype.storage, str(frame['text'].dtype)],\n"
        "                  'text': [None if pd.isna(v) else v for v in frame['text']]}))\n"))
    assert out["dtype"] == ["str", "python", "str"]
    assert out["text"] == [reference(v, False, "rfc6122")[0] for v in ROWS]

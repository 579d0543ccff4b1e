"""The batch section of make bench, smoke-run over a few rows: every row of
its table printed with its verdict, and stored with the same verdict under
the keys the results file promises. Nothing here looks at a time."""

from __future__ import annotations

import json
import os
import subprocess
import sys

import pytest

from cli_support import ROOT, env

pytest.importorskip("pyarrow")

SCRIPT = ROOT / "bench" / "batch_bench.py"
ROWS = {
    "list_vs_loop": ("normalise(list)", ">=", 2.0),
    "arrow_vs_loop": ("normalise(pyarrow)", ">=", 4.0),
    "threads_2_vs_1": ("threads=2 vs threads=1", ">=", 1.7),
    "plain_ascii_ns": ("plain ASCII", "<=", 40.0),
    "dedupe_vs_tool": ("quorvel-jid --dedupe", ">=", 3.0),
    "counting_kept": ("Python thread", ">=", 0.80),
}


@pytest.fixture(scope="module")
def section(tmp_path_factory):
    if not SCRIPT.exists():
        pytest.skip("the benchmarks are not in this tree")
    out = tmp_path_factory.mktemp("bench") / "results.json"
    e = env()
    e["PYTHONPATH"] = os.pathsep.join([str(SCRIPT.parent), e.get("PYTHONPATH", "")]).rstrip(os.pathsep)
    done = subprocess.run([sys.executable, str(SCRIPT), "--rows", "3000", "--rounds", "2",
                           "--count-seconds", "0.02", "--json", str(out)],
                          capture_output=True, text=True, env=e, timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines(), json.loads(out.read_text())["batch"]


def test_results_hold_every_row_with_its_target_and_verdict(section):
    _, r = section
    assert (r["rows"], r["rounds"]) == (3000, 2)
    assert [row["key"] for row in r["table"]] == list(ROWS)
    for row in r["table"]:
        _, op, target = ROWS[row["key"]]
        assert (row["op"], row["target"]) == (op, target)
        assert row["value"] > 0
        assert row["met"] is (row["value"] >= target if op == ">=" else row["value"] <= target)
    assert set(r["seconds"]) == {"loop", "list_1", "arrow_1", "arrow_2", "plain_1"}
    assert all(s > 0 for s in r["seconds"].values())


def test_dedupe_and_counting_details(section):
    _, r = section
    d, c = r["dedupe"], r["counting"]
    # The generated mix repeats addresses: fewer groups than rows, but some.
    assert 0 < d["distinct"] < r["rows"]
    assert d["dedupe_memory_lower"] is (d["dedupe_peak_above_imports_mb"] < d["tool_peak_above_start_up_mb"])
    assert d["ratio"] == pytest.approx(d["tool_work_seconds"] / d["dedupe_seconds"])
    assert d["column_dedupe_seconds"] > 0
    # The other thread really ran during the counting windows.
    assert c["normalise_calls_per_window"] >= 1
    assert c["kept"] == pytest.approx(c["beside_per_s"] / c["solo_per_s"])


def test_table_prints_each_row_with_the_stored_verdict(section):
    lines, r = section
    assert "3,000 addresses" in lines[0]
    for row in r["table"]:
        words = ROWS[row["key"]][0]
        [line] = [line for line in lines if words in line and line.rstrip().endswith("met")]
        assert line.rstrip().endswith("NOT met") is (not row["met"])

"""examples/dask_parquet.py: map_partitions over a small Parquet dataset on
a LocalCluster of two worker processes, row for row as the per-object
route, the partitions kept in their order."""

from __future__ import annotations

import os

import pytest

from integration_support import example, mixed_rows, reference, require

pytestmark = pytest.mark.integration
pd = require("pandas")
require("dask.dataframe")
distributed = require("distributed")
pa = require("pyarrow")
pq = require("pyarrow.parquet")
dask_parquet = example("dask_parquet")

# A slice of the mixed table is enough: what is tested is the route through
# the workers, not the rows.
ROWS = mixed_rows()[::7]


def test_map_partitions_on_worker_processes(tmp_path):
    parts = [ROWS[i::3] for i in range(3)]
    for i, part in enumerate(parts):
        pq.write_table(pa.table({"who": part, "n": range(len(part))}), tmp_path / f"part-{i}.parquet")
    with distributed.LocalCluster(processes=True, n_workers=2, threads_per_worker=1, dashboard_address=None,
                                  worker_dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        frame = dask_parquet.normalise_dataset(str(tmp_path), "who", profile="rfc7622")
        assert frame.npartitions == 3
        result = frame.compute()
        # Two worker processes of their own, none of them this one.
        pids = set(client.run(os.getpid).values())
        assert len(pids) == 2 and os.getpid() not in pids
    rows = [v for part in parts for v in part]
    results = [reference(v, False, "rfc7622") for v in rows]
    assert [None if pd.isna(v) else v for v in result["who"]] == rows
    assert [None if pd.isna(v) else v for v in result["who_jid"]] == [t for t, _ in results]
    assert [pd.isna(e) for e in result["who_error"]] == [m is None for _, m in results]
    assert result["who_error"].dtype == "Int8"

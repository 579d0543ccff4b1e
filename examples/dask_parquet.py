"""quorvel.batch over a Parquet dataset with Dask: each partition (a pandas
frame whose text columns are Arrow-backed ``str``) is normalised in one call
by the worker that holds it.

Each worker process already runs one task per thread, so ``threads=1`` keeps
``normalise`` from starting threads of its own on top of them.

Run it with the package and dask[dataframe] and distributed installed:
python examples/dask_parquet.py DATASET_DIR COLUMN
"""

from __future__ import annotations

import sys
from typing import Any

import dask.dataframe as dd
import pandas as pd
import pyarrow as pa

from quorvel import batch


def normalise_partition(frame: pd.DataFrame, column: str, **options: Any) -> pd.DataFrame:
    """``frame`` with ``{column}_jid`` and ``{column}_error`` added, on its index."""
    values = frame[column]
    table = pa.table(batch.normalise(values, threads=1, **options))
    text = table.column("text").to_pandas().astype(values.dtype)
    error = table.column("error").to_pandas().astype("Int8")
    return frame.assign(**{f"{column}_jid": text.set_axis(frame.index),
                           f"{column}_error": error.set_axis(frame.index)})


def normalise_dataset(path: str, column: str, **options: Any) -> dd.DataFrame:
    """The dataset at ``path`` (lazy) with the two columns added to each partition."""
    frame = dd.read_parquet(path)
    # The function over the empty frame Dask describes the partitions with
    # gives the result's columns and dtypes exactly.
    meta = normalise_partition(frame._meta, column, **options)
    return frame.map_partitions(normalise_partition, column, meta=meta, **options)


if __name__ == "__main__":
    from distributed import Client, LocalCluster

    with LocalCluster(processes=True, n_workers=2, threads_per_worker=1) as cluster, Client(cluster):
        print(normalise_dataset(sys.argv[1], sys.argv[2]).compute())

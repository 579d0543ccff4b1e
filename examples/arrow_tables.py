"""quorvel.batch over pyarrow record batches and tables: the function that
Spark's ``DataFrame.mapInArrow`` and Ray Data's
``Dataset.map_batches(..., batch_format="pyarrow")`` take, and that the
DuckDB and Dask examples build on.

Run it with the package and pyarrow installed: python examples/arrow_tables.py
"""

from __future__ import annotations

from collections.abc import Iterable, Iterator
from typing import Any, TypeVar

import pyarrow as pa

from quorvel import batch

Tabular = TypeVar("Tabular", pa.RecordBatch, pa.Table)


def with_normalised(data: Tabular, column: str, **options: Any) -> Tabular:
    """``data`` with ``{column}_jid`` (the normalised address, null where it is
    invalid or null) and ``{column}_error`` (the error kind) appended.
    ``options`` are those of ``batch.normalise``; an engine that already runs
    one task per core should pass ``threads=1``."""
    result = batch.normalise(data.column(column), **options)
    if isinstance(data, pa.Table):
        # A table's column is a chunked array: one result batch per chunk.
        text, error = pa.chunked_array(result.text), pa.chunked_array(result.error)
    else:
        text, error = pa.array(result.text), pa.array(result.error)
    data = data.append_column(f"{column}_jid", text)
    return data.append_column(f"{column}_error", error)


def normalise_batches(batches: Iterable[pa.RecordBatch], column: str = "jid",
                      **options: Any) -> Iterator[pa.RecordBatch]:
    """Spark's ``mapInArrow`` form: record batches in, record batches out."""
    for record_batch in batches:
        yield with_normalised(record_batch, column, threads=1, **options)


if __name__ == "__main__":
    table = pa.table({"jid": ["Juliet@Example.COM/Balcony", None, "bad@@", "Ren\u00e9@Example.fr"]})
    print(with_normalised(table, "jid").to_pandas())

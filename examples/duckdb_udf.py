"""quorvel.batch as vectorised DuckDB functions: once registered on a
connection, ``SELECT jid_normalise(col) FROM t`` normalises each vector of
rows in one call (null where the address is invalid or null), and
``jid_error(col)`` gives the error kind (``batch.KINDS``).

DuckDB hands an Arrow UDF each vector as a pyarrow array and wants one back,
so this needs pyarrow. DuckDB runs its own threads over the vectors; the
function keeps to the calling one.

Run it with the package, DuckDB and pyarrow installed: python examples/duckdb_udf.py
"""

from __future__ import annotations

from typing import Any

import duckdb
import pyarrow as pa
from duckdb.func import FunctionNullHandling, PythonUDFType

from quorvel import batch
from quorvel.batch import Profile


def _arrow(column: Any) -> pa.Array | pa.ChunkedArray:
    # A plain array gives Column results, a chunked one a stream of them.
    if isinstance(column, batch.ColumnStream):
        return pa.chunked_array(column)
    return pa.array(column)


def register(connection: duckdb.DuckDBPyConnection, *, bare: bool = False, profile: Profile = "rfc6122",
             prefix: str = "jid") -> None:
    """Registers ``{prefix}_normalise(VARCHAR) -> VARCHAR`` and
    ``{prefix}_error(VARCHAR) -> TINYINT`` on ``connection``."""
    def normalise(values: pa.Array | pa.ChunkedArray) -> pa.Array | pa.ChunkedArray:
        return _arrow(batch.normalise(values, bare=bare, profile=profile, threads=1).text)

    def error(values: pa.Array | pa.ChunkedArray) -> pa.Array | pa.ChunkedArray:
        return _arrow(batch.normalise(values, bare=bare, profile=profile, threads=1).error)

    # "special": an invalid address gives null, which DuckDB's default null
    # handling (nulls in, nulls out, never null otherwise) refuses.
    varchar = duckdb.sqltype("VARCHAR")
    arrow, special = PythonUDFType.ARROW, FunctionNullHandling.SPECIAL
    connection.create_function(f"{prefix}_normalise", normalise, [varchar], varchar, type=arrow,
                               null_handling=special)
    connection.create_function(f"{prefix}_error", error, [varchar], duckdb.sqltype("TINYINT"), type=arrow,
                               null_handling=special)


if __name__ == "__main__":
    con = duckdb.connect()
    register(con)
    con.execute("CREATE TABLE t AS SELECT * FROM (VALUES ('Juliet@Example.COM/Balcony'), (NULL), "
                "('bad@@'), ('Ren\u00e9@Example.fr')) v(who)")
    print(con.sql("SELECT who, jid_normalise(who) AS jid, jid_error(who) AS error FROM t"))

"""examples/duckdb_udf.py: jid_normalise and jid_error in SQL over a table
of more rows than one DuckDB vector, row for row as the per-object route."""

from __future__ import annotations

import pytest

from integration_support import PROFILES, example, mixed_rows, reference, require

pytestmark = pytest.mark.integration
duckdb = require("duckdb")
pa = require("pyarrow")
udf = example("duckdb_udf")

ROWS = mixed_rows()


@pytest.mark.parametrize("profile", sorted(PROFILES))
@pytest.mark.parametrize("bare", [False, True])
def test_sql_as_the_per_object_route(profile, bare):
    con = duckdb.connect()
    udf.register(con, bare=bare, profile=profile)
    con.register("source", pa.table({"n": range(len(ROWS)), "who": ROWS}))
    got = con.sql("SELECT jid_normalise(who), jid_error(who) FROM source ORDER BY n").fetchall()
    results = [reference(v, bare, profile) for v in ROWS]
    assert [t for t, _ in got] == [t for t, _ in results]
    assert [e is None for _, e in got] == [m is None for _, m in results]


def test_grouping_in_sql_and_a_prefix():
    con = duckdb.connect()
    udf.register(con, prefix="xmpp")
    rows = con.sql("SELECT xmpp_normalise(v) AS j, count(*) FROM (VALUES ('A@b'), ('a@B'), ('bad@@'), (NULL)) t(v) "
                   "GROUP BY j ORDER BY j NULLS LAST").fetchall()
    assert rows == [("a@b", 2), (None, 2)]

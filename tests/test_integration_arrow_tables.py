"""examples/arrow_tables.py, the function Spark's mapInArrow and Ray Data's
map_batches take: record batches, chunked tables and the iterator form, row
for row as the per-object route."""

from __future__ import annotations

import pytest

from integration_support import example, mixed_rows, reference, require

pytestmark = pytest.mark.integration
pa = require("pyarrow")
tables = example("arrow_tables")

ROWS = mixed_rows()


def expect(rows, bare=False):
    results = [reference(v, bare, "rfc6122") for v in rows]
    return [t for t, _ in results], [m is None for _, m in results]


def test_a_table_of_several_chunks_keeps_them():
    half = len(ROWS) // 2
    table = pa.Table.from_batches([pa.record_batch({"who": ROWS[:half]}), pa.record_batch({"who": ROWS[half:]})])
    out = tables.with_normalised(table, "who", bare=True)
    assert out.column_names == ["who", "who_jid", "who_error"]
    assert out.column("who_jid").num_chunks == 2
    texts, valid = expect(ROWS, bare=True)
    assert out.column("who_jid").to_pylist() == texts
    assert [e is None for e in out.column("who_error").to_pylist()] == valid


def test_the_iterator_form_gives_one_batch_per_batch():
    batches = [pa.record_batch({"who": ROWS[i:i + 500]}) for i in range(0, len(ROWS), 500)]
    out = list(tables.normalise_batches(iter(batches), "who"))
    assert [b.num_rows for b in out] == [b.num_rows for b in batches]
    assert out[0].schema.field("who_error").type == pa.int8()
    assert [v for b in out for v in b.column("who_jid").to_pylist()] == expect(ROWS)[0]

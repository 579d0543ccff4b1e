"""examples/polars_columns.py: Polars series (string_view, chunked,
categorical, sliced) and large_string arrays in, Polars columns out, row for
row as the per-object route gives them."""

from __future__ import annotations

import pytest

from integration_support import PROFILES, example, mixed_rows, reference, require

pytestmark = pytest.mark.integration
pl = require("polars")
columns = example("polars_columns")

ROWS = mixed_rows()


def series_forms():
    whole = pl.Series("who", ROWS)
    half = len(ROWS) // 2
    return {
        "string_view": whole,
        "chunked": pl.concat([whole.slice(0, half), whole.slice(half)], rechunk=False),
        "categorical": whole.cast(pl.Categorical),
        "sliced": pl.Series("who", [None, "x@y", *ROWS]).slice(2),
    }


@pytest.mark.parametrize("form", sorted(series_forms()))
@pytest.mark.parametrize("profile", sorted(PROFILES))
def test_each_series_form_as_the_per_object_route(form, profile):
    series = series_forms()[form]
    frame = columns.normalise_series(series, profile=profile)
    results = [reference(v, False, profile) for v in ROWS]
    assert frame["text"].to_list() == [t for t, _ in results]
    assert [e is None for e in frame["error"].to_list()] == [m is None for _, m in results]
    assert frame.schema == pl.Schema({"text": pl.String, "error": pl.Int8})


def test_the_stream_is_read_as_string_view_without_a_copy():
    from quorvel import batch
    series = pl.concat([pl.Series(["A@b"]), pl.Series(["c@D", None])], rechunk=False)
    result = batch.normalise(series)
    # One result batch per chunk: the chunks were read where they lie.
    assert [len(b) for b in result.batches] == [1, 2]
    assert result.text.chunks[0].type == "string"


def test_a_series_of_only_nulls_has_the_null_type_and_gives_null_rows():
    series = pl.Series("who", [None, None, None])
    assert series.dtype == pl.Null
    frame = columns.normalise_series(series, parts=True)
    assert frame.schema["text"] == pl.String and frame.null_count().row(0) == (3,) * 5


def test_large_string_arrays_and_the_columns_beside_the_frame():
    pa = require("pyarrow")
    frame = pl.DataFrame({"who": ROWS})
    arrow = frame["who"].to_arrow(compat_level=pl.CompatLevel.oldest())
    assert arrow.type == pa.large_string()
    from quorvel import batch
    assert batch.normalise(arrow).text.type == "large_string"
    assert pl.Series(batch.normalise(arrow).text).to_list() == [reference(v, False, "rfc6122")[0] for v in ROWS]
    added = columns.with_normalised(frame, "who", bare=True)
    assert added.columns == ["who", "who_jid", "who_error"]
    assert added["who_jid"].to_list() == [reference(v, True, "rfc6122")[0] for v in ROWS]

"""examples/pandas_columns.py: every pandas string dtype in, the results on
the column's index in the matching dtype, row for row as the per-object
route gives them."""

from __future__ import annotations

import math

import pytest

from integration_support import PROFILES, example, mixed_rows, reference, require

pytestmark = pytest.mark.integration
pd = require("pandas")
pa = require("pyarrow")
columns = example("pandas_columns")

ROWS = mixed_rows()
DTYPES = {
    "arrow-string": pd.ArrowDtype(pa.string()),
    "arrow-large_string": pd.ArrowDtype(pa.large_string()),
    "arrow-string_view": pd.ArrowDtype(pa.string_view()),
    "str": pd.StringDtype("pyarrow", na_value=math.nan),  # pandas 3's default with pyarrow
    "str-python": pd.StringDtype("python", na_value=math.nan),  # ... and without it
    "string-pyarrow": pd.StringDtype("pyarrow"),
    "string-python": pd.StringDtype("python"),
    "object": object,
}


def plain(series):
    return [None if v is None or v is pd.NA or (isinstance(v, float) and math.isnan(v)) else v
            for v in series.tolist()]


@pytest.mark.parametrize("dtype", sorted(DTYPES))
@pytest.mark.parametrize("profile", sorted(PROFILES))
def test_each_dtype_as_the_per_object_route(dtype, profile):
    series = pd.Series(ROWS, dtype=DTYPES[dtype], index=range(10, 10 + len(ROWS)))
    frame = columns.normalise_series(series, profile=profile, parts=True)
    results = [reference(v, False, profile) for v in ROWS]
    assert plain(frame["text"]) == [t for t, _ in results]
    assert [e is None for e in plain(frame["error"])] == [m is None for _, m in results]
    assert frame.index.equals(series.index)
    if isinstance(series.dtype, pd.ArrowDtype):
        assert all(isinstance(frame[c].dtype, pd.ArrowDtype) for c in frame)
        assert frame["error"].dtype == pd.ArrowDtype(pa.int8())
    else:
        assert frame["text"].dtype == series.dtype and frame["domain"].dtype == series.dtype
        assert frame["error"].dtype == "Int8"


@pytest.mark.parametrize("dtype", sorted(DTYPES))
def test_an_empty_column_gives_empty_columns_of_its_dtypes(dtype):
    series = pd.Series([], dtype=DTYPES[dtype])
    frame = columns.normalise_series(series)
    assert list(frame.columns) == ["text", "error"] and len(frame) == 0
    if not isinstance(series.dtype, pd.ArrowDtype):
        assert frame["text"].dtype == series.dtype and frame["error"].dtype == "Int8"


def test_the_default_str_dtype_is_taken_either_way():
    series = pd.Series(["A@B", None, "a@@"])
    assert series.dtype == "str"
    frame = columns.normalise_series(series)
    assert plain(frame["text"]) == ["a@b", None, None]
    assert frame["text"].dtype == series.dtype


def test_object_values_that_are_not_str_are_refused_by_row():
    with pytest.raises(TypeError, match="row 1"):
        columns.normalise_series(pd.Series(["a@b", 5], dtype=object))

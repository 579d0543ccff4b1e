"""quorvel.batch over a pandas column, the result on the column's index.

A column whose values live in Arrow memory (``pd.ArrowDtype(pa.string())``,
``large_string``, ``string_view``, and pandas 3's default ``str`` dtype when
pyarrow is installed, which keeps it in a ``large_string`` array) is handed to
``normalise`` through ``Series.__arrow_c_stream__`` without a copy, and its
results come back as Arrow-backed columns. A column whose values are Python
objects (``str`` with the python storage, which pandas picks when pyarrow is
missing, ``StringDtype("python")``, ``object``) is handed over as a list: its
missing values are ``NaN`` or ``pd.NA``, which ``normalise`` would refuse as
not ``str``, so they are turned into ``None`` first, and converting it to
Arrow would only add a copy (and need pyarrow).

Run it with the package and pandas installed: python examples/pandas_columns.py
"""

from __future__ import annotations

from typing import Any

import pandas as pd

from quorvel import batch


def _arrow_backed(dtype: Any) -> bool:
    if isinstance(dtype, pd.ArrowDtype):
        return True
    return isinstance(dtype, pd.StringDtype) and dtype.storage == "pyarrow"


def normalise_series(series: pd.Series, **options: Any) -> pd.DataFrame:
    """``text`` and ``error`` (and with ``parts=True`` the parts) of every
    row of ``series``, as a frame on its index. An ``ArrowDtype`` column
    gives ``ArrowDtype`` columns; a ``str`` or ``StringDtype`` column gives
    ``text`` of its own dtype and ``error`` as ``Int8``; ``object`` gives
    ``object`` text. ``options`` are those of ``batch.normalise``."""
    dtype = series.dtype
    if _arrow_backed(dtype):
        import pyarrow as pa  # there whenever pandas keeps a column in Arrow memory

        result = batch.normalise(series, **options)
        table = pa.table(result)
        if isinstance(dtype, pd.ArrowDtype):
            frame = table.to_pandas(types_mapper=pd.ArrowDtype)
        else:
            frame = table.to_pandas()
            frame["text"] = frame["text"].astype(dtype)
            frame["error"] = frame["error"].astype("Int8")
            for name in ("localpart", "domain", "resource"):
                if name in frame:
                    frame[name] = frame[name].astype(dtype)
        frame.index = series.index
        return frame
    # Python objects: pandas' missing-value markers become None, anything
    # else that is not a str is refused by normalise, naming its row.
    values = series.to_numpy(dtype=object, na_value=None).tolist()
    result = batch.normalise(values, **options)
    text_dtype = dtype if isinstance(dtype, pd.StringDtype) else object
    columns = {"text": pd.Series(result.text, index=series.index, dtype=text_dtype),
               "error": pd.Series(result.error, index=series.index, dtype="Int8")}
    if options.get("parts"):
        for name in ("localpart", "domain", "resource"):
            columns[name] = pd.Series(getattr(result, name), index=series.index, dtype=text_dtype)
    return pd.DataFrame(columns)


if __name__ == "__main__":
    frame = pd.DataFrame({"who": ["Juliet@Example.COM/Balcony", None, "bad@@", "Ren\u00e9@Example.fr"]})
    print(frame.join(normalise_series(frame["who"])))

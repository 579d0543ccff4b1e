"""quorvel.batch over a Polars column, the results as Polars columns.

A Series exports itself through ``__arrow_c_stream__`` as ``string_view``
arrays (Polars' own layout, whatever schema is asked for), one per chunk;
``normalise`` reads those views where they lie, so nothing is copied on the
way in, and a chunked Series gives one result batch per chunk. The results
are ``string`` (the width ``normalise`` gives for ``string_view`` input) and
``int8`` columns, taken back by ``pl.DataFrame``/``pl.Series`` through the
same interface: Polars keeps ``int8`` and the validity bitmaps as they are
and lays the text out as views of its own. A ``large_string`` array (from
``pl.Series.to_arrow(compat_level=pl.CompatLevel.oldest())`` or any other
producer) gives ``large_string`` results, which Polars takes alike.

Run it with the package and Polars installed: python examples/polars_columns.py
"""

from __future__ import annotations

from typing import Any

import polars as pl

from quorvel import batch


def normalise_series(series: pl.Series, **options: Any) -> pl.DataFrame:
    """``text`` and ``error`` (and with ``parts=True`` the parts) of every
    row of ``series``, one frame row per row. ``options`` are those of
    ``batch.normalise``."""
    return pl.DataFrame(batch.normalise(series, **options))


def with_normalised(frame: pl.DataFrame, column: str, **options: Any) -> pl.DataFrame:
    """``frame`` with ``{column}_jid`` and ``{column}_error`` beside ``column``."""
    result = batch.normalise(frame[column], **options)
    # A Series made from an Arrow stream takes the stream's field name (empty
    # here) over the one it is given, so the names are set afterwards.
    return frame.with_columns(pl.Series(result.text).alias(f"{column}_jid"),
                              pl.Series(result.error).alias(f"{column}_error"))


if __name__ == "__main__":
    frame = pl.DataFrame({"who": ["Juliet@Example.COM/Balcony", None, "bad@@", "Ren\u00e9@Example.fr"]})
    print(with_normalised(frame, "who"))

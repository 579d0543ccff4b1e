"""quorvel.batch with nanoarrow as the only Arrow library (no pyarrow):
nanoarrow arrays in, results read back through nanoarrow.

Run it with the package and nanoarrow installed: python examples/nanoarrow_only.py
"""

from __future__ import annotations

from typing import Any

import nanoarrow as na

from quorvel import batch


def normalise_array(values: list[str | None], type_name: str = "string", **options: Any) -> dict[str, Any]:
    """The rows of ``values`` as a nanoarrow array of ``type_name``
    (``string`` or ``large_string``) through ``normalise``, read back as
    nanoarrow arrays: the texts, the error kinds and the result types."""
    array = na.Array(values, getattr(na, type_name)())
    result = batch.normalise(array, **options)
    text, error = na.Array(result.text), na.Array(result.error)
    return {"text": text.to_pylist(), "error": error.to_pylist(),
            "types": [text.schema.type.name.lower(), error.schema.type.name.lower()]}


if __name__ == "__main__":
    print(normalise_array(["Juliet@Example.COM/Balcony", None, "bad@@", "Ren\u00e9@Example.fr"]))

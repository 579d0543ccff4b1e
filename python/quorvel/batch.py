"""Whole columns of addresses at once: normalised, checked and grouped
without a Python object per row, with the interpreter lock released and the
work spread over threads.

``normalise(values)`` takes a list (or any iterable) of ``str`` and ``None``,
or anything that exports Arrow string data through the Arrow PyCapsule
interface (``__arrow_c_array__`` or ``__arrow_c_stream__``: pyarrow arrays and
chunked arrays, Polars series, nanoarrow and arro3 arrays, ...). Row for row,
the result's ``text`` is ``str(JID(value))`` (``None`` where the value is
invalid or ``None``) and its ``error`` the failure as a small int kind
(``None`` where the value is valid or ``None``); ``message(kind)`` is the text
``InvalidJID`` carries for it, and ``KINDS`` names every kind. ``group(values)``
numbers the distinct normalised addresses in order of first appearance.

For list input the columns are lists; for Arrow input they are ``Column``
objects, which export themselves through the same interface (so
``pyarrow.array(result.text)`` or ``polars.Series(result.text)`` takes them
without a copy), and ``to_pylist()`` reads them without any Arrow library.
A ``string`` column gives ``string`` results and a ``large_string`` one
``large_string`` results; a ``string_view`` column gives ``string`` results,
and one of the null type (a column that never held a value) null ``string``
rows.
A dictionary-encoded column is normalised once per dictionary entry, and its
results are given decoded. A record batch, table or record-batch reader of
one column (a struct of one field) is read as that column, so a file read by
``pyarrow.csv.open_csv`` can be grouped as it streams in. Bytes of an Arrow column that are not UTF-8 (or a
``str`` holding a lone surrogate, which has no UTF-8 form) are reported on
their row as the kind ``INVALID_UTF8``, never refused as a whole.

pyarrow is never needed to import or to use this module.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Iterator
from typing import Any, Literal, Protocol

from quorvel import _batch
from quorvel._batch import Column

__all__ = [
    "INVALID_UTF8", "KINDS", "Column", "ColumnStream", "Grouped", "Normalised", "NormalisedStream",
    "dedupe", "group", "message", "normalise",
]

#: The error kinds by number: the eleven of RFC 6122 addresses (quorvel.jid),
#: then those only RFC 7622 addresses (quorvel.precis) report, then
#: InvalidUtf8, which only this module reports.
KINDS: dict[int, str] = dict(enumerate(_batch.KIND_NAMES))
#: The kind of a row whose bytes are not UTF-8.
INVALID_UTF8: int = _batch.INVALID_UTF8

Profile = Literal["rfc6122", "rfc7622"]
_PROFILES = {"rfc6122": False, "rfc7622": True}
_PART_NAMES = ("text", "error", "localpart", "domain", "resource")


class _ArrowArrayExporter(Protocol):
    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]: ...


class _ArrowStreamExporter(Protocol):
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...


Values = Iterable[str | None] | _ArrowArrayExporter | _ArrowStreamExporter


def message(kind: int) -> str:
    """The message ``InvalidJID`` carries for error kind ``kind``."""
    if isinstance(kind, bool) or not isinstance(kind, int):
        raise TypeError(f"kind must be an int, not {type(kind).__name__!r}")
    return _batch.message(kind)


def _default_threads() -> int:
    try:
        return max(len(os.sched_getaffinity(0)), 1)
    except (AttributeError, OSError):  # not on every platform
        return os.cpu_count() or 1


def _arguments(bare: object, profile: object, threads: object) -> tuple[bool, bool, int]:
    if not isinstance(bare, bool):
        raise TypeError(f"bare must be a bool, not {type(bare).__name__!r}")
    if not isinstance(profile, str) or profile not in _PROFILES:
        raise ValueError(f"profile must be 'rfc6122' or 'rfc7622', not {profile!r}")
    if threads is None:
        count = _default_threads()
    elif isinstance(threads, bool) or not isinstance(threads, int):
        raise TypeError(f"threads must be an int or None, not {type(threads).__name__!r}")
    elif threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    else:
        count = threads
    return bare, _PROFILES[profile], count


def _rows(values: object) -> list[Any] | tuple[Any, ...]:
    if isinstance(values, (list, tuple)):
        return values
    if isinstance(values, (str, bytes, bytearray, memoryview)):
        raise TypeError(f"values must be a column of str, not a single {type(values).__name__}")
    if not isinstance(values, Iterable):
        raise TypeError(f"values must be an iterable of str or Arrow string data, not {type(values).__name__!r}")
    return list(values)


class Normalised:
    """The results of ``normalise`` over a list or an Arrow array, one row
    per input row: ``text`` and ``error``, and with ``parts=True``
    ``localpart``, ``domain`` and ``resource`` (``None``/null where a valid
    address has no such part). Lists for list input, ``Column`` objects for
    Arrow input; the latter also exports itself as an Arrow struct array (a
    record batch) of those columns."""

    __slots__ = ("text", "error", "localpart", "domain", "resource")

    text: Any
    error: Any
    localpart: Any
    domain: Any
    resource: Any

    def __init__(self, columns: tuple[Any, ...]) -> None:
        for name, column in zip(_PART_NAMES, columns):
            setattr(self, name, column)
        for name in _PART_NAMES[len(columns):]:
            setattr(self, name, None)

    def _columns(self) -> tuple[tuple[str, ...], tuple[Any, ...]]:
        names = _PART_NAMES if self.localpart is not None else _PART_NAMES[:2]
        return names, tuple(getattr(self, n) for n in names)

    def __len__(self) -> int:
        return len(self.text)

    def __repr__(self) -> str:
        kind = "lists" if isinstance(self.text, list) else "Arrow columns"
        return f"<quorvel.batch.Normalised of {len(self)} rows as {kind}>"

    def __arrow_c_array__(self, requested_schema: object | None = None) -> tuple[object, object]:
        names, columns = self._columns()
        if not isinstance(self.text, Column):
            raise TypeError("results of list input are lists; only those of Arrow input export Arrow data")
        return _batch.export_struct(names, columns)


class ColumnStream:
    """One result column of a stream, chunk by chunk (``chunks``), exported
    as an Arrow stream of arrays."""

    __slots__ = ("chunks", "_name", "_prototype")

    def __init__(self, name: str, prototype: Column, chunks: list[Column]) -> None:
        self.chunks = chunks
        self._name = name
        self._prototype = prototype

    def __len__(self) -> int:
        return sum(len(c) for c in self.chunks)

    def __iter__(self) -> Iterator[Column]:
        return iter(self.chunks)

    def to_pylist(self) -> list[Any]:
        return [v for c in self.chunks for v in c.to_pylist()]

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object:
        return _batch.export_stream((self._name,), (self._prototype,), [(c,) for c in self.chunks], True)


class NormalisedStream:
    """The results of ``normalise`` over an Arrow stream: ``batches``, one
    ``Normalised`` per input batch, and the columns across them (``text``,
    ``error``, ... as ``ColumnStream``). Exports itself as an Arrow stream of
    struct arrays (record batches), one per input batch. The input stream is
    read to its end by ``normalise``: a stream that fails part way raises
    there, and no results of the batches before the failure are given."""

    __slots__ = ("batches", "text", "error", "localpart", "domain", "resource", "_names", "_prototype")

    # Declared, so that typed code reads a stream's columns as it reads
    # those of a Normalised (the result of normalise is either).
    batches: list[Normalised]
    text: ColumnStream
    error: ColumnStream
    localpart: ColumnStream | None
    domain: ColumnStream | None
    resource: ColumnStream | None

    def __init__(self, batches: list[tuple[Column, ...]], prototype: tuple[Column, ...]) -> None:
        self.batches = [Normalised(b) for b in batches]
        self._names = _PART_NAMES[:len(prototype)]
        self._prototype = prototype
        for i, name in enumerate(_PART_NAMES):
            value = ColumnStream(name, prototype[i], [b[i] for b in batches]) if i < len(prototype) else None
            setattr(self, name, value)

    def __len__(self) -> int:
        return sum(len(b) for b in self.batches)

    def __iter__(self) -> Iterator[Normalised]:
        return iter(self.batches)

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object:
        batches = [b._columns()[1] for b in self.batches]
        return _batch.export_stream(self._names, self._prototype, batches, False)


def normalise(values: Values, *, bare: bool = False, profile: Profile = "rfc6122", parts: bool = False,
              threads: int | None = None) -> Normalised | NormalisedStream:
    """Normalise every row of ``values`` as ``str(JID(value, bare=bare))``
    would (``quorvel.precis.JID`` with ``profile="rfc7622"``), reporting each
    failure as its error kind instead of raising. ``threads`` worker threads
    share the work (default: the CPUs this process may use); a column of
    fewer than twice ``MIN_CHUNK_ROWS`` rows stays on the calling thread.

    A value that is neither ``str`` nor ``None`` raises ``TypeError`` naming
    its row, and nothing is returned."""
    flag, rfc7622, count = _arguments(bare, profile, threads)
    if not isinstance(parts, bool):
        raise TypeError(f"parts must be a bool, not {type(parts).__name__!r}")
    kind = type(values)
    if not isinstance(values, (list, tuple)):
        if hasattr(kind, "__arrow_c_array__"):
            schema, array = values.__arrow_c_array__()  # type: ignore[union-attr]
            return Normalised(_batch.normalise_arrow(schema, array, flag, rfc7622, parts, count))
        if hasattr(kind, "__arrow_c_stream__"):
            stream = values.__arrow_c_stream__()  # type: ignore[union-attr]
            return NormalisedStream(*_batch.normalise_stream(stream, flag, rfc7622, parts, count))
    return Normalised(_batch.normalise_list(_rows(values), flag, rfc7622, parts, count))


class Grouped:
    """Groups of equal normalised addresses: ``ids``, a dense group id per
    row (ids in order of first appearance; ``None``/null for invalid and
    ``None`` rows), ``texts``, the normalised address of each group, and
    ``counts``, the rows in each. Lists for list input, ``Column`` objects
    (int32, string or large_string, int64) for Arrow input."""

    __slots__ = ("ids", "texts", "counts")

    def __init__(self, ids: Any, texts: Any, counts: Any) -> None:
        self.ids = ids
        self.texts = texts
        self.counts = counts

    def __len__(self) -> int:
        return len(self.texts)

    def __repr__(self) -> str:
        return f"<quorvel.batch.Grouped: {len(self)} groups of {len(self.ids)} rows>"


def group(values: Values, *, bare: bool = False, profile: Profile = "rfc6122",
          threads: int | None = None) -> Grouped:
    """Group the rows of ``values`` (as ``normalise`` reads them) by their
    normalised address. An Arrow stream is grouped as one column."""
    flag, rfc7622, count = _arguments(bare, profile, threads)
    kind = type(values)
    if not isinstance(values, (list, tuple)):
        if hasattr(kind, "__arrow_c_array__"):
            schema, array = values.__arrow_c_array__()  # type: ignore[union-attr]
            return Grouped(*_batch.group_arrow(schema, array, flag, rfc7622, count))
        if hasattr(kind, "__arrow_c_stream__"):
            stream = values.__arrow_c_stream__()  # type: ignore[union-attr]
            return Grouped(*_batch.group_stream(stream, flag, rfc7622, count))
    return Grouped(*_batch.group_list(_rows(values), flag, rfc7622, count))


def dedupe(values: Values, *, bare: bool = False, profile: Profile = "rfc6122",
           threads: int | None = None) -> Any:
    """The distinct normalised addresses of ``values`` in order of first
    appearance (``group(values).texts``): a list, or a ``Column``."""
    return group(values, bare=bare, profile=profile, threads=threads).texts

"""quorvel.batch over Arrow data through the PyCapsule interface, with
pyarrow as the producer and consumer: each string layout, slices, nulls,
dictionaries, streams, bytes that are not UTF-8, and the results read back
as Arrow arrays, all against the per-object route."""

from __future__ import annotations

import os

import pytest

if os.environ.get("QUORVEL_SANITIZED"):
    # pyarrow's own allocations are no part of what the sanitizers check here.
    pytest.skip("pyarrow is left out of the sanitizer run", allow_module_level=True)
pa = pytest.importorskip("pyarrow", reason="pyarrow is not installed (pip install 'quorvel[test]')")

from quorvel import _batch, batch  # noqa: E402

from batch_support import PROFILES, corpus, messages, reference  # noqa: E402

# A lone surrogate has no place in an Arrow column; its bytes are tested below.
CORPUS = [v for v in corpus() if v is None or not any(0xD800 <= ord(c) <= 0xDFFF for c in v)]
TYPES = {"string": pa.string(), "large_string": pa.large_string(), "string_view": pa.string_view()}
OUTPUT = {"string": pa.string(), "large_string": pa.large_string(), "string_view": pa.string()}


def check(values, result, bare=False, profile="rfc6122"):
    expected = [reference(v, bare, profile) for v in values]
    assert pa.array(result.text).to_pylist() == [t for t, _ in expected]
    assert messages(pa.array(result.error).to_pylist()) == [m for _, m in expected]


@pytest.mark.parametrize("type_name", sorted(TYPES))
@pytest.mark.parametrize("profile", sorted(PROFILES))
@pytest.mark.parametrize("bare", [False, True])
def test_every_row_as_the_per_object_route(type_name, profile, bare):
    array = pa.array(CORPUS, type=TYPES[type_name])
    result = batch.normalise(array, bare=bare, profile=profile)
    check(CORPUS, result, bare, profile)
    assert pa.array(result.text).type == OUTPUT[type_name]
    assert pa.array(result.error).type == pa.int8()
    # The Column reads back without pyarrow the same way.
    assert result.text.to_pylist() == pa.array(result.text).to_pylist()


@pytest.mark.parametrize("type_name", sorted(TYPES))
@pytest.mark.parametrize("start, stop", [(1, None), (7, 300), (0, 0), (len(CORPUS) - 1, None)])
def test_slices_read_from_their_offset(type_name, start, stop):
    array = pa.array(CORPUS, type=TYPES[type_name])[start:stop]
    check(CORPUS[start:stop], batch.normalise(array))


@pytest.mark.parametrize("type_name", sorted(TYPES))
def test_threads_give_the_same_column(type_name):
    rows = CORPUS * (2 * _batch.MIN_CHUNK_ROWS // len(CORPUS) + 1)
    array = pa.array(rows, type=TYPES[type_name])
    one = batch.normalise(array, threads=1, parts=True)
    two = batch.normalise(array, threads=2, parts=True)
    assert pa.record_batch(two).equals(pa.record_batch(one))


def test_parts_columns_and_the_record_batch():
    values = ["Juliet@Example.com/Balcony", "example.com", None, "bad@@", ""]
    result = batch.normalise(pa.array(values), parts=True)
    record = pa.record_batch(result)
    assert record.schema.names == ["text", "error", "localpart", "domain", "resource"]
    assert record.column("localpart").to_pylist() == ["juliet", None, None, None, None]
    assert record.column("domain").to_pylist() == ["example.com", "example.com", None, None, ""]
    assert record.column("resource").to_pylist() == ["Balcony", None, None, None, None]


@pytest.mark.parametrize("index_type", [pa.int8(), pa.uint16(), pa.int32(), pa.int64()])
def test_a_dictionary_column_is_normalised_per_entry(index_type):
    values = ["A@b", "a@B", None, "c@@", "A@b"] * 40
    array = pa.array(values).dictionary_encode().cast(pa.dictionary(index_type, pa.string()))
    check(values, batch.normalise(array))
    grouped = batch.group(array)
    assert pa.array(grouped.texts).to_pylist() == ["a@b"]
    assert pa.array(grouped.counts).to_pylist() == [120]


def test_a_dictionary_index_outside_the_dictionary_is_refused():
    indices = pa.array([0, 5], type=pa.int32())
    array = pa.DictionaryArray.from_arrays(indices, pa.array(["a@b"]), safe=False)
    with pytest.raises(ValueError, match="outside the dictionary"):
        batch.normalise(array)


def test_bytes_that_are_not_utf8_are_reported_on_their_row():
    raw = [b"Juliet@Example.com", b"\xff\xfe@x", b"ok@\xc3", b"\xed\xa0\x80@x", b""]
    binary = pa.array(raw, type=pa.binary())
    for type_ in (pa.string(), pa.large_string()):
        source = binary.cast(pa.large_binary()) if type_ == pa.large_string() else binary
        array = pa.Array.from_buffers(type_, len(raw), source.buffers())
        result = batch.normalise(array)
        assert result.text.to_pylist() == ["juliet@example.com", None, None, None, ""]
        assert result.error.to_pylist() == [None, batch.INVALID_UTF8, batch.INVALID_UTF8, batch.INVALID_UTF8, None]


def test_a_stream_gives_a_stream_of_result_batches():
    chunks = [CORPUS[:100], [], CORPUS[100:]]
    chunked = pa.chunked_array(chunks, type=pa.large_string())
    result = batch.normalise(chunked, parts=True)
    assert isinstance(result, batch.NormalisedStream)
    assert [len(b) for b in result.batches] == [len(c) for c in chunks]
    table = pa.RecordBatchReader.from_stream(result).read_all()
    assert table.schema.field("text").type == pa.large_string()
    check(CORPUS, type("R", (), {"text": table.column("text").combine_chunks(),
                                 "error": table.column("error").combine_chunks()}))
    assert pa.chunked_array(result.text).to_pylist() == result.text.to_pylist()
    grouped = batch.group(chunked)
    assert pa.array(grouped.ids).to_pylist() == batch.group(CORPUS).ids


def test_an_empty_stream_still_gives_its_schema():
    result = batch.normalise(pa.chunked_array([], type=pa.string()))
    table = pa.RecordBatchReader.from_stream(result).read_all()
    assert table.num_rows == 0 and table.schema.names == ["text", "error"]


def one_column_inputs():
    column = pa.array(CORPUS, pa.string())
    table = pa.table({"who": column})
    batches = table.to_batches(max_chunksize=97)
    yield "record batch", pa.record_batch([column], names=["who"]), CORPUS
    yield "sliced record batch", pa.record_batch([column], names=["who"]).slice(5, 200), CORPUS[5:205]
    yield "record batch of a sliced column", pa.record_batch([column.slice(3)], names=["who"]), CORPUS[3:]
    yield "table", table, CORPUS
    yield "reader", pa.RecordBatchReader.from_batches(table.schema, iter(batches)), CORPUS
    dictionary = pa.record_batch([column.dictionary_encode()], names=["who"])
    yield "record batch of a dictionary", dictionary, CORPUS


@pytest.mark.parametrize("name", [n for n, _, _ in one_column_inputs()])
def test_a_record_batch_of_one_column_is_read_as_the_column(name):
    _, values, rows = next(i for i in one_column_inputs() if i[0] == name)
    result = batch.normalise(values)
    text = pa.chunked_array(result.text).to_pylist() if isinstance(result, batch.NormalisedStream) \
        else pa.array(result.text).to_pylist()
    assert text == [reference(v, False, "rfc6122")[0] for v in rows]
    _, values, rows = next(i for i in one_column_inputs() if i[0] == name)  # a reader is read once
    grouped = batch.group(values)
    expected = batch.group(rows)
    assert pa.array(grouped.ids).to_pylist() == expected.ids
    assert pa.array(grouped.texts).to_pylist() == expected.texts
    assert pa.array(grouped.counts).to_pylist() == expected.counts


def test_a_csv_file_is_grouped_as_it_streams_in(tmp_path):
    from pyarrow import csv

    rows = [v for v in CORPUS if v is not None and "\n" not in v and "\r" not in v and v != ""]
    path = tmp_path / "addresses.txt"
    path.write_text("".join(v + "\n" for v in rows), encoding="utf-8")
    reader = csv.open_csv(
        path, read_options=csv.ReadOptions(column_names=["a"], block_size=4096),
        parse_options=csv.ParseOptions(delimiter="\t", quote_char=False, escape_char=False),
        convert_options=csv.ConvertOptions(column_types={"a": pa.string()}, strings_can_be_null=False,
                                           quoted_strings_can_be_null=False))
    grouped = batch.group(reader)
    expected = batch.group(rows)
    assert pa.array(grouped.ids).to_pylist() == expected.ids
    assert pa.array(grouped.texts).to_pylist() == expected.texts


def test_a_record_batch_of_two_columns_is_refused_before_it_is_read():
    # Which column is meant is the caller's to say.
    def batches():
        yield pa.record_batch([pa.array(["a@b"]), pa.array(["c@d"])], names=["x", "y"])
        raise AssertionError("the stream was read past its schema")

    reader = pa.RecordBatchReader.from_batches(pa.schema([("x", pa.string()), ("y", pa.string())]), batches())
    with pytest.raises(TypeError, match="struct \\(record batch\\) of 2 columns"):
        batch.normalise(reader)


def test_a_struct_with_null_rows_is_refused():
    inner = pa.array(["a@b", "c@d"])
    struct = pa.StructArray.from_arrays([inner], names=["x"], mask=pa.array([False, True]))
    with pytest.raises(ValueError, match="struct array with null rows"):
        batch.normalise(struct)
    # Without null rows it is a column like any other.
    assert batch.normalise(pa.StructArray.from_arrays([inner], names=["x"])).text.to_pylist() == ["a@b", "c@d"]


def test_a_consumed_capsule_is_refused():
    array = pa.array(["a@b"])
    schema, capsule = array.__arrow_c_array__()
    _batch.normalise_arrow(schema, capsule, False, False, False, 1)
    with pytest.raises(ValueError, match="already consumed"):
        _batch.normalise_arrow(schema, capsule, False, False, False, 1)
    stream = pa.chunked_array([["a@b"]]).__arrow_c_stream__()
    _batch.normalise_stream(stream, False, False, False, 1)
    with pytest.raises(ValueError, match="already consumed or closed"):
        _batch.normalise_stream(stream, False, False, False, 1)
    with pytest.raises(ValueError):
        _batch.normalise_arrow(capsule, schema, False, False, False, 1)


@pytest.mark.parametrize("values", [
    pa.nulls(3), pa.nulls(0), pa.nulls(5)[2:], pa.chunked_array([pa.nulls(2), pa.nulls(0), pa.nulls(1)]),
], ids=["three", "empty", "sliced", "chunked"])
def test_a_column_of_the_null_type_gives_null_rows(values):
    # What a tool types a column as before it has held a value.
    n = len(values)
    result = batch.normalise(values, parts=True)
    record = pa.Table.from_batches(pa.RecordBatchReader.from_stream(result)) if isinstance(
        result, batch.NormalisedStream) else pa.Table.from_batches([pa.record_batch(result)])
    assert record.schema.field("text").type == pa.string()
    assert all(record.column(c).null_count == n for c in record.column_names)
    grouped = batch.group(values)
    assert pa.array(grouped.ids).to_pylist() == [None] * n
    assert pa.array(grouped.texts).to_pylist() == [] and pa.array(grouped.counts).to_pylist() == []


@pytest.mark.parametrize("array", [
    pa.array([1, 2]), pa.array([b"a@b"], type=pa.binary()), pa.array([["a"]]),
    pa.array(["a"]).dictionary_encode().cast(pa.dictionary(pa.int8(), pa.large_binary())),
], ids=["int64", "binary", "list", "dictionary-of-binary"])
def test_columns_that_are_not_strings_are_refused(array):
    with pytest.raises(TypeError, match="expected an Arrow string"):
        batch.normalise(array)


def test_results_outlive_their_input_and_export_many_times():
    array = pa.array(["A@b", None])
    result = batch.normalise(array)
    del array
    first, second = pa.array(result.text), pa.array(result.text)
    del result
    assert first.to_pylist() == second.to_pylist() == ["a@b", None]


def test_a_results_exports_are_zero_copy_views_of_one_buffer():
    result = batch.normalise(pa.array(["A@b", "c@D"]))
    a, b = pa.array(result.text), pa.array(result.text)
    assert a.buffers()[2].address == b.buffers()[2].address

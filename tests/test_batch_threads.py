"""The worker threads of quorvel.batch and of quorvel-jid -j, stressed: every
thread count from 2 to 8 over lists and pyarrow arrays of mixed rows (valid,
invalid, non-ASCII, null, not UTF-8), several Python threads calling
normalise and group on the same inputs at once, and the tool's threaded
block route. Each result must be the one thread's.

make test runs it as it is; make test-tsan runs it again over modules built
with ThreadSanitizer, where a data race in the threaded code stops the run.
"""

from __future__ import annotations

import os
import subprocess
import threading

import pytest

from quorvel import _batch, batch

from batch_support import corpus
from cli_support import command, env

# A lone surrogate has no place in an Arrow column; the list route takes it.
ARROW_ROWS = [v for v in corpus() if v is None or not any(0xD800 <= ord(c) <= 0xDFFF for c in v)]
# Enough rows for eight threads to start, each with its minimum of rows.
ROWS = corpus() * (8 * _batch.MIN_CHUNK_ROWS // len(corpus()) + 1)


@pytest.fixture(scope="module")
def pa():
    if os.environ.get("QUORVEL_SANITIZED"):
        pytest.skip("pyarrow is left out of the ASan run")
    return pytest.importorskip("pyarrow", reason="pyarrow is not installed (pip install 'quorvel[test]')")


def _arrow_rows(pa, type_):
    """ARROW_ROWS as many times as ROWS, with rows that are not UTF-8."""
    rows = ARROW_ROWS * (len(ROWS) // len(ARROW_ROWS) + 1)
    array = pa.array(rows, type=pa.binary())
    bad = pa.array([b"\xff@x", b"a@\xc3", b"\xed\xa0\x80@b"] * 100, type=pa.binary())
    data = pa.concat_arrays([array, bad, array[:5000]])
    if type_ == "large_string":
        return data.cast(pa.large_binary()).view(pa.large_string())
    # A view, not a cast: a cast to string would refuse the bytes.
    text = data.view(pa.string())
    return text.cast(pa.string_view()) if type_ == "string_view" else text


def _columns(result):
    return [None if c is None else (c if isinstance(c, list) else c.to_pylist())
            for c in (result.text, result.error, result.localpart, result.domain, result.resource)]


@pytest.mark.parametrize("profile", ["rfc6122", "rfc7622"])
def test_list_rows_at_every_thread_count(profile):
    one = _columns(batch.normalise(ROWS, profile=profile, parts=True, threads=1))
    for threads in range(2, 9):
        assert _columns(batch.normalise(ROWS, profile=profile, parts=True, threads=threads)) == one, threads
    groups = batch.group(ROWS, bare=True, threads=1)
    assert batch.group(ROWS, bare=True, threads=5).ids == groups.ids


@pytest.mark.parametrize("type_", ["string", "large_string", "string_view"])
def test_arrow_rows_at_every_thread_count(pa, type_):
    array = _arrow_rows(pa, type_)
    one = _columns(batch.normalise(array, parts=True, threads=1))
    assert _batch.INVALID_UTF8 in one[1]
    for threads in range(2, 9):
        assert _columns(batch.normalise(array, parts=True, threads=threads)) == one, threads
    # A slice, and the groups.
    sliced = batch.normalise(array.slice(1234, 50000), threads=3)
    assert _columns(sliced)[:2] == [c[1234:51234] for c in one[:2]]
    grouped = batch.group(array, threads=1)
    assert batch.group(array, threads=6).ids.to_pylist() == grouped.ids.to_pylist()


def test_python_threads_calling_normalise_at_once(pa):
    arrays = [ROWS, _arrow_rows(pa, "string"), _arrow_rows(pa, "string_view")]
    expected = [_columns(batch.normalise(a, threads=1)) for a in arrays]
    groups = [batch.dedupe(a, threads=1) for a in arrays]
    failures: list[BaseException] = []
    start = threading.Barrier(6)

    def work(k):
        try:
            start.wait()
            for round_ in range(2):
                i = (k + round_) % len(arrays)
                assert _columns(batch.normalise(arrays[i], threads=2 + k % 3)) == expected[i]
                texts = batch.dedupe(arrays[i], threads=2 + round_)
                assert (texts if isinstance(texts, list) else texts.to_pylist()) == (
                    groups[i] if isinstance(groups[i], list) else groups[i].to_pylist())
        except BaseException as e:  # noqa: BLE001 - handed to the main thread
            failures.append(e)

    workers = [threading.Thread(target=work, args=(k,)) for k in range(6)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert not failures, failures


@pytest.mark.parametrize("mode", [[], ["--dedupe"], ["--compare"], ["--profile", "rfc7622", "--bare-only"]])
def test_the_tool_over_threads(tmp_path, mode):
    path = tmp_path / "rows.txt"
    path.write_bytes(b"\n".join((v or "").encode("utf-8", "surrogatepass") for v in ROWS[:40000]))

    def tool(*args):
        r = subprocess.run(command(*args), capture_output=True, env=env(), timeout=600)
        return r.returncode, r.stdout, r.stderr

    one = tool(*mode, "-f", str(path))
    assert tool("-j", "4", *mode, "-f", str(path)) == one

"""quorvel.batch over lists: every row as the per-object route gives it, the
kinds table, the arguments refused, and the threaded route against the
single-threaded one."""

from __future__ import annotations

import threading

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorvel
from quorvel import _batch, batch
from quorvel.jid import JID, InvalidJID

from batch_support import PROFILES, corpus, messages, reference

CORPUS = corpus()


@pytest.mark.parametrize("profile", sorted(PROFILES))
@pytest.mark.parametrize("bare", [False, True])
def test_every_row_as_the_per_object_route(profile, bare):
    result = batch.normalise(CORPUS, bare=bare, profile=profile)
    expected = [reference(v, bare, profile) for v in CORPUS]
    assert result.text == [t for t, _ in expected]
    assert messages(result.error) == [m for _, m in expected]
    # The corpus reaches most kinds of the profile, so the kinds are tested
    # against real messages rather than against the table itself.
    assert len({e for e in result.error if e is not None}) >= 6


ADDRESS_TEXT = st.text(st.sampled_from("aA\u00e9\u00c9\u00df@/.:-[] \u0301\u200d\u05d0\u0663\ufb01\u2163x1"), max_size=24)


@settings(max_examples=300, deadline=None)
@given(values=st.lists(st.none() | ADDRESS_TEXT, max_size=20), bare=st.booleans(),
       profile=st.sampled_from(sorted(PROFILES)), parts=st.booleans())
def test_generated_columns_as_the_per_object_route(values, bare, profile, parts):
    result = batch.normalise(values, bare=bare, profile=profile, parts=parts)
    expected = [reference(v, bare, profile) for v in values]
    assert result.text == [t for t, _ in expected]
    assert messages(result.error) == [m for _, m in expected]
    if parts:
        for v, text, local, domain, resource in zip(values, result.text, result.localpart, result.domain,
                                                    result.resource):
            if text is None:
                assert local is domain is resource is None
                continue
            j = PROFILES[profile](v, bare=bare)
            assert (local, domain, resource) == (j.node or None, j.domain, j.resource or None)


@pytest.mark.parametrize("profile", sorted(PROFILES))
def test_threads_split_the_column_and_keep_its_order(profile):
    # Past two minimum chunks, so that two threads really take a chunk each.
    rows = CORPUS * (2 * _batch.MIN_CHUNK_ROWS // len(CORPUS) + 1)
    one = batch.normalise(rows, profile=profile, threads=1, parts=True)
    two = batch.normalise(rows, profile=profile, threads=2, parts=True)
    for name in ("text", "error", "localpart", "domain", "resource"):
        assert getattr(two, name) == getattr(one, name)
    assert one.text[:len(CORPUS)] == batch.normalise(CORPUS, profile=profile).text


@pytest.mark.parametrize("value, text, kind", [
    ("Juliet@Example.COM/Balcony", "juliet@example.com/Balcony", None),
    ("", "", None),
    (None, None, None),
    ("a@@b", None, "TooManyAts"),
    ("@b", None, "NodeEmpty"),
    ("a@b/", None, "ResourceEmpty"),
    ("x" * 1024 + "@b", None, "NodeTooLong"),
    ("\ud800@b", None, "InvalidUtf8"),
])
def test_rows_and_their_kinds(value, text, kind):
    result = batch.normalise([value])
    assert result.text == [text]
    assert result.error == [None if kind is None else {v: k for k, v in batch.KINDS.items()}[kind]]


def test_the_kinds_table():
    # The core's numbering: RFC 6122's eleven first, then RFC 7622's, then
    # the one of the batch route alone.
    assert batch.KINDS[0] == "NodeEmpty"
    assert batch.KINDS[10] == "Idna"
    assert batch.KINDS[11] == "NodePrecis"
    assert batch.KINDS[batch.INVALID_UTF8] == "InvalidUtf8" and batch.INVALID_UTF8 == len(batch.KINDS) - 1
    for kind in batch.KINDS:
        assert isinstance(batch.message(kind), str) and batch.message(kind)
    with pytest.raises(InvalidJID) as exc:
        JID("a@@b")
    assert batch.message(9) == str(exc.value)


@pytest.mark.parametrize("call, error, text", [
    (lambda: batch.normalise(["a@b", 3, "c"]), TypeError, "row 1: expected str or None, not 'int'"),
    (lambda: batch.normalise(["a@b", b"c@d"]), TypeError, "row 1"),
    (lambda: batch.normalise("a@b"), TypeError, "not a single str"),
    (lambda: batch.normalise(42), TypeError, "iterable"),
    (lambda: batch.normalise([], profile="rfc3920"), ValueError, "profile"),
    (lambda: batch.normalise([], threads=0), ValueError, "at least 1"),
    (lambda: batch.normalise([], threads=True), TypeError, "threads"),
    (lambda: batch.normalise([], bare=1), TypeError, "bare"),
    (lambda: batch.normalise([], parts="yes"), TypeError, "parts"),
    (lambda: batch.group(["a", 1.5]), TypeError, "row 1"),
    (lambda: batch.message(len(batch.KINDS)), ValueError, "no error kind"),
    (lambda: batch.message(-1), ValueError, "no error kind"),
    (lambda: batch.message("1"), TypeError, "kind"),
])
def test_bad_arguments_raise_and_give_nothing(call, error, text):
    with pytest.raises(error, match=text.replace("(", r"\(").replace(")", r"\)")):
        call()


def test_any_iterable_and_a_tuple_as_a_list():
    values = ["A@b", None, "c@@"]
    expected = batch.normalise(values).text
    assert batch.normalise(tuple(values)).text == expected
    assert batch.normalise(iter(values)).text == expected
    assert batch.normalise(v for v in values).text == expected


def test_already_normalised_rows_give_the_input_str_back():
    value = "juliet@example.com"
    assert batch.normalise([value]).text[0] is value
    # A str subclass gives a plain str, as str(JID(v)) does.
    class Text(str):
        pass
    out = batch.normalise([Text(value)]).text[0]
    assert type(out) is str and out == value


@pytest.mark.parametrize("profile", sorted(PROFILES))
@pytest.mark.parametrize("bare", [False, True])
def test_groups_as_the_per_object_route(profile, bare):
    rows = CORPUS + [v.upper() if v else v for v in CORPUS[:300]]
    grouped = batch.group(rows, bare=bare, profile=profile)
    texts = [reference(v, bare, profile)[0] for v in rows]
    order: dict[str, int] = {}
    for t in texts:
        if t is not None:
            order.setdefault(t, len(order))
    assert grouped.ids == [None if t is None else order[t] for t in texts]
    assert grouped.texts == list(order)
    assert grouped.counts == [texts.count(t) for t in order]
    assert batch.dedupe(rows, bare=bare, profile=profile) == list(order)
    assert len(grouped) == len(order)


def test_other_threads_may_change_the_list_while_it_is_normalised():
    # The route holds every item while the lock is released; a thread that
    # empties and refills the list meanwhile changes nothing read.
    rows = [f"User{i}@Example.com" for i in range(3 * _batch.MIN_CHUNK_ROWS)]
    expected = [v.lower() for v in rows]
    stop = threading.Event()

    def churn():
        while not stop.is_set():
            saved = rows[:]
            rows.clear()
            rows.extend(saved)

    worker = threading.Thread(target=churn)
    worker.start()
    try:
        for _ in range(3):
            result = batch.normalise(rows, threads=2)
            assert result.text == expected[:len(result.text)]
    finally:
        stop.set()
        worker.join()


def test_the_package_names_the_module():
    assert quorvel.batch is batch
    assert "batch" in quorvel.__all__

"""Equality, hashing, str/repr, and saving and restoring a JID."""

import copy
import operator
import pickle

import pytest
from conftest import IDNA, TOO_MANY_ATS, snapshot

from quorvel.jid import JID, InvalidJID

ORDERING = [operator.lt, operator.le, operator.gt, operator.ge]


@pytest.mark.parametrize(
    "left, right, equal",
    [
        (JID("a@b"), JID("A@B"), True),
        (JID("a@b"), "A@B", True),
        ("a@b", JID("a@b"), True),
        (JID("A@B./C"), "a@b/C", True),
        (JID("a@b/C"), "a@b/c", False),
        (JID("a@b"), JID("a@b/r"), False),
        (JID("a@b"), JID("a@c"), False),
        (JID("a@b"), JID(), False),
        (JID(), JID(), True),
        (JID(), None, True),
        (JID(), "", True),
        (None, JID(), True),
        (JID("a@b"), None, False),
        (JID("a@b"), "", False),
    ],
)
def test_equality(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is (not equal)


@pytest.mark.parametrize("length", [1, 2, 7, 8, 9, 15, 16, 17, 24, 31, 32, 33, 40, 100])
def test_equality_of_jids_looks_at_every_byte(length):
    # The comparison of two JIDs reads texts of up to 32 bytes in words and
    # blocks; a difference in any one byte, at either end or inside, counts.
    node = "".join("abcdefghij"[k % 10] for k in range(length))
    jid, same = JID(node + "@d"), JID(node + "@d")
    assert jid == same and not (jid != same)
    for k in range(length):
        other = JID(node[:k] + "z" + node[k + 1:] + "@d")
        assert jid != other and not (jid == other), k
    assert jid != JID(node + "@e") and jid != JID(node + "a@d") and JID(node + "a@d") != jid


@pytest.mark.parametrize("other", ["a@@b", "a@b/", "\ud800@b", 5, b"a@b", ["a@b"], object()])
@pytest.mark.parametrize("op", [operator.eq, operator.ne, *ORDERING])
def test_unconvertible_operand_is_never_equal_and_never_raises(other, op):
    assert op(JID("a@b"), other) is False


@pytest.mark.parametrize("other", [JID("c@d"), "c@d", "", None, JID("a@b")])
@pytest.mark.parametrize("op", ORDERING)
def test_ordering_is_not_implemented(other, op):
    with pytest.raises(NotImplementedError) as info:
        op(JID("a@b"), other)
    assert info.value.args == ("Only == and != are implemented",)


@pytest.mark.parametrize(
    "jid, text",
    [(JID(), ""), (JID("A@B"), "a@b"), (JID("A@B/C"), "a@b/C"), (JID("Example.COM."), "example.com")],
)
def test_hash_is_the_hash_of_the_normalised_text(jid, text):
    assert hash(jid) == hash(text) == hash(JID(text))
    assert {jid, text} == {text}  # equal and same hash: one element


def test_empty_hash_is_zero():
    assert hash(JID()) == 0


@pytest.mark.parametrize(
    "text, expected_str, expected_repr",
    [
        ("", "", "JID()"),
        ("A@B/C", "a@b/C", "JID('a@b/C')"),
        ("b", "b", "JID('b')"),
        ("a@b/it's \\ \"q\"", "a@b/it's \\ \"q\"", "JID('a@b/it's \\ \"q\"')"),
        ("\u00e4@b/\u00fc", "\u00e4@b/\u00fc", "JID('\u00e4@b/\u00fc')"),
    ],
)
def test_text_forms(text, expected_str, expected_repr):
    jid = JID(text)
    assert str(jid) == expected_str == jid.full
    assert repr(jid) == expected_repr


@pytest.mark.parametrize("text, state", [("", None), ("A@B/C", "a@b/C"), ("b.", "b")])
def test_getstate(text, state):
    assert JID(text).__getstate__() == state


@pytest.mark.parametrize("start", ["", "a@b/c"])
@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda j: j.__setstate__(None), ""),
        (lambda j: j.__setstate__("X@Y/Z"), "x@y/Z"),
        (lambda j: j.__setstate__(state="x@y"), "x@y"),
    ],
)
def test_setstate(start, call, expected):
    jid = JID(start)
    assert call(jid) is None
    assert snapshot(jid) == snapshot(JID(expected))


@pytest.mark.parametrize("start", ["", "a@b/c"])
@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((5,), {}, TypeError, "'int' object is not an instance of 'str'"),
        ((b"a@b",), {}, TypeError, "'bytes' object is not an instance of 'str'"),
        (("\ud800",), {}, UnicodeEncodeError, None),
        (("",), {}, InvalidJID, IDNA),
        (("a@@b",), {}, InvalidJID, TOO_MANY_ATS),
        ((), {}, TypeError, "JID.__setstate__() missing 1 required positional argument: 'state'"),
        (("a", "b"), {}, TypeError, "JID.__setstate__() takes 1 positional argument but 2 were given"),
        ((), {"stat": "a"}, TypeError, "JID.__setstate__() got an unexpected keyword argument 'stat'"),
        (("a",), {"state": "b"}, TypeError, "JID.__setstate__() got multiple values for argument 'state'"),
    ],
)
def test_setstate_refused(start, args, kwargs, error, message):
    jid = JID(start)
    before = snapshot(jid)
    with pytest.raises(error) as info:
        jid.__setstate__(*args, **kwargs)
    assert type(info.value) is error
    if message is not None:
        assert info.value.args == (message,)
    assert not hasattr(info.value, "__notes__")
    assert snapshot(jid) == before


COPIERS = [lambda j, p=p: pickle.loads(pickle.dumps(j, protocol=p)) for p in range(2, 6)]
COPIERS += [copy.copy, copy.deepcopy]


@pytest.mark.parametrize("text", ["", "A@B/C", "b", "a@b", "b/r@s/t", "\u00e4@b\u00fccher.example/\u00fc"])
@pytest.mark.parametrize("copier", COPIERS, ids=["pickle2", "pickle3", "pickle4", "pickle5", "copy", "deepcopy"])
def test_pickle_and_copy(text, copier):
    original = JID(text)
    clone = copier(original)
    assert type(clone) is JID and clone is not original
    assert snapshot(clone) == snapshot(original)
    if clone:
        clone.resource = "changed"
        assert snapshot(original) == snapshot(JID(text))


@pytest.mark.parametrize("text, own, restored", [
    ("\u2c7d@b", "V@b", "v@b"),
    ("a@\u2c7d.example/R", "a@V.example/R", "a@v.example/R"),
    ("\u1d2c\u0301@b", "\u00c1@b", "\u00e1@b"),
    ("\u1d35\u0307@b", "\u0130@b", "i\u0307@b"),
])
@pytest.mark.parametrize("copier", COPIERS, ids=["pickle2", "pickle3", "pickle4", "pickle5", "copy", "deepcopy"])
def test_saved_text_that_reads_back_otherwise(text, own, restored, copier):
    # Characters newer than the case-folding table that normalise to
    # capitals: the state is the stored text, and restoring parses it, which
    # folds the capitals. JID(jid) copies the value itself.
    jid = JID(text)
    assert jid.__getstate__() == own
    clone = copier(jid)
    assert str(clone) == restored and clone != jid and clone == JID(own)
    assert JID(jid) == jid and str(JID(jid)) == own


def test_unstable_preparation_is_folded_again_when_restored():
    # U+1CCD6 prepares to a capital 'A' (no case folding for characters newer
    # than Unicode 3.2); preparing the stored text again folds it.
    jid = JID("\U0001ccd6@b")
    assert str(jid) == "A@b"
    restored = pickle.loads(pickle.dumps(jid))
    assert str(restored) == "a@b" and restored != jid

"""The fast routes give what the general ones give.

JID(...) reaches the constructor through the type's vectorcall entry point;
JID.__new__(JID, ...) and type.__call__(JID, ...) go through tp_new. Every
call below must end the same way on each route: the same value, or the same
exception type, arguments and notes. Comparing with a str that is a JID's
own ASCII text skips the parse, and JID == JID reads both values directly;
the answers must be those of parsing the text and comparing the texts.
"""

import pickle

import pytest

from quorvel.jid import JID, InvalidJID
from refold import compare_by_parsing


class Text(str):
    pass


class Flag:
    def __bool__(self):
        return True


ARGUMENTS = [
    ((), {}),
    (("user@example.com/res",), {}),
    (("User@Example.COM./Home",), {"bare": True}),
    ((), {"jid": "a@b/c", "bare": False}),
    ((), {"bare": True, "jid": "a@b/c"}),
    (("a@b/c", True), {}),
    ((JID("a@b/c"),), {"bare": True}),
    ((None,), {}),
    ((Text("A@B/C"),), {}),
    (("j\u00fcrgen@m\u00fcnchen.example/r",), {}),
    (("a@b@c",), {}),
    (("@b",), {}),
    (("\ud800",), {}),
    ((b"a@b",), {}),
    ((12,), {}),
    (("a@b", None), {}),
    (("a@b", 1), {}),
    (("a@b", Flag()), {}),
    ((12,), {"bare": 3}),
    (("a", True, 3), {}),
    (("a",), {"jid": "b"}),
    ((), {"bar": True}),
    ((), {"jid": "a", "other": 1, "more": 2}),
    (("a",), {"bare": True, "jid": "b"}),
]


def outcome(call, args, kwargs):
    try:
        result = call(*args, **kwargs)
    except BaseException as exc:  # noqa: BLE001 - the exception is the result
        return ("raised", type(exc), exc.args, getattr(exc, "__notes__", None))
    return ("returned", type(result), str(result), bool(result))


@pytest.mark.parametrize("args, kwargs", ARGUMENTS)
def test_every_route_agrees(args, kwargs):
    via_vectorcall = outcome(JID, args, kwargs)
    via_new = outcome(lambda *a, **k: JID.__new__(JID, *a, **k), args, kwargs)
    via_type_call = outcome(lambda *a, **k: type.__call__(JID, *a, **k), args, kwargs)
    assert via_vectorcall == via_new == via_type_call


def test_routes_that_call_through_c():
    # map() and pickle call the type from C, through vectorcall as well.
    texts = ["A@B/C", "b", "x@y"]
    assert [str(j) for j in map(JID, texts)] == ["a@b/C", "b", "x@y"]
    jid = JID("a@b/c")
    assert pickle.loads(pickle.dumps(jid)) == jid


# Addresses for every route of ==/!=. The last group stores a text that names
# another address: normalisation turned a character newer than the
# case-folding table into a capital (U+2C7D MODIFIER LETTER CAPITAL V gives
# 'V'; U+1D2C MODIFIER LETTER CAPITAL A with U+0301 gives U+00C1; U+1D35 with
# U+0307 gives U+0130), and parsing that text folds it.
ADDRESSES = [
    "user@example.com/res",
    "User@Example.COM./Home",
    "example.com",
    "a@192.168.0.1/r",
    "a@[::1]",
    "a@[2001:DB8::1]/r",  # kept with its capitals, and stable
    "a@xn--mnchen-3ya.de",
    "a@b/c@d/e",
    "b/a@c",
    "\uff21@\uff25xample.com",  # fullwidth letters that prepare to ASCII
    "j\u00fcrgen@m\u00fcnchen.example/r\u00e9sum\u00e9",
    "\u00c4\u00df@B\u00fccher.Example/\ufb01",
    "x@example.com/\u2c7d",  # a resource is not folded, so its 'V' is stable
    "\u2c7d@example.com",
    "a@\u2c7d.example",
    "\u2c7d@\u2c7d.example/Res",
    "\u2c7d.example/r",
    "\u1d2c\u0301@b",
    "a@\u1d2c\u0301.example",
    "\u1d35\u0307@b",
]


def candidates(jid):
    own = str(jid)
    texts = [own, Text(own), "".join(own), own.lower(), own.upper(), own + ".", jid.bare, ""]
    try:
        texts.append(str(JID(own)))  # what the own text reads back as
    except InvalidJID:
        pass
    return texts


@pytest.mark.parametrize("text", ADDRESSES)
def test_equality_agrees_with_the_full_parse(text):
    jid = JID(text)
    for other in candidates(jid):
        expected = compare_by_parsing(jid, other)
        assert (jid == other, jid != other) == expected, other
        assert (other == jid, other != jid) == expected, other  # reflected
        try:
            parsed = JID(other)
        except (InvalidJID, UnicodeEncodeError):
            continue
        assert (jid == parsed, jid != parsed) == expected, other


@pytest.mark.parametrize(
    "text, own, read_back",
    [
        ("\u2c7d@example.com", "V@example.com", "v@example.com"),
        ("a@\u2c7d.example", "a@V.example", "a@v.example"),
        ("\u1d2c\u0301@b", "\u00c1@b", "\u00e1@b"),
    ],
)
def test_own_text_that_names_another_address(text, own, read_back):
    jid = JID(text)
    assert str(jid) == own
    assert (jid == own, jid != own) == (False, True)
    assert (own == jid, own != jid) == (False, True)
    assert str(JID(own)) == read_back and jid == text


@pytest.mark.parametrize(
    "text, other, eq, ne",
    [
        ("user@example.com/res", "USER@Example.com/res", True, False),
        ("user@example.com/res", "user@example.com/Res", False, True),
        ("user@example.com/res", "user@example.com", False, True),
        ("user@example.com", "user@example.com.", True, False),
        ("user@example.com", "", False, True),
        # Text that is no address is unequal: != stays the negation of ==.
        ("user@example.com", "a@b@c", False, True),
        ("user@example.com", "\ud800", False, True),
    ],
)
def test_equality_with_other_text(text, other, eq, ne):
    jid = JID(text)
    assert (jid == other) is eq
    assert (jid != other) is ne


def test_ordering_against_own_text_still_refused():
    jid = JID("a@b")
    with pytest.raises(NotImplementedError):
        jid < "a@b"  # noqa: B015


def test_replaced_constructor_still_runs():
    # Replacing __new__ or __init__ on the type must take effect on JID(...)
    # too; the fast route steps aside. Put back afterwards.
    seen = []
    original_init = JID.__init__

    def init(self, *args, **kwargs):
        seen.append(args)

    JID.__init__ = init
    try:
        JID("a@b")
    finally:
        JID.__init__ = original_init
        del JID.__init__
    assert seen == [("a@b",)]
    assert str(JID("a@b")) == "a@b"

"""The fast routes give what the general ones give.

JID(...) reaches the constructor through the type's vectorcall entry point;
JID.__new__(JID, ...) and type.__call__(JID, ...) go through tp_new. Every
call below must end the same way on each route: the same value, or the same
exception type, arguments and notes. Comparing with a str that is a JID's
own ASCII text skips the parse; the answers must not change.
"""

import pickle

import pytest

from quorvel.jid import JID


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


@pytest.mark.parametrize(
    "text",
    [
        "user@example.com/res",
        "User@Example.COM./Home",
        "example.com",
        "a@192.168.0.1/r",
        "a@[::1]",
        "a@xn--mnchen-3ya.de",
        "a@b/c@d/e",
        "b/a@c",
        "\uff21@\uff25xample.com",  # fullwidth letters that prepare to ASCII
        "j\u00fcrgen@m\u00fcnchen.example/r\u00e9sum\u00e9",
        "\u00c4\u00df@B\u00fccher.Example/\ufb01",
    ],
)
def test_equality_with_own_text(text):
    jid = JID(text)
    own = str(jid)
    # A distinct but equal str object, and a subclass, compare like the text.
    assert jid == own and not (jid != own)
    assert jid == Text(own) and jid == "".join(own)
    assert JID(own) == jid


@pytest.mark.parametrize(
    "text, other, eq, ne",
    [
        ("user@example.com/res", "USER@Example.com/res", True, False),
        ("user@example.com/res", "user@example.com/Res", False, True),
        ("user@example.com/res", "user@example.com", False, True),
        ("user@example.com", "user@example.com.", True, False),
        ("user@example.com", "", False, True),
        # Text that is no address: both operators answer False, as before.
        ("user@example.com", "a@b@c", False, False),
        ("user@example.com", "\ud800", False, False),
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

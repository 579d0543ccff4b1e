"""JID(jid=None, bare=False): conversion, the truth value and the errors."""

import pytest
from call_support import assert_refused, fake_type
from conftest import (
    IDNA,
    NAME_PREP,
    NODE_EMPTY,
    NODE_PREP,
    NODE_TOO_LONG,
    RESOURCE_EMPTY,
    RESOURCE_PREP,
    RESOURCE_TOO_LONG,
    TOO_MANY_ATS,
)

from quorvel.jid import JID, InvalidJID


class Text(str):
    pass


@pytest.mark.parametrize(
    "make",
    [
        lambda: JID(),
        lambda: JID(None),
        lambda: JID(jid=None),
        lambda: JID(""),
        lambda: JID("", True),
        lambda: JID(jid="", bare=True),
        lambda: JID(None, bare=True),
        lambda: JID(JID()),
        lambda: JID(JID(), True),
    ],
)
def test_empty_jid(make):
    jid = make()
    assert not jid
    assert str(jid) == "" and jid.domain == ""
    assert jid == JID()


@pytest.mark.parametrize(
    "text, bare, expected",
    [
        ("User@Example.COM./Home", False, "user@example.com/Home"),
        ("User@Example.COM./Home", True, "user@example.com"),
        ("b", False, "b"),
        ("b/c", True, "b"),
        ("a/b@c", False, "a/b@c"),
        ("x" * 1023 + "@b", False, "x" * 1023 + "@b"),
        ("\u00c4\u00df@B\u00fccher.Example/\ufb01", False, "\u00e4ss@b\u00fccher.example/fi"),
        (Text("A@B/C"), False, "a@b/C"),
        # The domain's hyphen rule counts characters, not UTF-16 units: the
        # hyphens here are the second and third characters.
        ("\U00020000--a.example", False, "\U00020000--a.example"),
    ],
)
def test_from_text(text, bare, expected):
    jid = JID(text, bare)
    assert jid and str(jid) == expected
    assert type(str(jid)) is str


@pytest.mark.parametrize("source", ["a@b/c", "b/c", "a@b", "b"])
def test_from_jid_copies_without_sharing(source):
    original = JID(source)
    full, bare = JID(original), JID(original, bare=True)
    assert full == original and full is not original
    assert str(bare) == original.bare and bare.resource == ""
    full.node = "other"
    bare.domain = "elsewhere"
    assert str(original) == source


@pytest.mark.parametrize(
    "text, message",
    [
        ("a@b@c/d", TOO_MANY_ATS),
        ("@b/", NODE_EMPTY),
        ("a@b/", RESOURCE_EMPTY),
        ("x" * 1024 + "@b", NODE_TOO_LONG),
        ("b/" + "r" * 1024, RESOURCE_TOO_LONG),
        ("a:b@c", NODE_PREP),
        ("\u0627\u0628\u062a.example", NAME_PREP),
        ("a@b/\U0001f600", RESOURCE_PREP),
        ("a@/c", IDNA),
        # ...and here the third and fourth.
        ("\U00020000a--b.example", IDNA),
        # Embedded NUL characters are part of the text, not its end.
        ("a@b\x00c", IDNA),
        ("a\x00@b", NODE_PREP),
        ("a@b/c\x00", RESOURCE_PREP),
    ],
)
@pytest.mark.parametrize("bare", [False, True])
def test_invalid_text(text, message, bare):
    with pytest.raises(InvalidJID) as info:
        JID(text, bare=bare)
    assert info.value.args == (message,)
    assert str(info.value) == message
    assert isinstance(info.value, ValueError)


@pytest.mark.parametrize("name", ["bool_", "bool"])
@pytest.mark.parametrize("value", [True, False])
def test_numpy_bool_is_accepted(name, value):
    assert str(JID("a@b/c", bare=fake_type("numpy", name)(value))) == ("a@b" if value else "a@b/c")


def test_numpy_bool_failure_keeps_its_error_and_gets_the_note():
    with pytest.raises(ZeroDivisionError) as info:
        JID("a@b", bare=fake_type("numpy", "bool_")(ZeroDivisionError("no")))
    assert info.value.__notes__ == ["while processing 'bare'"]


def test_real_numpy_bool():
    np = pytest.importorskip("numpy")
    assert str(JID("a@b/c", bare=np.bool_(True))) == "a@b"
    assert str(JID("a@b/c", bare=np.bool_(False))) == "a@b/c"


@pytest.mark.parametrize(
    "args, kwargs, error, message, notes",
    [
        ((b"a@b",), {}, TypeError, "'bytes' object is not an instance of 'str'", None),
        ((5,), {}, TypeError, "'int' object is not an instance of 'str'", None),
        ((), {"jid": ["a@b"]}, TypeError, "'list' object is not an instance of 'str'", None),
        (("a@b", 1), {}, TypeError, "'int' object is not an instance of 'bool'", ["while processing 'bare'"]),
        (("a@b", 0), {}, TypeError, "'int' object is not an instance of 'bool'", ["while processing 'bare'"]),
        (("a@b", None), {}, TypeError, "'None' is not an instance of 'bool'", ["while processing 'bare'"]),
        ((5, "x"), {}, TypeError, "'str' object is not an instance of 'bool'", ["while processing 'bare'"]),
        (
            ("a@b",),
            {"bare": fake_type("numpy", "int64")(True)},
            TypeError,
            "'int64' object is not an instance of 'bool'",
            ["while processing 'bare'"],
        ),
        (
            ("a@b",),
            {"bare": fake_type("numpyish", "bool_")(True)},
            TypeError,
            "'bool_' object is not an instance of 'bool'",
            ["while processing 'bare'"],
        ),
        (("a", True, 3), {}, TypeError, "JID.__new__() takes from 0 to 2 positional arguments but 3 were given", None),
        ((1, 2, 3, 4), {}, TypeError, "JID.__new__() takes from 0 to 2 positional arguments but 4 were given", None),
        (("a",), {"jid": "b"}, TypeError, "JID.__new__() got multiple values for argument 'jid'", None),
        (("a", True), {"bare": True}, TypeError, "JID.__new__() got multiple values for argument 'bare'", None),
        ((), {"node": "a"}, TypeError, "JID.__new__() got an unexpected keyword argument 'node'", None),
        ((), {"jid": "a", "b\u00e4re": True}, TypeError, "JID.__new__() got an unexpected keyword argument 'b\u00e4re'", None),
        (("\ud800@b",), {}, UnicodeEncodeError, None, None),
    ],
)
def test_argument_errors(args, kwargs, error, message, notes):
    assert_refused(lambda: JID(*args, **kwargs), error, message, notes)


def test_truth_value():
    assert JID("b") and JID("a@b/c") and not JID()
    assert JID("a@b").__bool__() is True

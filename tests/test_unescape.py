"""unescape_node: undoing XEP-0106 escapes in a localpart."""

import pytest
from call_support import assert_refused
from conftest import NODE_EMPTY, NODE_PREP, NODE_TOO_LONG

from quorvel.jid import InvalidJID, unescape_node

BS = "\\"


@pytest.mark.parametrize(
    "node, expected",
    [
        ("foo", "foo"),
        ("Foo", "foo"),
        ("foo\\20bar", "foo bar"),
        ("a\\20b", "a b"),
        ("a\\40b", "a@b"),
        ("a\\2fb", "a/b"),
        ("a\\2Fb", "a/b"),
        ("Foo\\3A", "foo:"),
        ("\\5c", BS),
        ("\\5C\\5c", BS * 2),
        ("x\\22\\26\\27\\2f\\3a\\3c\\3e\\40\\5cx", 'x"&\'/:<>@' + BS + "x"),
        # Not one of the ten sequences: kept, and what follows is looked at afresh.
        ("foo\\21", "foo\\21"),
        ("\\\\5c", BS * 2),
        ("\\5c20", BS + "20"),
        ("\\5c\\20x", BS + " x"),
        # A backslash without a complete pair after it stays as it is.
        (BS, BS),
        ("a" + BS, "a" + BS),
        ("a\\2", "a\\2"),
        ("a\\\\", "a" + BS * 2),
        ("\u00c4\\20\u00d6", "\u00e4 \u00f6"),
        ("\u00e4" * 3 + "\\40", "\u00e4" * 3 + "@"),
        ("x" * 1020 + "\\40", "x" * 1020 + "@"),
    ],
)
def test_unescape(node, expected):
    assert unescape_node(node) == expected
    assert unescape_node(node=node) == expected


@pytest.mark.parametrize(
    "node, message",
    [
        ("\\20foo", NODE_PREP),
        ("foo\\20", NODE_PREP),
        ("\\20", NODE_PREP),
        ("\\20\\5c", NODE_PREP),
        ("", NODE_EMPTY),
        ("\u00ad", NODE_EMPTY),
        ("a b", NODE_PREP),
        ("a@b", NODE_PREP),
        ("a/b", NODE_PREP),
        ("x" * 1024, NODE_TOO_LONG),
    ],
)
def test_refused(node, message):
    with pytest.raises(InvalidJID) as info:
        unescape_node(node)
    assert info.value.args == (message,)


@pytest.mark.parametrize(
    "args, kwargs, error, message, notes",
    [
        ((5,), {}, TypeError, "'int' object is not an instance of 'str'", ["while processing 'node'"]),
        ((None,), {}, TypeError, "'None' is not an instance of 'str'", ["while processing 'node'"]),
        ((), {"node": b"a"}, TypeError, "'bytes' object is not an instance of 'str'", ["while processing 'node'"]),
        (("\ud800",), {}, UnicodeEncodeError, None, ["while processing 'node'"]),
        ((), {}, TypeError, "unescape_node() missing 1 required positional argument: 'node'", None),
        (("a", "b"), {}, TypeError, "unescape_node() takes 1 positional argument but 2 were given", None),
        ((), {"nod": "a"}, TypeError, "unescape_node() got an unexpected keyword argument 'nod'", None),
        (("a",), {"node": "b"}, TypeError, "unescape_node() got multiple values for argument 'node'", None),
    ],
)
def test_argument_errors(args, kwargs, error, message, notes):
    assert_refused(lambda: unescape_node(*args, **kwargs), error, message, notes)

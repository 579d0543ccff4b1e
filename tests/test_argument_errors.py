"""Bad arguments to the public functions outside quorvel.jid (quorvel.uri and
quorvel.escape_node), refused as quorvel.jid refuses its own:

- a call that does not bind names the public function, as the interpreter
  words it ("parse() missing 1 required positional argument: 'uri'");
- a value of the wrong type is a TypeError "'int' object is not an instance
  of 'str'" ("'None' is not ..." for None) with the note "while processing
  '<parameter>'";
- a value of the right type that cannot be is a ValueError saying why.
"""

import pytest
from call_support import assert_refused, fake_type

from quorvel import escape_node
from quorvel.jid import JID
from quorvel.uri import XmppUri, build, parse


def _note(name):
    return [f"while processing '{name}'"]


def _not(kind, expected):
    return f"{kind} is not an instance of {expected}"


# (function, args, kwargs, error, message, notes)
CALLS = [
    (parse, (), {}, TypeError, "parse() missing 1 required positional argument: 'uri'", None),
    (parse, ("xmpp:a@b", "x"), {}, TypeError, "parse() takes 1 positional argument but 2 were given", None),
    (parse, (), {"text": "xmpp:a@b"}, TypeError, "parse() got an unexpected keyword argument 'text'", None),
    (parse, ("xmpp:a@b",), {"uri": "xmpp:a@b"}, TypeError, "parse() got multiple values for argument 'uri'",
     None),
    (parse, (None,), {}, TypeError, _not("'None'", "'str'"), _note("uri")),
    (parse, (5,), {}, TypeError, _not("'int' object", "'str'"), _note("uri")),
    (parse, (), {"uri": b"xmpp:a@b"}, TypeError, _not("'bytes' object", "'str'"), _note("uri")),
    (escape_node, (), {}, TypeError, "escape_node() missing 1 required positional argument: 'text'", None),
    (escape_node, ("a", "b"), {}, TypeError, "escape_node() takes 1 positional argument but 2 were given",
     None),
    (escape_node, (), {"node": "a"}, TypeError, "escape_node() got an unexpected keyword argument 'node'",
     None),
    (escape_node, (None,), {}, TypeError, _not("'None'", "'str'"), _note("text")),
    (escape_node, (), {"text": 5}, TypeError, _not("'int' object", "'str'"), _note("text")),
    (build, (), {}, TypeError, "build() missing 1 required positional argument: 'jid'", None),
    (build, ("a@b", "message"), {}, TypeError, "build() takes 1 positional argument but 2 were given", None),
    (build, ("a@b",), {"act": "m"}, TypeError, "build() got an unexpected keyword argument 'act'", None),
    (build, (5,), {}, TypeError, _not("'int' object", "'JID' or 'str'"), _note("jid")),
    (build, (b"a@b",), {}, TypeError, _not("'bytes' object", "'JID' or 'str'"), _note("jid")),
    (build, ("a\ud800@b",), {}, UnicodeEncodeError, None, _note("jid")),
    (build, ("a@b",), {"authority": 5}, TypeError, _not("'int' object", "'JID' or 'str'"), _note("authority")),
    (build, ("a@b",), {"authority": "g\ud800@b"}, UnicodeEncodeError, None, _note("authority")),
    (build, ("a@b",), {"action": 5}, TypeError, _not("'int' object", "'str'"), _note("action")),
    (build, ("a@b",), {"action": "\ud800"}, UnicodeEncodeError, None, _note("action")),
    (build, ("a@b",), {"iri": None}, TypeError, _not("'None'", "'bool'"), _note("iri")),
    (build, ("a@b",), {"iri": 1}, TypeError, _not("'int' object", "'bool'"), _note("iri")),
    (build, ("a@b",), {"iri": "yes"}, TypeError, _not("'str' object", "'bool'"), _note("iri")),
    # Characters are not pairs, and a pair is a tuple of exactly two strs.
    (build, ("a@b",), {"action": "m", "params": ["ab", "cd"]}, TypeError, _not("'str' object", "'tuple'"),
     _note("params")),
    (build, ("a@b",), {"action": "m", "params": "k=v"}, TypeError, _not("'str' object", "'tuple'"),
     _note("params")),
    (build, ("a@b",), {"action": "m", "params": [["k", "v"]]}, TypeError, _not("'list' object", "'tuple'"),
     _note("params")),
    (build, ("a@b",), {"action": "m", "params": [("a",)]}, ValueError,
     "a query parameter is a (key, value) pair, not 1 item", None),
    (build, ("a@b",), {"action": "m", "params": [("k", "v"), ("a", "b", "c")]}, ValueError,
     "a query parameter is a (key, value) pair, not 3 items", None),
    (build, ("a@b",), {"action": "m", "params": [("k", 5)]}, TypeError, _not("'int' object", "'str'"),
     _note("params")),
    (build, ("a@b",), {"action": "m", "params": {"k": None}}, TypeError, _not("'None'", "'str'"),
     _note("params")),
    (build, ("a@b",), {"action": "m", "params": {5: "v"}}, TypeError, _not("'int' object", "'str'"),
     _note("params")),
    (build, ("a@b",), {"action": "m", "params": 5}, TypeError, _not("'int' object", "'Mapping' or 'Iterable'"),
     _note("params")),
    (build, ("a@b",), {"action": "m", "params": [("k", "\ud800")]}, UnicodeEncodeError, None, _note("params")),
    # A wrong type is found before a missing action would be.
    (build, ("a@b",), {"params": [("k",)]}, ValueError, "a query parameter is a (key, value) pair, not 1 item",
     None),
    (build, ("a@b",), {"params": [("k", "v")], "iri": 0}, TypeError, _not("'int' object", "'bool'"),
     _note("iri")),
]


@pytest.mark.parametrize("function, args, kwargs, error, message, notes", CALLS)
def test_a_bad_call_is_refused_in_the_modules_wording(function, args, kwargs, error, message, notes):
    assert_refused(lambda: function(*args, **kwargs), error, message, notes)


def test_the_same_arguments_given_well_are_taken():
    assert parse(uri="xmpp:a@b") == parse("xmpp:a@b") == XmppUri(JID("a@b"))
    assert escape_node(text="a b") == "a\\20b"
    assert build("a@b", action="m", params=(("k", "v"),), iri=True) == "xmpp:a@b?m;k=v"
    assert build("a@b", action="m", params={"k": "v"}.items()) == "xmpp:a@b?m;k=v"


@pytest.mark.parametrize("name", ["bool_", "bool"])
def test_iri_takes_numpys_booleans_as_quorvel_jid_does(name):
    scalar = fake_type("numpy", name)
    assert build("\u00e9@b", iri=scalar(True)) == "xmpp:\u00e9@b"
    assert build("\u00e9@b", iri=scalar(False)) == "xmpp:%C3%A9@b"
    with pytest.raises(ZeroDivisionError) as info:
        build("a@b", iri=scalar(ZeroDivisionError("no")))
    assert info.value.__notes__ == _note("iri")
    elsewhere = fake_type("other", name)
    with pytest.raises(TypeError) as info:
        build("a@b", iri=elsewhere(True))
    assert str(info.value) == f"'{name}' object is not an instance of 'bool'"

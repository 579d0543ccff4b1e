"""The eleven attributes: reading, assigning, and atomicity of assignment."""

import pytest

from conftest import snapshot
from quorvel.jid import JID, InvalidJID
from conftest import IDNA, NODE_EMPTY, NODE_PREP, RESOURCE_EMPTY, RESOURCE_TOO_LONG, TOO_MANY_ATS
from refold import may_fold_again

NAMES = ["full", "jid", "bare", "node", "user", "local", "username", "domain", "server", "host", "resource"]
GROUP = {
    "full": "full", "jid": "full", "bare": "bare",
    "node": "node", "user": "node", "local": "node", "username": "node",
    "domain": "domain", "server": "domain", "host": "domain", "resource": "resource",
}  # fmt: skip

# address -> what each group reads
READS = {
    "": {"full": "", "bare": "", "node": "", "domain": "", "resource": ""},
    "b": {"full": "b", "bare": "b", "node": "", "domain": "b", "resource": ""},
    "a@b": {"full": "a@b", "bare": "a@b", "node": "a", "domain": "b", "resource": ""},
    "b/c": {"full": "b/c", "bare": "b", "node": "", "domain": "b", "resource": "c"},
    "a@b/c": {"full": "a@b/c", "bare": "a@b", "node": "a", "domain": "b", "resource": "c"},
    "a@b/c@d/e": {"full": "a@b/c@d/e", "bare": "a@b", "node": "a", "domain": "b", "resource": "c@d/e"},
}


@pytest.mark.parametrize("address", list(READS))
@pytest.mark.parametrize("name", NAMES)
def test_read(address, name):
    value = getattr(JID(address), name)
    assert type(value) is str
    assert value == READS[address][GROUP[name]]


@pytest.mark.parametrize(
    "start, names, value, expected",
    [
        ("a@b/c", ["full", "jid"], "X@Y/Z", "x@y/Z"),
        ("", ["full", "jid"], "x@y", "x@y"),
        ("a@b/c", ["bare"], "X@Y.", "x@y/c"),
        ("a@b", ["bare"], "x@y", "x@y"),
        ("", ["bare"], "x@y", "x@y"),
        ("b/c", ["node", "user", "local", "username"], "A", "a@b/c"),
        ("a@b", ["node", "user", "local", "username"], "\u00c4", "\u00e4@b"),
        ("a@b/c", ["node", "user", "local", "username"], None, "b/c"),
        ("b/c", ["node", "user", "local", "username"], None, "b/c"),
        ("", ["node", "user", "local", "username"], None, ""),
        ("a@b/c", ["domain", "server", "host"], "X.", "a@x/c"),
        ("a@b", ["domain", "server", "host"], "Example.COM", "a@example.com"),
        ("b/c", ["domain", "server", "host"], "[::1]", "[::1]/c"),
        ("", ["domain", "server", "host"], "b", "b"),
        ("a@b", ["resource"], "R", "a@b/R"),
        ("b", ["resource"], "r/s@t", "b/r/s@t"),
        ("a@b/c", ["resource"], "d", "a@b/d"),
        ("a@b/c", ["resource"], None, "a@b"),
        ("a@b", ["resource"], None, "a@b"),
        ("", ["resource"], None, ""),
    ],
)
def test_assign(start, names, value, expected):
    for name in names:
        jid = JID(start)
        setattr(jid, name, value)
        assert str(jid) == expected
        # The stored parts agree with a fresh parse of the text, which gives
        # them back since none holds a character that case folding maps.
        assert not may_fold_again(jid.node) and not may_fold_again(jid.domain)
        assert jid == JID(expected)
        assert snapshot(jid) == snapshot(JID(expected))


# Assigning a part whose prepared form holds a capital made by normalisation
# (U+2C7D gives 'V'; U+1D2C U+0301 gives U+00C1): the value is what parsing
# the whole address with that part gives, and its own text, parsed, folds the
# capital and so is another address.
@pytest.mark.parametrize(
    "start, names, value, expected, whole",
    [
        ("a@b/c", ["node", "user", "local", "username"], "\u2c7d", "V@b/c", "\u2c7d@b/c"),
        ("a@b/c", ["domain", "server", "host"], "\u2c7d.example", "a@V.example/c", "a@\u2c7d.example/c"),
        ("a@b/c", ["full", "jid"], "\u1d2c\u0301@\u2c7d/\u2c7d", "\u00c1@V/V", "\u1d2c\u0301@\u2c7d/\u2c7d"),
        ("a@b/c", ["bare"], "\u2c7d@b", "V@b/c", "\u2c7d@b/c"),
    ],
)
def test_assign_part_that_reads_back_otherwise(start, names, value, expected, whole):
    for name in names:
        jid = JID(start)
        setattr(jid, name, value)
        assert str(jid) == expected
        assert jid == JID(whole) and snapshot(jid) == snapshot(JID(whole))
        assert jid != JID(expected) and jid != expected


DELETE = object()


def _refused(start, name, value, error, message, notes):
    jid = JID(start)
    before = snapshot(jid)
    with pytest.raises(error) as info:
        if value is DELETE:
            delattr(jid, name)
        else:
            setattr(jid, name, value)
    assert type(info.value) is error
    if message is not None:
        assert info.value.args == (message,)
    assert getattr(info.value, "__notes__", None) == notes
    assert snapshot(jid) == before


@pytest.mark.parametrize(
    "start, name, value, message",
    [
        ("a@b/c", "bare", "x@y/z", "resource found while parsing a bare JID"),
        ("a@b/c", "bare", "x@y/", RESOURCE_EMPTY),
        ("", "bare", "a@b@c", TOO_MANY_ATS),
        ("a@b/c", "jid", "a@b@c", TOO_MANY_ATS),
        ("a@b", "full", "", IDNA),
        ("", "full", "", IDNA),
        ("", "node", "a", "JID.node must apply to a proper JID"),
        ("", "username", "", NODE_EMPTY),
        ("a@b", "node", "", NODE_EMPTY),
        ("a@b", "local", "a b", NODE_PREP),
        ("a@b", "user", "a@c", NODE_PREP),
        ("", "resource", "r", "JID.resource must apply to a proper JID"),
        ("", "resource", "", RESOURCE_EMPTY),
        ("a@b", "resource", "", RESOURCE_EMPTY),
        ("a@b/c", "resource", "r" * 1024, RESOURCE_TOO_LONG),
        ("a@b/c", "domain", "", IDNA),
        ("a@b/c", "server", "a..b", IDNA),
        ("", "host", "a b", IDNA),
    ],
)
def test_assign_refused_by_the_core(start, name, value, message):
    _refused(start, name, value, InvalidJID, message, None)


@pytest.mark.parametrize("start", ["", "a@b/c"])
@pytest.mark.parametrize("name", NAMES)
def test_assign_wrong_type_names_the_attribute(start, name):
    note = [f"while processing '{name}'"]
    _refused(start, name, 5, TypeError, "'int' object is not an instance of 'str'", note)
    _refused(start, name, b"a", TypeError, "'bytes' object is not an instance of 'str'", note)
    _refused(start, name, "\udc80", UnicodeEncodeError, None, note)
    if GROUP[name] in ("full", "bare", "domain"):
        _refused(start, name, None, TypeError, "'None' is not an instance of 'str'", note)


@pytest.mark.parametrize("start", ["", "a@b/c"])
@pytest.mark.parametrize("name", NAMES)
def test_delete_is_refused(start, name):
    _refused(start, name, DELETE, AttributeError, "property has no deleter", None)


def test_str_subclass_is_accepted():
    class Text(str):
        pass

    jid = JID("a@b")
    jid.resource = Text("R")
    jid.domain = Text("C")
    assert str(jid) == "a@c/R"

"""Arbitrary text (lone surrogates included) and arbitrary objects against
every entry point of quorvel.jid, under atheris.

Anything but the documented exceptions, a setter that fails and still
changes its object, or a value that does not survive str/pickle/copy is a
finding. Run by scripts/fuzz.sh with libFuzzer's options after the script,
against a build of the extension with ASan, UBSan and coverage counters, so
that libFuzzer is guided by the branches taken in the binding and the core as
well as by the harness's own.
"""

import copy
import pickle
import sys

import atheris

from quorvel.jid import JID, InvalidJID, unescape_node

MESSAGES = {
    "nodepart empty despite the presence of a @",
    "resource empty despite the presence of a /",
    "localpart longer than 1023 bytes",
    "resource longer than 1023 bytes",
    "localpart doesn\u2019t pass nodeprep validation",
    "domain doesn\u2019t pass nameprep validation",
    "resource doesn\u2019t pass resourceprep validation",
    "resource found while parsing a bare JID",
    "second @ found before parsing the resource",
    "domain doesn\u2019t pass idna validation",
    "JID.node must apply to a proper JID",
    "JID.resource must apply to a proper JID",
}
ATTRS = ["full", "jid", "bare", "node", "user", "local", "username", "domain", "server", "host", "resource"]
REMOVABLE = {"node", "user", "local", "username", "resource"}


class Text(str):
    pass


class Weird:
    def __str__(self):
        raise RuntimeError("str() of a foreign object must never be called")

    __hash__ = None


@atheris.instrument_func
def some_object(fdp):
    kind = fdp.ConsumeIntInRange(0, 11)
    if kind <= 5:
        return fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 64))
    return [
        lambda: None,
        lambda: fdp.ConsumeInt(4),
        lambda: fdp.ConsumeBytes(8),
        lambda: Text(fdp.ConsumeUnicode(16)),
        lambda: JID(),
        lambda: Weird(),
    ][kind - 6]()


@atheris.instrument_func
def check_invalid(exc):
    if isinstance(exc, InvalidJID):
        assert len(exc.args) == 1 and exc.args[0] in MESSAGES, exc.args


def state(j):
    return (bool(j), str(j), j.bare, j.node, j.domain, j.resource, hash(j))


def foldable(text):
    return text != text.lower()


@atheris.instrument_func
def check_value(j):
    s = str(j)
    assert hash(j) == (hash(s) if s else 0)
    # A capital that preparation produced is folded by the next one: the
    # known unstable case, where a text round trip changes the value.
    if foldable(j.node) or foldable(j.domain):
        return
    assert j == s and not (j != s)
    for clone in (pickle.loads(pickle.dumps(j)), copy.copy(j), copy.deepcopy(j), JID(j)):
        assert clone == j and str(clone) == s, (s, str(clone))
    if s:
        assert JID(s) == j
        assert JID(s, bare=True) == JID(j.bare)


@atheris.instrument_func
def test_one(data):
    fdp = atheris.FuzzedDataProvider(data)
    obj = some_object(fdp)
    bare = fdp.PickValueInList([False, True, None, 0, "x"])
    try:
        j = JID(obj, bare=bare) if fdp.ConsumeBool() else JID(obj)
    except (InvalidJID, TypeError, UnicodeEncodeError) as exc:
        check_invalid(exc)
        j = JID("u@example.com/r") if fdp.ConsumeBool() else JID()
    check_value(j)

    for _ in range(fdp.ConsumeIntInRange(0, 4)):
        name = fdp.PickValueInList(ATTRS)
        value = some_object(fdp)
        before = state(j)
        try:
            setattr(j, name, value)
        except (InvalidJID, TypeError, UnicodeEncodeError) as exc:
            check_invalid(exc)
            assert state(j) == before, (name, value)
            continue
        if value is None:
            assert name in REMOVABLE
        check_value(j)

    other = some_object(fdp)
    eq, ne = j == other, j != other
    assert isinstance(eq, bool) and isinstance(ne, bool)
    assert not (eq and ne)
    try:
        j < other  # noqa: B015
    except NotImplementedError:
        pass

    before = state(j)
    try:
        j.__setstate__(other)
    except (InvalidJID, TypeError, UnicodeEncodeError) as exc:
        check_invalid(exc)
        assert state(j) == before
    check_value(j)

    try:
        out = unescape_node(obj)
        assert isinstance(out, str) and out and out[0] != " " and out[-1] != " "
    except (InvalidJID, TypeError, UnicodeEncodeError) as exc:
        check_invalid(exc)


if __name__ == "__main__":
    atheris.Setup(sys.argv, test_one)
    atheris.Fuzz()

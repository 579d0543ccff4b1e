"""Arbitrary text (lone surrogates included) and arbitrary objects against
every entry point of quorvel.jid and against quorvel.uri.parse (whose native
route must read everything as its Python twin does), and arbitrary blocks of
lines against the command-line tool's native helpers in quorvel._blocks,
under atheris.

Anything but the documented exceptions, a setter that fails and still
changes its object, or a value that does not survive str/pickle/copy is a
finding. Run by scripts/fuzz.sh with libFuzzer's options after the script,
against a build of the extension with ASan, UBSan and coverage counters, so
that libFuzzer is guided by the branches taken in the binding and the core as
well as by the harness's own.
"""

import copy
import pathlib
import pickle
import sys

import atheris

from quorvel._blocks import Groups, normalise_block
from quorvel._report import PyGroups, may_read_back_otherwise
from quorvel.cli import _reader
from quorvel.jid import JID, InvalidJID, unescape_node
from quorvel.precis import JID as PrecisJID
from quorvel.uri import _parse_slowly as parse_uri_slowly
from quorvel.uri import parse as parse_uri

# The suite's account of which stored texts may read back otherwise.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tests"))
from refold import compare_by_parsing, read_back  # noqa: E402

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
    # quorvel.precis.JID's own.
    "localpart doesn\u2019t pass usernamecasemapped validation",
    "resource doesn\u2019t pass opaquestring validation",
    "domain doesn\u2019t pass idna2008 validation",
    "localpart isn\u2019t stable under usernamecasemapped",
    "resource isn\u2019t stable under opaquestring",
    "localpart holds a character RFC 7622 forbids",
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


@atheris.instrument_func
def check_value(j):
    s = str(j)
    assert hash(j) == (hash(s) if s else 0)
    clone = JID(j)
    assert clone == j and str(clone) == s
    # The text parses back to the same value, except where a localpart or
    # domain holds a character with a case-folding entry (read_back checks
    # that and that the text is never refused). Comparing with the text and
    # pickling parse it; copies keep the stored value as it is.
    again = read_back(j)
    same = str(again) == s
    assert (j == s, j != s) == compare_by_parsing(j, s) == (same, not same), s
    restored = pickle.loads(pickle.dumps(j))
    assert str(restored) == str(again) and (restored == j) == same, (s, str(restored))
    for copied in (copy.copy(j), copy.deepcopy(j)):
        assert copied is not j and str(copied) == s and copied == j and hash(copied) == hash(j), (s, str(copied))
    if s:
        assert str(JID(s, bare=True)) == again.bare


@atheris.instrument_func
def check_precis(text):
    """An RFC 7622 value is its own preparation: its text parses back to
    it exactly, and copies and pickles keep it."""
    try:
        p = PrecisJID(text)
    except (InvalidJID, UnicodeEncodeError) as exc:
        check_invalid(exc)
        return
    s = str(p)
    again = PrecisJID(s)
    assert str(again) == s and again == p and p == s and not (p != s), s
    assert hash(p) == (hash(s) if s else 0)
    for restored in (pickle.loads(pickle.dumps(p)), copy.copy(p), copy.deepcopy(p)):
        assert type(restored) is PrecisJID and str(restored) == s, s
    if s:
        assert str(PrecisJID(s, bare=True)) == p.bare


PARTS = ("full", "bare", "node", "domain", "resource")


def per_line(data, part, bare_only, kind=JID):
    """The command-line tool's per-line rules, on the lines of `data`."""
    pieces = data.split(b"\n")
    if pieces[-1] == b"":
        pieces.pop()
    out, failures, values = [], [], []
    size = 0
    for n, raw in enumerate(pieces, 1):
        if n < len(pieces) or data.endswith(b"\n"):
            raw = raw[:-1] if raw.endswith(b"\r") else raw
        if not raw or raw == b"#" or raw.startswith(b"# "):
            continue
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError:
            failures.append((size, n, raw, None))
            continue
        j = kind()
        try:
            if bare_only:
                j.bare = text
            else:
                j.full = text
        except InvalidJID as exc:
            failures.append((size, n, raw, str(exc)))
            continue
        value = getattr(j, PARTS[part]) or ""
        values.append((value, n, text))
        line = (value + "\n").encode()
        out.append(line)
        size += len(line)
    return b"".join(out), failures, values


@atheris.instrument_func
def check_block(fdp):
    """The tool's block route against its per-line rules, the native
    --dedupe groups against the Python ones, and the values they print
    without reading them back against the read-back."""
    data = fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 256))
    part = fdp.ConsumeIntInRange(0, 4)
    bare_only = fdp.ConsumeBool()
    rfc7622 = fdp.ConsumeBool()
    out, failures, valid, lines = normalise_block(data, part, bare_only, 1, None, 0, rfc7622)
    expected_out, expected_failures, values = per_line(data, part, bare_only,
                                                       PrecisJID if rfc7622 else JID)
    assert (out, failures, valid) == (expected_out, expected_failures, len(values)), data
    # quorvel-jid -j N: the threaded route gives the same, whatever N.
    threads = fdp.ConsumeIntInRange(2, 4)
    assert normalise_block(data, part, bare_only, 1, None, 0, rfc7622, threads) == (out, failures, valid, lines)
    native, python = Groups(), PyGroups()
    for value, n, text in values:
        native.add(value, 0, n, text)
        python.add(value, 0, n, text)
    assert [native.group(i) for i in range(len(native))] == [python.group(i) for i in range(len(python))]
    assert native.render(0, 1 << 20) == python.render(0, 1 << 20)
    # What render writes unchecked must read back as itself.
    reader = _reader(PARTS[part], bare_only, "rfc7622" if rfc7622 else "rfc6122")
    for value, _, _ in values:
        if not may_read_back_otherwise(value):
            assert reader(value) == value, value


@atheris.instrument_func
def test_one(data):
    fdp = atheris.FuzzedDataProvider(data)
    obj = some_object(fdp)
    if isinstance(obj, str):
        check_precis(obj)
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

    for text in ((obj, "xmpp:" + obj) if isinstance(obj, str) else (obj,)):
        assert uri_outcome(parse_uri, text) == uri_outcome(parse_uri_slowly, text), text

    check_block(fdp)


def uri_outcome(read, text):
    try:
        return read(text)
    except Exception as exc:  # noqa: BLE001 - the type and message are what is compared
        return type(exc), str(exc).replace("_parse_slowly", "parse")


if __name__ == "__main__":
    atheris.Setup(sys.argv, test_one)
    atheris.Fuzz()

"""quorvel.precis.JID: RFC 7622 addresses, held to the reference libraries
(precis-i18n for the profiles, idna for the domain) and to the interface of
quorvel.jid.JID."""

from __future__ import annotations

import copy
import os
import pickle
import random

import pytest

from quorvel import jid, precis
from quorvel.jid import InvalidJID
from quorvel.profiles import _failing_part

oracle = pytest.importorskip("precis_oracle")


def ours(text: str) -> tuple[str, str | None]:
    try:
        return "", str(precis.JID(text))
    except InvalidJID as exc:
        message = str(exc)
        # The part a message names, as quorvel.profiles reads it (the oracle
        # uses the same names).
        return _failing_part(message), None


def differences(texts):
    return [(t, ours(t), oracle.prepare(t)) for t in texts
            if ours(t) != oracle.prepare(t) and oracle.interpreter_knows_case(t)]


def assigned(stride: int, offset: int):
    for c in range(offset, 0x110000, stride):
        if not 0xD800 <= c <= 0xDFFF and oracle.unicodedata2.category(chr(c)) != "Cn":
            yield chr(c)


@pytest.mark.skipif(os.environ.get("QUORVEL_SANITIZED") == "1", reason="minutes under ASan")
@pytest.mark.parametrize("shape", ["{}x@example.com", "x@example.com/{}", "x@{}x.example"])
def test_every_seventh_code_point_agrees_with_the_references(shape):
    # Every assigned code point has been run this way (0 differences); a
    # seventh of them, a different seventh per shape, keeps the suite quick.
    texts = [shape.format(c) for c in assigned(7, len(shape) % 7)]
    assert differences(texts) == []


# Fragments the generated addresses are built from: the kinds of text where
# the two standards, or the two profiles, part ways.
FRAGMENTS = [
    "juliet", "Juliet", "ROMEO", "x", "fu\u00dfball", "\u1e9e", "\u03a3", "\u03c2", "\u0130", "\u212a",
    "\uff2a\uff55\uff4c", "\uff20", "\uff0f", "\u3000", "\u00a0", "\u1680", " ", "\t",
    "\u2163", "\u2460", "\u00bd", "\ufb01", "\u265a", "\U0001f339", "\u2603", "\u00a9",
    "\u200c", "\u200d", "\u094d", "\u0915", "\u0628", "\u05d0", "\u05d1", "\u0661", "\u06f1",
    "\u00b7", "l", "\u0375", "\u03b1", "\u05f3", "\u30fb", "\u30a2", "e\u0301", "\u00e9", "\u212b",
    "\\20", "\\5c", "&", "'", ":", "<", ">", "\"", "-", "_", "1", "xn--", "xn--bcher-kva", "b\u00fccher",
    "\u0300", "\u1100\u1161", "\u00ad", "\ufe0f", "\u0000", "\u007f",
]
DOMAINS = ["example.com", "Example.COM", "b\u00fccher.example", "xn--bcher-kva.example", "\u2603.example",
           "\u05d0\u05d1.example", "\uff45\uff58.com", "ex_ample.com", "-a.com", "a-.com", "ab--c.com",
           "192.0.2.1", "[2001:db8::1]", "example.com.", "a..b", "\u00df.de", "\u0628\u0661.example",
           "xn--n3h.example", "a\u200db.example", "\u0915\u094d\u200d\u0937.example", "l\u00b7l.cat"]


def generated(count: int, seed: int = 7622):
    rng = random.Random(seed)
    for _ in range(count):
        local = "".join(rng.choice(FRAGMENTS) for _ in range(rng.randint(1, 3)))
        resource = "".join(rng.choice(FRAGMENTS) for _ in range(rng.randint(1, 3)))
        domain = rng.choice(DOMAINS) if rng.random() < 0.8 else rng.choice(FRAGMENTS) + ".example"
        shape = rng.randrange(4)
        if shape == 0:
            yield f"{local}@{domain}/{resource}"
        elif shape == 1:
            yield f"{local}@{domain}"
        elif shape == 2:
            yield f"{domain}/{resource}"
        else:
            yield domain


def test_generated_addresses_agree_with_the_references():
    texts = list(generated(20000))
    assert sum(ours(t)[0] == "" for t in texts) > 3000  # both outcomes are well represented
    assert differences(texts) == []


# ---- the interface, as quorvel.jid.JID has it ----

def test_same_interface_as_the_stringprep_type():
    def public(t):
        return {n for n in dir(t) if not n.startswith("_") or n in ("__copy__", "__deepcopy__",
                                                                   "__getstate__", "__setstate__")}
    assert public(precis.JID) == public(jid.JID)
    assert precis.JID.__module__ == "quorvel.precis" and precis.JID.__qualname__ == "JID"
    assert precis.InvalidJID is InvalidJID


@pytest.mark.parametrize("text,node,domain,resource", [
    ("Juliet@Example.COM/Balcony", "juliet", "example.com", "Balcony"),
    ("room@muc.example/Juliet \U0001f339", "room", "muc.example", "Juliet \U0001f339"),
    ("a@xn--bcher-kva.example", "a", "b\u00fccher.example", ""),
    ("\u03a3@example.com/foo", "\u03c3", "example.com", "foo"),
    ("example.com.", "", "example.com", ""),
])
def test_parts(text, node, domain, resource):
    j = precis.JID(text)
    assert (j.node, j.user, j.local, j.username) == (node,) * 4
    assert (j.domain, j.server, j.host) == (domain,) * 3
    assert j.resource == resource
    assert hash(j) == hash(str(j)) and j == str(j) and not (j != str(j))
    for restored in (pickle.loads(pickle.dumps(j)), copy.copy(j), copy.deepcopy(j)):
        assert type(restored) is precis.JID and restored == j and str(restored) == str(j)
    assert str(precis.JID(text, bare=True)) == j.bare


@pytest.mark.parametrize("name,value,message", [
    ("node", "\u265a", "localpart doesn\u2019t pass usernamecasemapped validation"),
    ("node", "a\uff20b", "localpart holds a character RFC 7622 forbids"),
    ("resource", "a\tb", "resource doesn\u2019t pass opaquestring validation"),
    ("domain", "\u2603.example", "domain doesn\u2019t pass idna2008 validation"),
    ("domain", "ex_ample.com", "domain doesn\u2019t pass idna validation"),
    ("full", "a@b@c", "second @ found before parsing the resource"),
    ("bare", "a@b/c", "resource found while parsing a bare JID"),
])
def test_refused_assignment_changes_nothing(name, value, message):
    j = precis.JID("a@example.com/r")
    with pytest.raises(InvalidJID) as info:
        setattr(j, name, value)
    assert str(info.value) == message
    assert str(j) == "a@example.com/r"


def test_assignments_prepare_by_rfc_7622():
    j = precis.JID("a@example.com")
    j.resource = "x\u3000y"
    j.node = "\uff2a"
    j.domain = "B\u00fccher.example"
    assert str(j) == "j@b\u00fccher.example/x y"
    j.node = None
    j.resource = None
    assert str(j) == "b\u00fccher.example" and repr(j) == "precis.JID('b\u00fccher.example')"
    assert repr(precis.JID()) == "precis.JID()" and not precis.JID() and precis.JID() == ""


def test_the_two_types_meet_by_text():
    s, p = jid.JID("a@example.com/r"), precis.JID("A@Example.com/r")
    assert s == p and not (s != p) and hash(s) == hash(p) and len({s, p}) == 1
    assert repr(s) != repr(p)
    # Given to the other type's constructor, a JID is prepared again there.
    assert type(precis.JID(s)) is precis.JID and precis.JID(s) == p
    emoji = precis.JID("room@muc.example/Juliet \U0001f339")
    with pytest.raises(InvalidJID, match="resourceprep"):
        jid.JID(emoji)
    with pytest.raises(InvalidJID, match="resourceprep"):
        jid.JID(emoji, bare=True)  # as for text: the whole address is validated first
    # Where the standards differ, the texts differ and so do the values.
    assert jid.JID("a@xn--bcher-kva.example") != precis.JID("a@xn--bcher-kva.example")
    assert precis.JID("a@xn--bcher-kva.example") == precis.JID("a@B\u00fccher.example")

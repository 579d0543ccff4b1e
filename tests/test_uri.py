"""quorvel.uri: xmpp: URIs and IRIs (RFC 5122), read and written."""

import dataclasses
import os
import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from conftest import IDNA, NODE_EMPTY, NODE_PREP, RESOURCE_EMPTY
from quorvel import uri
from quorvel.jid import JID, InvalidJID
from quorvel.uri import (BadPercentEncoding, BadUtf8, DisallowedCharacter, InvalidUri, MalformedAuthority,
                         MalformedQuery, NotXmppUri, XmppUri, build, parse)

NASTY_NODE = "nasty!#$%()*+,-.;=?[\\]^_`{|}~node"
NASTY_URI = "xmpp:nasty!%23$%25()*+,-.;=%3F%5B%5C%5D%5E_%60%7B%7C%7D~node@example.com"
REPULSIVE = "repulsive !#\"$%&'()*+,-./:;<=>?@[\\]^_`{|}~resource"
REPULSIVE_URI = ("xmpp:node@example.com/repulsive%20!%23%22$%25&'()*+,-.%2F:;%3C="
                 "%3E%3F%40%5B%5C%5D%5E_%60%7B%7C%7D~resource")
PRAHA = "ji\u0159i@\u010dechy.example/v Praze"
PRAHA_URI = "xmpp:ji%C5%99i@%C4%8Dechy.example/v%20Praze"
PRAHA_IRI = "xmpp:ji\u0159i@\u010dechy.example/v%20Praze"


# RFC 5122's examples, each read and written back exactly.
RFC_EXAMPLES = [
    ("xmpp:node@example.com", "node@example.com", None, (), None),
    ("xmpp://guest@example.com", None, None, (), "guest@example.com"),
    ("xmpp:guest@example.com", "guest@example.com", None, (), None),
    ("xmpp://guest@example.com/support@example.com?message", "support@example.com", "message", (),
     "guest@example.com"),
    ("xmpp:support@example.com?message", "support@example.com", "message", (), None),
    ("xmpp:example-node@example.com", "example-node@example.com", None, (), None),
    ("xmpp:example-node@example.com/some-resource", "example-node@example.com/some-resource", None, (), None),
    ("xmpp:example.com", "example.com", None, (), None),
    ("xmpp:example-node@example.com?message", "example-node@example.com", "message", (), None),
    ("xmpp:example-node@example.com?message;subject=Hello%20World", "example-node@example.com", "message",
     (("subject", "Hello World"),), None),
    (NASTY_URI, NASTY_NODE + "@example.com", None, (), None),
    (REPULSIVE_URI, "node@example.com/" + REPULSIVE, None, (), None),
    (PRAHA_URI, PRAHA, None, (), None),
    # Beyond the RFC: repeated keys, an empty action, an IPv6 literal.
    ("xmpp:a@b?message;body=x;body=y%3Bz", "a@b", "message", (("body", "x"), ("body", "y;z")), None),
    ("xmpp:a@b?", "a@b", "", (), None),
    ("xmpp:a@b?;k=", "a@b", "", (("k", ""),), None),
    ("xmpp:a@[2001:DB8::1]/r", "a@[2001:DB8::1]/r", None, (), None),
]


@pytest.mark.parametrize("text, jid, action, params, authority", RFC_EXAMPLES)
def test_rfc_examples(text, jid, action, params, authority):
    expected = XmppUri(jid and JID(jid), action, params, authority and JID(authority))
    assert parse(text) == expected
    assert build(expected.jid, action=action, params=params, authority=expected.authority) == text
    assert str(expected) == text


def test_the_iri_of_the_rfc_example():
    assert build(PRAHA, iri=True) == PRAHA_IRI
    assert parse(PRAHA_IRI) == parse(PRAHA_URI) == XmppUri(JID(PRAHA))


@pytest.mark.parametrize("text, jid", [
    ("XMPP:Juliet@Capulet.Example", "juliet@capulet.example"),  # the scheme's case does not matter
    ("xmpp:ji%c5%99i@x", "ji\u0159i@x"),  # nor the hex digits'
    ("xmpp:a%2Db@x", "a-b@x"),  # an unreserved character encoded needlessly
    ("xmpp:a@b#anything", "a@b"),  # the fragment is left to applications
    ("xmpp:x/a%2Fb%40c", "x/a/b@c"),
    ("xmpp:ji\u0159i%20@x", None),  # an IRI's characters and an encoding side by side
])
def test_parse_decodes(text, jid):
    if jid is None:
        with pytest.raises(InvalidJID):
            parse(text)
    else:
        assert parse(text).jid == JID(jid)


def test_an_authority_alone_names_no_address():
    assert parse("xmpp://guest@example.com/") == parse("xmpp://Guest@Example.com") == \
        XmppUri(None, authority=JID("guest@example.com"))


MALFORMED = [
    ("http://example.com", NotXmppUri, "not an xmpp: URI (it must start with 'xmpp:')"),
    ("xmpp", NotXmppUri, "not an xmpp: URI (it must start with 'xmpp:')"),
    (" xmpp:a@b", NotXmppUri, "not an xmpp: URI (it must start with 'xmpp:')"),
    ("xmpp:a%zz@b", BadPercentEncoding, "'%' not followed by two hexadecimal digits in the localpart"),
    ("xmpp:a@b/r%2", BadPercentEncoding, "'%' not followed by two hexadecimal digits in the resource"),
    ("xmpp:a@b?m;k=%", BadPercentEncoding, "'%' not followed by two hexadecimal digits in the query"),
    ("xmpp:a%FF@b", BadUtf8, "the percent-encoded bytes of the localpart are not UTF-8"),
    ("xmpp:a@b/%C5", BadUtf8, "the percent-encoded bytes of the resource are not UTF-8"),
    ("xmpp:a@b/%ED%A0%80", BadUtf8, "the percent-encoded bytes of the resource are not UTF-8"),
    ("xmpp:a@b?m;k=%C5", BadUtf8, "the percent-encoded bytes of the query are not UTF-8"),
    ("xmpp:a@b/c d", DisallowedCharacter,
     "' ' (U+0020) is not allowed in the resource of an xmpp: URI; it must be percent-encoded"),
    ("xmpp:a@b/c/d", DisallowedCharacter,
     "'/' (U+002F) is not allowed in the resource of an xmpp: URI; it must be percent-encoded"),
    ("xmpp:a@b@c", DisallowedCharacter,
     "'@' (U+0040) is not allowed in the domain of an xmpp: URI; it must be percent-encoded"),
    ("xmpp:a'b@c", DisallowedCharacter,
     "\"'\" (U+0027) is not allowed in the localpart of an xmpp: URI; it must be percent-encoded"),
    ("xmpp:a@b?m;k=a/b", DisallowedCharacter,
     "'/' (U+002F) is not allowed in the query of an xmpp: URI; it must be percent-encoded"),
    ("xmpp:a@b#x y", DisallowedCharacter,
     "' ' (U+0020) is not allowed in the fragment of an xmpp: URI; it must be percent-encoded"),
    ("xmpp:a@b/\ue000", DisallowedCharacter,
     "'\\ue000' (U+E000) is not allowed in the resource of an xmpp: URI; it must be percent-encoded"),
    ("xmpp:a@[::1%]", DisallowedCharacter,
     "'%' (U+0025) is not allowed in the domain of an xmpp: URI; it must be percent-encoded"),
    ("xmpp://a@b%/c", BadPercentEncoding, "'%' not followed by two hexadecimal digits in the authority's domain"),
    ("xmpp://example.com/a@b", MalformedAuthority, "the authority of an xmpp: URI must be node@domain"),
    ("xmpp://", MalformedAuthority, "the authority of an xmpp: URI must be node@domain"),
    ("xmpp:a@b?message;body", MalformedQuery, "a query parameter of an xmpp: URI must be key=value"),
    ("xmpp:a@b?message;", MalformedQuery, "a query parameter of an xmpp: URI must be key=value"),
]


@pytest.mark.parametrize("text, error, message", MALFORMED)
def test_malformed(text, error, message):
    with pytest.raises(error) as info:
        parse(text)
    assert info.value.args == (message,)
    assert isinstance(info.value, InvalidUri) and isinstance(info.value, ValueError)
    assert not isinstance(info.value, InvalidJID)


NOT_AN_ADDRESS = [
    ("xmpp:", IDNA),
    ("xmpp:@b", NODE_EMPTY),
    ("xmpp:a@b/", RESOURCE_EMPTY),
    ("xmpp:a%2Fb@c", NODE_PREP),  # decoded, a "/" cannot move the split
    ("xmpp:a%40b@c", NODE_PREP),
    ("xmpp:a@b%2Fc", IDNA),
    ("xmpp:%40@b%2Fc", NODE_PREP),  # the localpart is judged first, as JID does
    ("xmpp:%F0%9F%98%80@x", NODE_PREP),
    ("xmpp://a%20b@x", NODE_PREP),
    ("xmpp://a@b/c@d/", RESOURCE_EMPTY),
]


@pytest.mark.parametrize("text, message", NOT_AN_ADDRESS)
def test_an_address_that_does_not_parse_raises_invalid_jid(text, message):
    with pytest.raises(InvalidJID) as info:
        parse(text)
    assert info.value.args == (message,)


@pytest.mark.parametrize("args, kwargs, error, message", [
    ((None,), {}, ValueError, "an xmpp: URI needs an address or an authority"),
    (("",), {}, ValueError, "an xmpp: URI needs an address or an authority"),
    (("a@b",), {"params": {"k": "v"}}, ValueError, "query parameters need an action to follow"),
    (("a@b",), {"authority": "example.com"}, ValueError,
     "the authority must be an address of the form node@domain"),
    (("a@b",), {"authority": "g@example.com/r"}, ValueError,
     "the authority must be an address of the form node@domain"),
    ((5,), {}, TypeError, "'int' object is not an instance of 'JID' or 'str'"),
    (("a@b",), {"action": 5}, TypeError, "'int' object is not an instance of 'str'"),
    (("a@b",), {"action": "m", "params": [("k", 5)]}, TypeError, "'int' object is not an instance of 'str'"),
    (("a@@b",), {}, InvalidJID, "second @ found before parsing the resource"),
])
def test_build_refuses(args, kwargs, error, message):
    with pytest.raises(error) as info:
        build(*args, **kwargs)
    assert str(info.value) == message


def test_build_takes_a_mapping_or_pairs_in_order():
    assert build("a@b", action="message", params={"subject": "Hi there", "body": "?"}) == \
        "xmpp:a@b?message;subject=Hi%20there;body=%3F"
    assert build(JID("a@b"), action="join", params=[("x", "1"), ("x", "\u00e9")], iri=True) == \
        "xmpp:a@b?join;x=1;x=\u00e9"


def test_the_value_is_frozen_and_compares_by_its_fields():
    value = parse("xmpp:a@b?m;k=v")
    with pytest.raises(dataclasses.FrozenInstanceError):
        value.action = "other"  # type: ignore[misc]
    assert value == XmppUri(JID("a@b"), "m", (("k", "v"),)) and hash(value) == hash(parse("xmpp:a@b?m;k=v"))
    assert uri._make(JID("a@b"), "m", (("k", "v"),), None) == value


# ---- properties over generated addresses ------------------------------------

EXAMPLES = 60 if os.environ.get("QUORVEL_SANITIZED") else 300
SETTINGS = settings(max_examples=EXAMPLES, deadline=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much])
PIECES = list(NASTY_NODE + REPULSIVE) + ["a", "b", "\u00e9", "\u0159", "\u4e2d", "\U00020000", "%", "%25"]


def _jid_or_none(text):
    try:
        return JID(text) or None
    except InvalidJID:
        return None


word = st.lists(st.sampled_from(PIECES), min_size=1, max_size=6).map("".join)
addresses = st.builds(lambda n, d, r: _jid_or_none((n and n + "@") + d + (r and "/" + r)),
                      st.one_of(st.just(""), word),
                      st.sampled_from(["example.com", "\u010dechy.example", "[::1]", "1.2.3.4", "x_y!"]),
                      st.one_of(st.just(""), word)).filter(lambda j: j is not None)
query_words = st.lists(st.sampled_from(PIECES + ["=", ";", "?", "#", "&", " "]), max_size=5).map("".join)
queries = st.one_of(st.none(), st.tuples(query_words, st.lists(st.tuples(query_words, query_words),
                                                                 max_size=3).map(tuple)))
# A URI (any character outside these is percent-encoded) per RFC 3986.
URI_CHARS = re.compile(r"[A-Za-z0-9\-._~!$&'()*+,;=:@/?#\[\]%]*")


@SETTINGS
@given(addresses, queries, st.one_of(st.none(), addresses.filter(lambda j: j.node and not j.resource)),
       st.booleans())
def test_what_build_writes_parse_reads_back(jid, query, authority, iri):
    action, params = query if query is not None else (None, ())
    text = build(jid, action=action, params=params, authority=authority, iri=iri)
    assert parse(text) == XmppUri(jid, action, params, authority)
    if not iri:
        assert URI_CHARS.fullmatch(text), text
    # The IRI form differs from the URI form only where the URI encodes a
    # character beyond ASCII.
    other = build(jid, action=action, params=params, authority=authority, iri=not iri)
    assert parse(other) == parse(text)


paths = st.lists(st.sampled_from(PIECES + ["@", "/", "example.com", "[::1]", "%40", "%2f", "%2F", "%C3%A9",
                                           "%c3", "%FF", "%00", "%20"]), max_size=10).map("".join)


@SETTINGS
@given(paths)
def test_the_plain_path_shortcut_matches_decoding_part_by_part(path):
    def outcome(read):
        try:
            return read(path)
        except (InvalidJID, InvalidUri) as error:
            return type(error), error.args

    assert outcome(uri._address) == outcome(uri._address_by_parts)


# Well-formed parts: allowed characters, an IRI's characters, any octet encoded.
encoded_parts = st.lists(st.one_of(
    st.sampled_from(list("aZ09-._~!$&'()*+,;=:@/?\u00e9\u3000\U00020000")),
    st.integers(0, 255).map(lambda b: "%%%02X" % b), st.integers(0, 255).map(lambda b: "%%%02x" % b),
    st.sampled_from(["%C3%A9", "%E2%82%AC", "%F0%9F%98%80", "%ED%A0%80", "%3D0A", "=3D", "%0D%0A"])),
    max_size=12).map("".join)


@SETTINGS
@given(encoded_parts)
def test_the_c_decoder_matches_decoding_octet_by_octet(text):
    def outcome(decode):
        try:
            return decode(text, "resource")
        except BadUtf8 as error:
            return error.args

    assert outcome(uri._decode) == outcome(uri._decode_slowly)


@SETTINGS
@given(st.one_of(st.text(st.characters(exclude_categories=("Cs",)), max_size=6),
                 st.lists(st.sampled_from(["message", "\u00b2", "\u00aa", "a;b=c", "%41", "x", "\U000e0001"]),
                          max_size=4).map("".join)))
def test_a_bare_action_reads_as_any_query_does(query):
    def outcome(read):
        try:
            return read(query)
        except InvalidUri as error:
            return type(error), error.args

    assert outcome(uri._query) == outcome(uri._query_in_full)


# ---- the native route against its slow twin ---------------------------------


def _parsed(read, text):
    try:
        return read(text)
    except Exception as error:  # noqa: BLE001 - the type and message are what is compared
        return type(error), error.args


# What the native route takes (binding/text/uri_plain.h) and what it must hand on:
# each of the ten characters the path parts differ on, encodings of "@" and
# "/", bad encodings, bad UTF-8, an IP literal, queries and fragments.
PLAIN_CASES = [
    "xmpp:a", "xmpp:a@b", "xmpp:a@b/c", "xmpp:a@b/c?message", "xmpp:a@b?join", "xmpp:a@b/c?",
    "xmpp:a@b/c?m1;k=v", "xmpp:a@b/c?m%41", "xmpp:a@b/c?\u00e9", "xmpp:a@b#", "xmpp:a@b?m#f",
    "xmpp:@b", "xmpp:a@", "xmpp:a@b/", "xmpp:/r", "xmpp:@", "xmpp:a/@", "xmpp:a@b@c", "xmpp:a@b/c/d",
    "xmpp:a@b/c@d", "xmpp:a&b@c", "xmpp:a'b@c", "xmpp:a&b", "xmpp:a'b/c", "xmpp:x/a:b", "xmpp:a:b@c",
    "xmpp:a%26b@c", "xmpp:a%40b@c", "xmpp:a%2fb@c", "xmpp:a%2Fb", "xmpp:a@b/%40", "xmpp:%", "xmpp:a%4",
    "xmpp:a%4g@b", "xmpp:a%FF@b", "xmpp:a@b/%C3", "xmpp:a@b/%C3%A9", "xmpp:j%C3%BCrgen@m%C3%BCnchen.example/r",
    "xmpp:a%00@b", "xmpp:a@b/%ED%A0%80", "xmpp:a@b/%F4%90%80%80", "xmpp:a@[::1]", "xmpp:[::1]/r",
    "xmpp://a@b", "xmpp://a@b/c@d", "xmpp:/", "xmpp://", "XMPP:a@b", "xmpp:A@B/C", "xmpp:a b@c",
    "xmpp:a@b/c d", "xmpp:a@b/\u00e9", "xmpp:\u00e9@b", "xmpp:a\x00@b", "xmpp:a@b/~!$&'()*+,;=:-._",
    "xmpp:!$()*+,;=-._~@b", "xmpp:" + "x" * 1100 + "@b", "xmpp:a@" + "%41" * 400, "xmpp:a@b?" + "m" * 50,
    "xmpp:a@b/" + "%C3%A9" * 600,
    # From 16 bytes after "xmpp:" to 64 the route decides from masks of the
    # bytes (uri_plain.cpp): the same shapes at those lengths, and either side
    # of each bound.
    "xmpp:juliet@capulet.example/balcony?message", "xmpp:juliet@capulet.example/bal@cony",
    "xmpp:juliet@capulet.example/bal/cony", "xmpp:juliet&romeo@capulet.example", "xmpp:capulet.example/a:b?x1",
    "xmpp:juliet%40x@capulet.example", "xmpp:jul%C3%AFet@capulet.example/r?join", "xmpp:juliet@capulet.example?m-s",
    "xmpp:juliet@capulet.example?", "xmpp:juliet@capulet.example/b?m?n", "xmpp:juliet@capulet.example%2Fb",
    "xmpp:@capulet.example/balcony", "xmpp:/capulet.example/balcony", "xmpp:juliet@capulet.exampl%",
    "xmpp:juliet@capulet.exam%4", "xmpp:juliet@capulet.e%41mple", "xmpp:juliet'@capulet.example/r",
    *("xmpp:" + "a" * (size - 2) + "@b" for size in (15, 16, 17, 31, 32, 33, 63, 64, 65)),
    *("xmpp:a@" + "b" * (size - 10) + "?message" for size in (15, 16, 17, 31, 32, 33, 63, 64, 65)),
]
ALL_EXAMPLES = [row[0] for row in RFC_EXAMPLES + MALFORMED + NOT_AN_ADDRESS] + PLAIN_CASES + [PRAHA_IRI]


@pytest.mark.parametrize("text", ALL_EXAMPLES)
def test_the_native_route_matches_the_python_parser(text):
    assert _parsed(parse, text) == _parsed(uri._parse_slowly, text)


# Every ASCII byte (and a byte beyond) in every place of a usual URI, at a
# length each way of reading the bytes takes.
@pytest.mark.parametrize("template", ["xmpp:ju@cap.example/r?m", "xmpp:juliet@capulet.example/balcony?message",
                                      "xmpp:" + "j" * 30 + "@" + "c" * 20 + ".example/" + "b" * 5])
def test_each_byte_in_each_place_reads_the_same_either_way(template):
    for place in range(len(template)):
        for char in [chr(b) for b in range(128)] + ["\u00e9"]:
            text = template[:place] + char + template[place + 1:]
            assert _parsed(parse, text) == _parsed(uri._parse_slowly, text), text


class _Text(str):
    pass


@pytest.mark.parametrize("args, kwargs", [
    ((5,), {}), ((None,), {}), ((b"xmpp:a@b",), {}), ((), {}), (("xmpp:a@b", "x"), {}),
    ((), {"uri": "xmpp:a@b/c?message"}), ((), {"text": "xmpp:a@b"}), ((_Text("xmpp:a@b/c?m"),), {}),
    (("xmpp:a\ud800@b",), {}),
])  # fmt: skip
def test_any_call_the_native_route_does_not_take_reads_as_the_python_parser(args, kwargs):
    def outcome(read):
        try:
            return read(*args, **kwargs)
        except Exception as error:  # noqa: BLE001
            return type(error), str(error).replace("_parse_slowly", "parse"), getattr(error, "__notes__", None)

    assert outcome(parse) == outcome(uri._parse_slowly)


def test_parse_keeps_its_documentation_and_signature():
    import inspect

    assert str(inspect.signature(parse)) == "(uri)"
    assert parse.__name__ == "parse" and parse.__module__ == "quorvel.uri"
    # A plain function to help() and repr(), not a method of what it holds.
    assert repr(parse) == "<built-in function parse>" and parse.__qualname__ == "parse"
    assert inspect.getdoc(parse).startswith("Read an ``xmpp:`` URI or IRI.")
    # The value is the dataclass, as the Python parser makes it.
    value = parse("xmpp:a@b/c?message")
    assert type(value) is XmppUri and value == uri._parse_slowly("xmpp:a@b/c?message")
    assert value.params == () and value.authority is None and value.jid == JID("a@b/c")


def test_the_native_parser_is_made_only_from_what_it_can_fill():
    from quorvel._text import uri_parser, uri_record

    # Instances of both types are made directly: only a record type that
    # uri_record made, and only quorvel.jid's JID, will do.
    good = (uri._parse_slowly, XmppUri, JID)
    for args in (good[:-1], good + (JID,), (5,) + good[1:], good[:1] + (uri._XmppUriInPython, JID),
                 good[:1] + (JID, JID), good[:1] + (type("Sub", (XmppUri,), {}), JID),
                 good[:2] + (XmppUri,), good[:2] + (type(uri_parser),)):
        with pytest.raises(TypeError):
            uri_parser(*args)
    other = uri_record()
    assert other is not XmppUri and uri_parser(uri._parse_slowly, other, JID)("xmpp:a@b?join").action == "join"
    assert uri_parser(*good)("xmpp:a@b?join") == XmppUri(JID("a@b"), "join")


uri_pieces = st.lists(st.sampled_from(
    PIECES + ["@", "/", "?", "#", ";", "=", "&", "'", ":", "[", "]", " ", "A", "message", "xmpp:", "//",
              "%40", "%2f", "%2F", "%C3%A9", "%c3", "%FF", "%00", "%20", "%4", "%%", "%41", "\u00e9"]),
    max_size=12).map("".join)


@SETTINGS
@given(st.one_of(uri_pieces.map(lambda t: "xmpp:" + t), uri_pieces,
                 st.builds(lambda j, q: build(j, action=q), addresses, st.one_of(st.none(), st.just("message")))))
def test_generated_uris_read_the_same_either_way(text):
    assert _parsed(parse, text) == _parsed(uri._parse_slowly, text)

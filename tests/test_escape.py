"""escape_node: display text to an escaped localpart (XEP-0106), against the
XEP's own examples, against unescape_node, against a Nodeprep oracle
built from Python's stringprep tables, and against its slow twin, the
Python escaping it replaced (escape_twin.py)."""

import inspect
import os
import random
import stringprep
import unicodedata

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

import escape_twin
import quorvel
from conftest import NODE_EMPTY, NODE_PREP, NODE_TOO_LONG
from quorvel import _escape
from quorvel.jid import JID, InvalidJID, unescape_node

BS = "\\"
escape_node = quorvel.escape_node
JOINS = "localpart cannot be escaped: a combining mark would join an escape sequence"

# XEP-0106 section 5.1: user input, escaped localpart, client display.
XEP_TABLE = [
    ("space cadet", r"space\20cadet"),
    ('call me "ishmael"', r"call\20me\20\22ishmael\22"),
    ("at&t guy", r"at\26t\20guy"),
    ("d'artagnan", r"d\27artagnan"),
    ("/.fanboy", r"\2f.fanboy"),
    ("::foo::", r"\3a\3afoo\3a\3a"),
    ("<foo>", r"\3cfoo\3e"),
    ("user@host", r"user\40host"),
    ("c:\\net", r"c\3a\5cnet"),
    ("c:\\\\net", r"c\3a\5c\5cnet"),
    ("c:\\cool stuff", r"c\3a\5ccool\20stuff"),
    ("c:\\5commas", r"c\3a\5c5commas"),
]
# Rows 9 to 11 escape backslashes that start no escape sequence, which the
# XEP's own section 4.3 forbids ("foo\bar is not modified by escaping"). Both
# spellings display the same; escape_node follows section 4.3.
SECTION_4_3 = {"c:\\net": r"c\3a\net", "c:\\\\net": r"c\3a\\net", "c:\\cool stuff": r"c\3a\cool\20stuff"}


@pytest.mark.parametrize("display, escaped", XEP_TABLE)
def test_the_xep_table(display, escaped):
    ours = escape_node(display)
    assert ours == SECTION_4_3.get(display, escaped)
    assert unescape_node(escaped) == unescape_node(ours) == display
    assert JID(ours + "@example.com").node == ours


@pytest.mark.parametrize("display, escaped", [
    # Section 4.3: partial and unknown sequences are left alone both ways.
    (r"\2plus\2is\4", r"\2plus\2is\4"),
    (r"foo\bar", r"foo\bar"),
    (r"foob\41r", r"foob\41r"),
    # Section 4.2: a source address holding escape sequences keeps them.
    (r"\3and\2is\5cool", r"\5c3and\2is\5c5cool"),
    # Section 5.2 and 5.5: an email address and an IMPS address.
    ("here's_a_wild_&_/cr%zy/_address", r"here\27s_a_wild_\26_\2fcr%zy\2f_address"),
    ('here\'s_a_wild_&_/cr%zy/_address_for:<wv>("IMPS")',
     r"here\27s_a_wild_\26_\2fcr%zy\2f_address_for\3a\3cwv\3e(\22imps\22)"),
    # A backslash before what reads as an escape once prepared: capitals
    # fold, B.1 characters vanish, fullwidth forms become ASCII.
    ("a\\2Fb", r"a\5c2fb"),
    ("\\\u00ad20", r"\5c20"),
    ("\uff3c20", r"\5c20"),
    ("\\\uff12\uff10", r"\5c20"),
    ("\\\\20", "\\\\5c20"),
    (BS, BS),
    ("a" + BS, "a" + BS),
    # Prepared as a localpart: folded, and what Nodeprep maps to one of the
    # ten characters is escaped as that character.
    ("D'Artagnan", r"d\27artagnan"),
    ("a\u00a0b", r"a\20b"),
    ("d\uff07artagnan", r"d\27artagnan"),
    ("\u2100", r"a\2fc"),
    ("\u00c4\u00df@x", "\u00e4ss\\40x"),
    ("<\u0338", "\u226e"),  # composes to a character that needs no escape
    # Folded before it is normalised, as Nodeprep does: U+0345 becomes an
    # iota that composes with the grave accent after it.
    ("\u0345\u0300", "\u1f76"),
    ("x" * 1023, "x" * 1023),
    ("'" * 341, r"\27" * 341),
])
def test_escape(display, escaped):
    assert escape_node(display) == escaped
    assert escape_node(text=display) == escaped


@pytest.mark.parametrize("display, message", [
    ("", NODE_EMPTY),
    ("\u00ad\u200b", NODE_EMPTY),
    (" a", NODE_PREP),
    ("a ", NODE_PREP),
    (" ", NODE_PREP),
    ("\u00a0a", NODE_PREP),
    ("a\u3000", NODE_PREP),
    ("x" * 1024, NODE_TOO_LONG),
    ("'" * 342, NODE_TOO_LONG),
    (" " + "x" * 2000, NODE_TOO_LONG),  # preparation is judged before the spaces
    ("a\x00b", NODE_PREP),
    ("a\tb", NODE_PREP),
    ("\U0001f600", NODE_PREP),
    ("\ue000", NODE_PREP),
    # Right-to-left text must end in a right-to-left letter, and an escape's
    # hex letters are left-to-right ones.
    ("\u05d0/\u05d1", NODE_PREP),
    ("\u05d0'", NODE_PREP),
    # A combining mark after an escaped character would change its escape.
    (":\u0301", JOINS),
    ("a/\u0307b", JOINS),
    ("a>\u0301", JOINS),
])
def test_refused(display, message):
    with pytest.raises(InvalidJID) as info:
        escape_node(display)
    assert info.value.args == (message,)


@pytest.mark.parametrize("value, error, message", [
    (5, TypeError, "'int' object is not an instance of 'str'"),
    (None, TypeError, "'None' is not an instance of 'str'"),
    (b"a", TypeError, "'bytes' object is not an instance of 'str'"),
    ("a\ud800", UnicodeEncodeError, None),
])
def test_argument_errors(value, error, message):
    with pytest.raises(error) as info:
        escape_node(value)
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'text'"]


def test_a_str_subclass_is_text():
    class Text(str):
        pass

    assert escape_node(Text("a b")) == r"a\20b"


def test_it_lives_in_the_package_not_in_the_module():
    import quorvel.jid

    assert quorvel.escape_node is _escape.escape_node
    assert "escape_node" in dir(quorvel)
    assert not hasattr(quorvel.jid, "escape_node")
    with pytest.raises(AttributeError):
        quorvel.no_such_name  # noqa: B018


# ---- properties over generated text -----------------------------------------

EXAMPLES = 60 if os.environ.get("QUORVEL_SANITIZED") else 400
SETTINGS = settings(max_examples=EXAMPLES, deadline=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much])

SPECIAL = list(' "&\'/:<>@\\')
PIECES = (
    SPECIAL * 3 + ["\\20", "\\5c", "\\2F", "\\3", "20", "5c", "a", "Z", "e", "f", "c", "."]
    + ["\u00a0", "\u3000", "\uff07", "\uff0f", "\uff3c", "\uff12", "\u2100", "\u00b4"]  # mapped to specials
    + ["\u00ad", "\u200b", "\u0301", "\u0307", "\u0338", "\u0327"]  # deleted, combining
    + ["\u00c4", "\u00df", "\u0130", "\u05d0", "\u0627", "\x00", "\U0001f600"]
)


def _assigned_in_3_2(char):
    return unicodedata.ucd_3_2_0.category(char) != "Cn"


# Characters assigned in Unicode 3.2 only: the oracle's case folding is 3.2
# data, and its NFKC that of this Python, which agree with the core for them.
chars = st.characters(exclude_categories=("Cs",)).filter(_assigned_in_3_2)
texts = st.lists(st.one_of(st.sampled_from(PIECES), chars), max_size=12).map("".join)


def _nodeprep_map(text):
    text = "".join(c for c in text if not stringprep.in_table_b1(c))
    # The twin's folding: stringprep's own falls back on this Python's
    # str.lower(), which folds Cherokee letters that Unicode 3.2 did not.
    return unicodedata.normalize("NFKC", "".join(map(escape_twin._fold, text)))


_PROHIBITED = (stringprep.in_table_c11, stringprep.in_table_c12, stringprep.in_table_c21,
               stringprep.in_table_c22, stringprep.in_table_c3, stringprep.in_table_c4,
               stringprep.in_table_c5, stringprep.in_table_c6, stringprep.in_table_c7,
               stringprep.in_table_c8, stringprep.in_table_c9, stringprep.in_table_a1)
_CODE = {c: "\\%02x" % ord(c) for c in SPECIAL}


def _oracle(text):
    """What escaping should give, by RFC 3454 and XEP-0106 alone: the display
    text, or None when no localpart can show it."""
    display = _nodeprep_map(text)
    out, i = [], 0
    while i < len(display):
        c = display[i]
        if c != BS or display[i + 1:i + 3].lower() in {v[1:] for v in _CODE.values()}:
            c = _CODE.get(c, c)
        out.append(c)
        i += 1
    prepared = _nodeprep_map("".join(out))
    if not display or display[0] == " " or display[-1] == " ":
        return None
    if any(test(c) for c in prepared for test in _PROHIBITED) or len(prepared.encode()) > 1023:
        return None
    if any(map(stringprep.in_table_d1, prepared)) and (
            any(map(stringprep.in_table_d2, prepared))
            or not stringprep.in_table_d1(prepared[0]) or not stringprep.in_table_d1(prepared[-1])):
        return None
    if unescape_node(prepared) != display:
        return None  # preparation joined a character to an escape
    return display


@SETTINGS
@given(texts)
@example("\u13bfa")  # a Cherokee letter with no folding in Unicode 3.2
def test_escaping_agrees_with_the_oracle(text):
    expected = _oracle(text)
    try:
        escaped = escape_node(text)
    except InvalidJID as error:
        # Refused only for a reason escaping could not have avoided.
        assert expected is None, (text, error)
        return
    assert expected is not None, (text, escaped)
    assert unescape_node(escaped) == expected
    # The result is a localpart as addresses store it: it parses, unchanged.
    assert JID(escaped + "@example.com").node == escaped
    # And the display text escapes back to it exactly.
    assert escape_node(expected) == escaped
    assert unescape_node(escape_node(expected)) == expected


# Text that preparation leaves as it is: lower-case, already normalised.
stable = st.lists(st.sampled_from(SPECIAL + list("abcdef0123456789.-_\u00e9\u0436\u4e2d%") + ["\\20", "\\5c"]),
                  min_size=1, max_size=16).map("".join).filter(lambda s: s[0] != " " != s[-1])


@SETTINGS
@given(stable)
def test_prepared_text_round_trips_exactly(text):
    assert unescape_node(escape_node(text)) == text


# ---- against the slow twin ----------------------------------------------------


def _outcome(escape, text):
    try:
        return escape(text)
    except InvalidJID as error:
        return type(error), error.args


def _assigned_here(char):
    # The twin maps with this Python's unicodedata, the native code with the
    # core's tables: they agree on every character both Unicode versions
    # assign (normalisation is stable for those), and the oracle above
    # covers the rest through Unicode 3.2.
    return unicodedata.category(char) != "Cn"


TWIN_PIECES = PIECES + [
    "\u0345", "\u037a", "\u0340", "\u0e33", "\u1e9e", "\u212a", "\u2126", "\ufb01",  # odd mappings
    "\uff20", "\uff1a", "\uff1c", "\uff1e", "\uff02", "\uff06", "\uff41", "\uff21",  # fullwidth
    "\u00a8", "\u2002", "\u205f", "\u2024", "\ufe52", "\ufe68", "\u2215",  # NFKC to a special or not
    "\u034f", "\u180b", "\ufe0f", "\u2060", "\ufeff",  # more of B.1
    "\u0300", "\u0323", "\u20dd", "\u3099",  # combining marks
    "x" * 300, "\u00e9" * 200, "'" * 120,  # towards the length limit, in bytes and in escapes
]
twin_chars = st.characters(exclude_categories=("Cs",)).filter(_assigned_here)
twin_texts = st.lists(st.one_of(st.sampled_from(TWIN_PIECES), twin_chars), max_size=16).map("".join)
ascii_text = st.text(st.characters(max_codepoint=127), max_size=40)


@SETTINGS
@given(st.one_of(twin_texts, ascii_text,
                 st.lists(st.sampled_from(SPECIAL + ["\\20", "\\5C", "A", "\t", "x" * 400]),
                          max_size=8).map("".join)))
def test_the_native_escaping_matches_its_python_twin(text):
    assert _outcome(escape_node, text) == _outcome(escape_twin.escape_node, text)


def test_the_twins_agree_on_seeded_text():
    # A fixed sample as well, so that every run covers the same ground
    # whatever Hypothesis's database holds: combining marks straight after
    # each special, B.1 characters around backslashes, and long texts.
    rng = random.Random(5122)
    alphabet = TWIN_PIECES + [chr(c) for c in range(0x20, 0x7F)] + [
        chr(c) for c in rng.sample(range(0xA0, 0x3000), 400) if _assigned_here(chr(c))]
    cases = [s + mark for s in SPECIAL for mark in ("\u0301", "\u0345", "\u0338", "\u00ad\u0301")]
    cases += ["".join(rng.choices(alphabet, k=rng.randrange(1, 30))) for _ in range(3000)]
    for text in cases:
        assert _outcome(escape_node, text) == _outcome(escape_twin.escape_node, text), text


def test_signature_and_documentation_are_those_of_the_python_function():
    assert str(inspect.signature(escape_node)) == "(text)"
    assert inspect.getdoc(escape_node) == inspect.getdoc(escape_twin.escape_node)
    assert escape_node.__name__ == "escape_node"

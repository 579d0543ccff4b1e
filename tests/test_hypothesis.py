"""Properties of JID over generated text.

The text is built from pieces that steer preparation into its corners:
the separators, characters mapped to nothing (B.1), case pairs and
multi-character folds, fullwidth forms, right-to-left and left-to-right
letters, joiners, the three alternative dots, escapes and lone surrogates.
"""

import copy
import os
import pickle

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

from conftest import (
    IDNA, NAME_PREP, NODE_EMPTY, NODE_PREP, NODE_TOO_LONG, RESOURCE_EMPTY, RESOURCE_PREP,
    RESOURCE_TOO_LONG, TOO_MANY_ATS, snapshot,
)  # fmt: skip
from quorvel.jid import JID, InvalidJID
from refold import compare_by_parsing, read_back

MESSAGES = {
    NODE_EMPTY, RESOURCE_EMPTY, NODE_TOO_LONG, RESOURCE_TOO_LONG, NODE_PREP, NAME_PREP, RESOURCE_PREP,
    TOO_MANY_ATS, IDNA, "resource found while parsing a bare JID",
    "JID.node must apply to a proper JID", "JID.resource must apply to a proper JID",
}  # fmt: skip

PIECES = (
    ["@", "/", ".", "@", "/", "a", "b", "Z", "0", "-", "xn--", "\\20", "\\5c", " ", "_", "example", "[::1]", "1.2.3.4"]
    + ["\u00ad", "\u200b", "\u2060", "\ufeff", "\ufe0f", "\u034f"]  # B.1
    + ["\u00c4", "\u00e4", "\u00df", "\u0130", "\u03a3", "\u03c2", "\u0390", "\u2121", "\u212a", "\ufb01"]
    + ["\uff21", "\uff41", "\uff20", "\uff0f", "\uff03", "\u3000"]  # fullwidth
    + ["\u05d0", "\u05d1", "\u0627", "\u0644", "\u0660", "\u0301", "\u094d", "\u0915"]  # RandAL, AN, marks
    + ["\u200c", "\u200d", "\u3002", "\uff0e", "\uff61"]
    + ["\u4e2d", "\U00020000", "\U0001f600", "\u1e9e", "\ud800", "\udfff", "\x00", "\x7f"]
    # Newer than the case-folding table, normalised to capitals: stored
    # texts that read back as other addresses.
    + ["\u2c7d", "\u1d2c", "\u1d35", "\u0307", "\U0001ccd6"]
)  # fmt: skip
text = st.lists(st.one_of(st.sampled_from(PIECES), st.characters()), max_size=14).map("".join)
# Addresses that mostly parse, with many spellings of the same parts, so
# that equal values from different texts come up often.
address = st.builds(
    lambda n, d, r: (n and n + "@") + d + (r and "/" + r),
    st.sampled_from(["", "a", "A", "\uff41", "\u00c4", "\u00e4", "ss", "\u00df", "a\u00ad", "\u0130", "\u2c7d",
                     "v", "\u1d2c\u0301", "\u00e1", "\u1d35\u0307", "\u1d35\u0307" * 341, "\u1d35\u0307" * 342,
                     "\u1d35\u0307" * 511, "a" * 1022 + "\u2c7d"]),
    st.sampled_from(["b", "B", "b.", "example.com", "Example.COM.", "[::1]", "1.2.3.4", "b\u00fccher.example",
                     "B\u00dcCHER.example", "xn--bcher-kva.example", "example\uff0ecom", "example\u3002com",
                     "\u2c7d.example", "v.example"]),
    st.sampled_from(["", "r", "R", "\ufb01", "fi", "r\u00ad", "a@b/c"]),
)  # fmt: skip
some_text = st.one_of(address, text)
part = st.lists(st.sampled_from([p for p in PIECES if p not in "@/"]), min_size=1, max_size=8).map("".join)

# Fewer examples under the sanitizers, where every call is several times slower.
EXAMPLES = 60 if os.environ.get("QUORVEL_SANITIZED") else 300
SETTINGS = settings(
    max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much]
)
NAMES = ["full", "jid", "bare", "node", "user", "local", "username", "domain", "server", "host", "resource"]


def build(value, bare=False):
    """A JID, or None when the text is refused the documented way."""
    try:
        return JID(value, bare=bare)
    except InvalidJID as exc:
        assert len(exc.args) == 1 and exc.args[0] in MESSAGES
    except UnicodeEncodeError:
        assert any("\ud800" <= c <= "\udfff" for c in value)
    return None


@SETTINGS
@given(text, st.booleans())
def test_construction_succeeds_or_raises_documented(value, bare):
    j = build(value, bare)
    if j is None:
        return
    assert bool(j) == (value != "")
    if bare:
        assert j.resource == ""
    assert hash(j) == (hash(str(j)) if j else 0)


@SETTINGS
@given(some_text)
def test_round_trips(value):
    j = build(value)
    assume(j is not None)
    # JID(j) and the copy module copy the value; pickling saves the text and
    # parses it again, so it gives what parsing the text gives, and never
    # fails for a value that was accepted.
    again = read_back(j)
    for copier in (JID, copy.copy, copy.deepcopy):
        clone = copier(j)
        assert clone == j and str(clone) == str(j) and hash(clone) == hash(j) and repr(clone) == repr(j)
    # Protocols 0 and 1 cannot rebuild an object of a C type without __reduce__.
    for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1):
        restored, other = pickle.loads(pickle.dumps([j, "other"], protocol))
        assert other == "other"
        assert str(restored) == str(again) and hash(restored) == hash(again)
        assert (restored == j) == (str(again) == str(j))
    assert (j == str(j), j != str(j)) == compare_by_parsing(j, str(j))


@SETTINGS
@given(some_text, some_text)
def test_equal_means_equal_text_and_hash(a, b):
    ja, jb = build(a), build(b)
    assume(ja is not None and jb is not None)
    assert (ja == jb) == (str(ja) == str(jb)) == (not (ja != jb))
    if ja == jb:
        assert hash(ja) == hash(jb)


@SETTINGS
@given(st.sampled_from(["", "a@b/c", "b", "x@Y.example"]), st.sampled_from(NAMES), st.one_of(text, st.none()))
def test_failing_setter_changes_nothing(start, name, value):
    j = JID(start)
    before = snapshot(j)
    try:
        setattr(j, name, value)
    except (InvalidJID, TypeError, UnicodeEncodeError) as exc:
        if isinstance(exc, InvalidJID):
            assert exc.args[0] in MESSAGES
        assert snapshot(j) == before
    else:
        assert hash(j) == hash(str(j))


@SETTINGS
@given(part)
def test_setters_store_the_prepared_part(value):
    # The prepared form of a part, worked out by parsing it in place.
    node = build(value + "@d.example")
    j = JID("x@d.example/r")
    if node is not None:
        j.node = value
        assert j.node == node.node and str(j) == f"{node.node}@d.example/r"
    domain = build(value)
    if domain is not None and domain.node == "" and domain.resource == "":
        j.domain = value
        assert j.domain == domain.domain and j.resource == "r"
    resource = build("d.example/" + value)
    if resource is not None:
        j.resource = value
        assert j.resource == resource.resource
    if "\ud800" not in value and "\udfff" not in value:
        read_back(j)
        assert (j == str(j), j != str(j)) == compare_by_parsing(j, str(j))

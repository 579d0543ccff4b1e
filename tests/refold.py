"""Which stored parts may read back as something else, for the test suite
and the Python fuzz harness (the core's twin is core/src/prep/refold.h).

Nodeprep and nameprep fold case with Table B.2 of RFC 3454 (Unicode 3.2)
before they normalise with current data, so normalisation can leave a
character that the table maps: U+2C7D MODIFIER LETTER CAPITAL V gives 'V',
U+1D2C U+0301 gives U+00C1. Parsing the stored text folds it, and the folded
localpart can even outgrow its limit. A localpart or domain without such a
character, and every resource, reads back unchanged.
"""

from __future__ import annotations

import functools
import stringprep

from quorvel.jid import JID, InvalidJID


def b2_entry(char: str) -> bool:
    """Whether Table B.2 maps `char`.

    The stringprep module derives B.2 from Unicode 3.2 data but lower-cases
    with the running interpreter's, which gives old characters mappings the
    table lacks (Cherokee capitals have had small letters only since Unicode
    8.0). No entry of the table involves a code point unassigned in 3.2.
    """
    if stringprep.in_table_a1(char):
        return False
    mapped = stringprep.map_table_b2(char)
    return mapped != char and not any(stringprep.in_table_a1(c) for c in mapped)


has_b2_entry = functools.lru_cache(maxsize=65536)(b2_entry)


def may_fold_again(part: str) -> bool:
    return any(has_b2_entry(c) for c in part)


def compare_by_parsing(jid: JID, text: str) -> tuple[bool, bool]:
    """(jid == text, jid != text) the slow way: parse the text, compare the
    two texts; text that is no address is unequal."""
    try:
        parsed = JID(text)
    except (InvalidJID, UnicodeEncodeError):
        return False, True
    return str(parsed) == str(jid), str(parsed) != str(jid)


def read_back(jid: JID) -> JID:
    """Parses the text of `jid` again and checks that only what the rules
    allow differs: a localpart or domain holding a character with a B.2
    entry may come back changed, never refused (a value whose own text is
    refused could not be pickled). Returns the parsed JID."""
    text = str(jid)
    node_may, domain_may = may_fold_again(jid.node), may_fold_again(jid.domain)
    try:
        again = JID(text)
    except InvalidJID as exc:
        raise AssertionError(f"the text of an accepted value is refused: {text!r} {exc.args}") from None
    assert node_may or again.node == jid.node, text
    assert domain_may or again.domain == jid.domain, text
    assert again.resource == jid.resource, text
    if not (node_may or domain_may):
        assert str(again) == text
    return again

"""Which stored texts read back as other addresses (refold.py): the account
the other tests rely on, checked against Table B.2 and over every character."""

import pytest

from quorvel.jid import JID, InvalidJID
from refold import b2_entry, has_b2_entry, may_fold_again, read_back


def test_b2_account_matches_the_published_table():
    # RFC 3454 lists 1371 mappings in Table B.2, from U+0041 to U+1D7BB.
    entries = [c for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF and b2_entry(chr(c))]
    assert (len(entries), entries[0], entries[-1]) == (1371, 0x41, 0x1D7BB)


@pytest.mark.parametrize(
    "char, entry",
    [
        ("A", True), ("\u00c1", True), ("\u00df", True), ("\u0130", True), ("\u0390", True),
        ("\u2121", True), ("\U0001d400", True), ("\u0345", True),
        ("a", False), ("\u00e1", False), ("0", False), ("\u4e2d", False),
        # Newer than Unicode 3.2, or given small letters later (Cherokee in
        # 8.0, Georgian capitals in 4.1): no entry in the table.
        ("\u2c7d", False), ("\u1d2c", False), ("\u1e9e", False), ("\U0001ccd6", False),
        ("\u13a0", False), ("\u10a0", False),
    ],
)  # fmt: skip
def test_b2_account_on_known_characters(char, entry):
    assert has_b2_entry(char) is entry
    assert may_fold_again("x" + char + "y") is entry


def _every_preparable_code_point():
    # Planes 3 to 13 hold no character with a decomposition, 15 and 16 only
    # private use (refused), 14 only tags and variation selectors.
    yield from range(0x30000)
    yield from range(0xE0000, 0xE1000)


def test_every_character_reads_back_as_the_rules_allow():
    # Each character alone and before a combining acute, as a localpart and
    # in a domain: whatever the Unicode data, the stored text parses back to
    # the same address unless a part holds a character with a B.2 entry.
    changed = 0
    for c in _every_preparable_code_point():
        if 0xD800 <= c <= 0xDFFF:
            continue
        char = chr(c)
        for text in (char + "@b", "a@" + char, char + "\u0301@b", "a@a" + char + "\u0301"):
            try:
                jid = JID(text)
            except InvalidJID:
                continue
            again = read_back(jid)
            changed += str(again) != str(jid)
    # At least U+2C7D, U+1D2C and U+1D35 and their accented forms, in both
    # places, known since Unicode 5.1.
    assert changed >= 12

"""The slow twin of quorvel.escape_node: the Python escaping it replaced,
which the tests hold the native one to. It maps text with this Python's
unicodedata, so it agrees with the core only for characters that both
Unicode versions assign.

What it computes is quorvel.escape_node's documented result
(python/quorvel/_escape.py).
"""

from __future__ import annotations

import re
import stringprep
import unicodedata

from quorvel.jid import JID, InvalidJID, unescape_node

__all__ = ["escape_node"]

# The nine characters Nodeprep refuses that have an escape, in the order the
# fast path replaces them. The backslash, the tenth, is handled on its own.
_ESCAPES = (
    (" ", "\\20"), ('"', "\\22"), ("&", "\\26"), ("'", "\\27"), ("/", "\\2f"),
    (":", "\\3a"), ("<", "\\3c"), (">", "\\3e"), ("@", "\\40"),
)
_ESCAPE_OF = dict(_ESCAPES)
_ESCAPE_OF["\\"] = "\\5c"

# The ten sequences as unescaping reads them. Preparation folds capitals, so
# a backslash before "2F" reads as "/" too: the test ignores case.
_CODES = "2[0267f]|3[ace]|40|5c"
_BACKSLASH_BEFORE_CODE = re.compile(rf"\\(?=(?:{_CODES}))", re.IGNORECASE)
_SEQUENCE = re.compile(rf"\\({_CODES})")
_TO_ESCAPE = re.compile(rf'[ "&\'/:<>@]|\\(?=(?:{_CODES}))', re.IGNORECASE)

# RFC 3454 table B.1: characters Nodeprep deletes before anything else, so
# they must not hide a backslash from the escape sequence after it.
_DELETED = dict.fromkeys(
    [0x00AD, 0x034F, 0x1806, 0x180B, 0x180C, 0x180D, 0x200B, 0x200C, 0x200D, 0x2060, 0xFEFF]
    + list(range(0xFE00, 0xFE10))
)

_MAX_BYTES = 1023

_JOINS_AN_ESCAPE = "localpart cannot be escaped: a combining mark would join an escape sequence"


def _refuse_as_unescape_node_does(example: str) -> InvalidJID:
    # The messages belong to the core; asking it for the one it gives this
    # example keeps escape_node's errors identical to unescape_node's.
    try:
        unescape_node(example)
    except InvalidJID as error:
        return error
    raise AssertionError(f"unescape_node accepted {example!r}")  # pragma: no cover


def escape_node(text: str) -> str:
    """Escape display text into a localpart (XEP-0106) and prepare it.

    The ten characters ``space " & ' / : < > @ \\`` become ``\\20 \\22 \\26
    \\27 \\2f \\3a \\3c \\3e \\40 \\5c``, a backslash only where the characters
    after it would otherwise read as an escape. Raises ``InvalidJID`` when no
    localpart can show the text: empty, beginning or ending with a space, or
    refused by Nodeprep for a reason escaping cannot help (a control
    character, an emoji, more than 1023 bytes, ...).
    """
    # Fast path: printable ASCII, where preparing is lower-casing and nothing
    # composes, so the result needs no look from the core.
    if type(text) is str and text.isascii() and text.isprintable() and text:
        out = text.lower()
        if "\\" in out:
            out = _BACKSLASH_BEFORE_CODE.sub(r"\\5c", out)
        for char, escape in _ESCAPES:
            if char in out:
                out = out.replace(char, escape)
        if len(out) <= _MAX_BYTES:
            if text[0] == " " or text[-1] == " ":
                raise _refuse_as_unescape_node_does("\\20")
            return out
    return _escape_slowly(text)


def _escape_slowly(text: str) -> str:
    """Any text: mapped the way Nodeprep maps it, escaped, then prepared and
    checked by the core. The twin of the fast path for ASCII."""
    try:
        if not isinstance(text, str):
            kind = "'None'" if text is None else f"'{type(text).__qualname__}' object"
            raise TypeError(f"{kind} is not an instance of 'str'")
        text.encode("utf-8")  # lone surrogates fail here, not inside the JID below
    except (TypeError, UnicodeEncodeError) as error:
        error.add_note("while processing 'text'")
        raise
    # Deletion, case folding and NFKC first, so that what preparation would turn into one of
    # the ten characters (a no-break space, a fullwidth apostrophe, "a/c" from
    # U+2100) is escaped, and a backslash is judged by what will follow it.
    # Case folding (table B.2, Unicode 3.2 data like the core's) before NFKC,
    # in Nodeprep's order: NFKC first would reorder U+0345 after another
    # mark before folding turns it into an iota that composes.
    deleted = text.translate(_DELETED)
    mapped = unicodedata.normalize("NFKC", "".join(map(_fold, deleted)))
    escaped_chars: list[str] = []

    def escape(match: re.Match[str]) -> str:
        char = match.group()
        escaped_chars.append(char)
        return _ESCAPE_OF[char]

    escaped = _TO_ESCAPE.sub(escape, mapped)
    if not escaped:
        raise _refuse_as_unescape_node_does("")
    # The core prepares the localpart (case folding, NFKC, prohibited
    # characters, the right-to-left rule, the length) and gives its message.
    prepared = JID(escaped + "@example.com").node
    # Preparation must leave every escape readable: a combining mark after
    # one would join the hex letter it follows ("\3a" + U+0301 is "\3á").
    read_back = [_unescaped(m.group(1)) for m in _SEQUENCE.finditer(prepared)]
    if read_back != escaped_chars:
        raise InvalidJID(_JOINS_AN_ESCAPE)
    if prepared.startswith("\\20") or prepared.endswith("\\20"):
        raise _refuse_as_unescape_node_does("\\20")
    return prepared


def _fold(char: str) -> str:
    """Table B.2 of Unicode 3.2, as the core has it. stringprep's table
    falls back on this Python's str.lower(), which knows later lower-case
    letters (the Cherokee ones of Unicode 8.0): a folding that leads out of
    Unicode 3.2 is one that table never had."""
    if unicodedata.ucd_3_2_0.category(char) == "Cn":
        return char  # preparation refuses it, as the core does
    folded = stringprep.map_table_b2(char)
    if any(unicodedata.ucd_3_2_0.category(c) == "Cn" for c in folded):
        return char
    return folded


def _unescaped(code: str) -> str:
    return chr(int(code, 16))

"""escape_node: display text to an escaped localpart (XEP-0106), the inverse
of ``quorvel.jid.unescape_node``.

The result is the localpart as an address stores it: escaped, then prepared
like any localpart, so ``JID(escape_node(text) + "@example.com")`` always
parses and ``unescape_node`` of the result gives the text as the address
would show it (``"D'Artagnan"`` escapes to ``d\\27artagnan``, which reads back
as ``"d'artagnan"``).

A backslash is escaped only where the two characters after it would read as
one of the ten escapes; every other backslash stays as typed, since
unescaping leaves it alone too.

The work is the core's (escape_localpart), through the private module
quorvel._text: text is mapped as Nodeprep maps it with the core's own
Unicode data, so the result does not depend on the interpreter's
unicodedata. tests/escape_twin.py keeps the Python escaping as its slow twin.
"""

from __future__ import annotations

from quorvel._text import escape_node

__all__ = ["escape_node"]

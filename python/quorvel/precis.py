"""XMPP addresses under RFC 7622 (PRECIS), beside the stringprep ones of
``quorvel.jid``.

``quorvel.precis.JID`` has the interface of ``quorvel.jid.JID``; only the
preparation differs: the localpart by the UsernameCaseMapped profile of RFC
8265 (width mapping, toLowerCase, NFC, the Bidi Rule) without the characters
RFC 7622 refuses (``" & ' / : < > @``), the resource by OpaqueString (non-ASCII
spaces to U+0020, NFC), the domain as an IDNA2008 name through the UTS #46
mapping, stored as U-labels. Failures raise ``quorvel.jid.InvalidJID``, so
one ``except`` clause serves both types.

How the two types meet: ``repr`` tells them apart (``precis.JID('a@b')``);
a JID of one type given to the other's constructor is prepared again by the
other's rules (and may be refused there); ``==`` between the two compares
the normalised texts, as ``hash`` does.
"""

from __future__ import annotations

from quorvel.jid import InvalidJID
from quorvel.jid import _PrecisJID as JID

__all__ = ["JID", "InvalidJID"]

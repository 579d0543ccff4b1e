"""Where RFC 6122 (``quorvel.jid``) and RFC 7622 (``quorvel.precis``)
disagree about an address.

``compare(text)`` prepares the text both ways and, for each part whose
outcome differs, says why in a small fixed set of reasons (``REASONS``). An
address differs when one standard accepts it and the other does not, or
when both accept it and store different text; two refusals are no
difference, whatever their messages.
"""

from __future__ import annotations

from dataclasses import dataclass, field

from quorvel import jid as _jid
from quorvel import precis as _precis

__all__ = ["REASONS", "PARTS", "Outcome", "Comparison", "compare"]

# In the order of their bits in the native module (quorvel/compare.h).
REASONS = (
    "not in Unicode 3.2",
    "symbol or emoji",
    "case mapping differs",
    "compatibility form",
    "width form",
    "non-ASCII space",
    "A-label decoded",
    "mapped to nothing",
    "right-to-left text",
    "prohibited by one profile",
)
PARTS = ("localpart", "domain", "resource")
# The first words of the InvalidJID messages, by part ("split" for a second
# "@", which both standards refuse alike).
_MESSAGE_PARTS = (("localpart", "localpart"), ("nodepart", "localpart"), ("domain", "domain"),
                  ("resource found", "split"), ("resource", "resource"), ("second @", "split"))


@dataclass(frozen=True)
class Outcome:
    """One standard's result: the normalised text, or the error message."""

    text: str | None
    error: str | None

    @property
    def valid(self) -> bool:
        return self.error is None


@dataclass(frozen=True)
class Comparison:
    """Both results for one address and, per part that differs, why."""

    text: str
    rfc6122: Outcome
    rfc7622: Outcome
    reasons: dict[str, tuple[str, ...]] = field(default_factory=dict)

    @property
    def differs(self) -> bool:
        return bool(self.reasons)


def _outcome(kind: type[_jid.JID] | type[_precis.JID], text: str) -> tuple[Outcome, object]:
    try:
        value = kind(text)
    except _jid.InvalidJID as exc:
        return Outcome(None, str(exc)), None
    return Outcome(str(value), None), value


def _split(text: str) -> dict[str, str]:
    """The raw parts, split as both standards split (RFC 7622 3.1-3.2)."""
    rest, slash, resource = text.partition("/")
    local, at, domain = rest.partition("@")
    parts = {"domain": domain if at else local}
    if at:
        parts["localpart"] = local
    if slash:
        parts["resource"] = resource
    return parts


def _failing_part(message: str) -> str:
    return next(part for start, part in _MESSAGE_PARTS if message.startswith(start))


def compare(text: str) -> Comparison:
    """The two standards' results for `text` and why they differ, part by part.

    >>> c = compare("room@muc.example/Juliet \\N{ROSE}")
    >>> c.rfc6122.error, c.rfc7622.text
    ('resource doesn’t pass resourceprep validation', 'room@muc.example/Juliet 🌹')
    >>> c.reasons
    {'resource': ('not in Unicode 3.2', 'symbol or emoji')}
    """
    old, old_value = _outcome(_jid.JID, text)
    new, new_value = _outcome(_precis.JID, text)
    if old == new or (not old.valid and not new.valid):
        return Comparison(text, old, new)
    if old_value is not None and new_value is not None:
        differing = [p for p, attr in zip(PARTS, ("node", "domain", "resource"))
                     if getattr(old_value, attr) != getattr(new_value, attr)]
    else:
        differing = [_failing_part(old.error or new.error or "")]
    raw = _split(text)
    reasons = {}
    for part in differing:
        if part not in raw:
            continue
        bits = _jid._reasons(raw[part], PARTS.index(part))
        reasons[part] = tuple(name for i, name in enumerate(REASONS) if bits >> i & 1)
    if not reasons:
        reasons["address"] = ("prohibited by one profile",)
    return Comparison(text, old, new, reasons)

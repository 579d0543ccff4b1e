"""What the batch tests share: the per-object route as the reference, and a
corpus of addresses that reaches every error kind of both profiles."""

from __future__ import annotations

import itertools

import quorvel.precis
from quorvel import batch
from quorvel.jid import JID, InvalidJID

PROFILES = {"rfc6122": JID, "rfc7622": quorvel.precis.JID}

LOCALS = [None, "", "juliet", "Juliet", "\u00c9LAN", "a b", "stra\u00dfe", "x" * 1023, "x" * 1024, "\ufb00",
          "\u0301a", "a\u200db", "&", "o'hara", "\u7528\u6237", "\u2163", "\U0001f600", "a:b", "\u0130"]
DOMAINS = ["example.com", "EXAMPLE.com.", "[::1]", "xn--bcher-kva.example", "B\u00fccher.example", "a..b",
           "-a.com", "", "\u0663.com", "x" * 64 + ".com", "\u00e9x.\u05d0", "ex ample.com", "xn--zz.com"]
RESOURCES = [None, "", "Balcony", "r/\u00e9", " ", "\u00a0x", "x" * 1023, "x" * 1024, "\u200b", "\ufb01"]


def corpus() -> list[str | None]:
    rows: list[str | None] = [None, "", "@", "/", "a@b@c", "@b", "a@/r", "\ud800@x", "a@\udfff"]
    for local, domain, resource in itertools.product(LOCALS, DOMAINS, RESOURCES):
        text = domain
        if local is not None:
            text = f"{local}@{text}"
        if resource is not None:
            text = f"{text}/{resource}"
        rows.append(text)
    return rows


def reference(value: str | None, bare: bool, profile: str) -> tuple[str | None, str | None]:
    """(text, message) of one row by the per-object route."""
    if value is None:
        return None, None
    try:
        return str(PROFILES[profile](value, bare=bare)), None
    except InvalidJID as exc:
        return None, str(exc)
    except UnicodeEncodeError:  # a lone surrogate: no UTF-8 form
        return None, batch.message(batch.INVALID_UTF8)


def messages(errors: list[int | None]) -> list[str | None]:
    return [None if e is None else batch.message(e) for e in errors]

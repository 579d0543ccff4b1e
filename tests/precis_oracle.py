"""RFC 7622 addresses the slow way, from the field's reference libraries:
precis-i18n (with the Unicode 17.0 data of unicodedata2) for the two PRECIS
profiles and idna (IDNA2008 with UTS #46 mapping, Unicode 17.0) for the
domain. Test-only: neither is a dependency of the package."""

from __future__ import annotations

import ipaddress
import unicodedata

import idna
import precis_i18n
import unicodedata2

USERNAME = precis_i18n.get_profile("UsernameCaseMapped", unicodedata=unicodedata2)
OPAQUE = precis_i18n.get_profile("OpaqueString", unicodedata=unicodedata2)
FORBIDDEN = set("\"&'/:<>@")


def interpreter_knows_case(text: str) -> bool:
    """precis-i18n lower-cases with str.lower(), whose data is the running
    interpreter's (15.x on 3.12/3.13): its verdicts on case mapping are only
    ours where that data has every character of `text`."""
    return all(unicodedata.category(c) != "Cn" or unicodedata2.category(c) == "Cn" for c in text)


def is_ip_literal(domain: str) -> bool:
    if domain.startswith("[") and domain.endswith("]"):
        try:
            return isinstance(ipaddress.ip_address(domain[1:-1]), ipaddress.IPv6Address) and "%" not in domain
        except ValueError:
            return False
    parts = domain.split(".")
    return (len(parts) == 4 and all(p.isascii() and p.isdigit() and (p == "0" or p[0] != "0")
                                     and int(p) < 256 for p in parts))


def localpart(text: str) -> str | None:
    try:
        out = USERNAME.enforce(text)
    except UnicodeEncodeError:
        return None
    if FORBIDDEN & set(out) or len(out.encode()) > 1023:
        return None
    return out


def resourcepart(text: str) -> str | None:
    try:
        out = OPAQUE.enforce(text)
    except UnicodeEncodeError:
        return None
    return out if len(out.encode()) <= 1023 else None


def domainpart(text: str) -> str | None:
    if is_ip_literal(text):
        return text
    if text.endswith("."):
        text = text[:-1]
    try:
        ascii_form = idna.encode(text, uts46=True, std3_rules=True, transitional=False)
        if len(ascii_form) > 253:
            return None
        return idna.decode(ascii_form)
    except (idna.IDNAError, UnicodeError, ValueError):
        return None


def prepare(text: str) -> tuple[str, str | None]:
    """(failing part or "", normalised text): the part is "localpart",
    "domain", "resource" or "split"."""
    local = domain = resource = None
    rest = text
    if "/" in rest:
        rest, resource = rest.split("/", 1)
    if "@" in rest:
        local, rest = rest.split("@", 1)
        if "@" in rest:
            return "split", None
    domain = rest
    out_local = out_resource = None
    if local is not None:
        out_local = localpart(local)
        if out_local is None:
            return "localpart", None
    out_domain = domainpart(domain)
    if out_domain is None:
        return "domain", None
    if resource is not None:
        out_resource = resourcepart(resource)
        if out_resource is None:
            return "resource", None
    text = out_domain
    if out_local is not None:
        text = out_local + "@" + text
    if out_resource is not None:
        text += "/" + out_resource
    return "", text

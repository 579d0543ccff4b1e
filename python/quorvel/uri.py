"""``xmpp:`` URIs and IRIs (RFC 5122): ``parse`` reads one, ``build`` writes one.

An ``xmpp:`` URI names an address (the path), optionally the account to
use (the authority, ``xmpp://guest@example.com/...``) and an action with
parameters (the query, ``?message;subject=Hi``)::

    xmpp:[//node@domain/][node@]domain[/resource][?action[;key=value]...][#fragment]

``parse`` accepts the URI form (ASCII, with percent-encoded UTF-8) and the
IRI form (Unicode characters as themselves), percent-decodes each part and
prepares the address with ``JID``. ``build`` writes the URI form, or the IRI
form with ``iri=True``, percent-encoding exactly the characters that RFC 5122
does not allow as themselves in each part.
"""

from __future__ import annotations

import re
from binascii import a2b_qp
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import MISSING, dataclass, field, fields

from quorvel._text import uri_parser, uri_record
from quorvel.jid import JID

TYPE_CHECKING = False  # typing itself is not imported at run time
if TYPE_CHECKING:
    from typing import TypeVar

    _T = TypeVar("_T")

__all__ = [
    "XmppUri", "parse", "build",
    "InvalidUri", "NotXmppUri", "BadPercentEncoding", "BadUtf8", "DisallowedCharacter",
    "MalformedAuthority", "MalformedQuery",
]


# ---- errors ----------------------------------------------------------------


class InvalidUri(ValueError):
    """The text is not a well-formed ``xmpp:`` URI or IRI."""


class NotXmppUri(InvalidUri):
    def __init__(self) -> None:
        super().__init__("not an xmpp: URI (it must start with 'xmpp:')")


class BadPercentEncoding(InvalidUri):
    def __init__(self, part: str) -> None:
        super().__init__(f"'%' not followed by two hexadecimal digits in the {part}")


class BadUtf8(InvalidUri):
    def __init__(self, part: str) -> None:
        super().__init__(f"the percent-encoded bytes of the {part} are not UTF-8")


class DisallowedCharacter(InvalidUri):
    def __init__(self, char: str, part: str) -> None:
        super().__init__(f"{char!r} (U+{ord(char):04X}) is not allowed in the {part} "
                         "of an xmpp: URI; it must be percent-encoded")


class MalformedAuthority(InvalidUri):
    def __init__(self) -> None:
        super().__init__("the authority of an xmpp: URI must be node@domain")


class MalformedQuery(InvalidUri):
    def __init__(self) -> None:
        super().__init__("a query parameter of an xmpp: URI must be key=value")


def _kind(value: object) -> str:
    # How quorvel.jid names a value of the wrong type.
    return "'None'" if value is None else f"'{type(value).__qualname__}' object"


def _wrong_type(value: object, expected: str, name: str) -> TypeError:
    """The TypeError for a parameter or field ``name`` given ``value``, worded
    as quorvel.jid words its own: "'int' object is not an instance of 'str'",
    with a note naming what was being processed."""
    error = TypeError(f"{_kind(value)} is not an instance of {expected}")
    error.add_note(f"while processing '{name}'")
    return error


# ---- the value ---------------------------------------------------------------


@dataclass(frozen=True, slots=True)
class XmppUri:
    """What an ``xmpp:`` URI says.

    ``jid``: the address, or ``None`` when the URI names only an authority.
    ``action``: the query type (``"message"``), ``None`` without a query.
    ``params``: the query's key=value pairs, in order, repeats kept.
    ``authority``: the account to act as, or ``None``.

    A value made by hand is checked when it is made, as ``build`` checks its
    arguments: a field of the wrong type raises ``TypeError``, parts that no
    URI can be written from ``ValueError``.
    """

    jid: JID | None
    action: str | None = None
    params: tuple[tuple[str, str], ...] = ()
    authority: JID | None = None

    def __post_init__(self) -> None:
        # A value made by hand (or by dataclasses.replace) is checked here,
        # so that a wrong field fails where it was given and not where the
        # value is next printed; parse's values are made without __init__.
        _check_fields(self.jid, self.action, self.params, self.authority)

    def __setstate__(self, state: list[object]) -> None:
        # Unpickling and copying set the fields without __init__: the same
        # check, before anything is set.
        names = [item.name for item in fields(self)]  # a subclass's too
        if not isinstance(state, list):
            raise TypeError(f"{_kind(state)} is not an instance of 'list'")
        if len(state) != len(names):
            raise ValueError(f"the state of an XmppUri is the values of its {len(names)} fields, "
                             f"not {len(state)} values")
        _check_fields(*state[:4])
        for name, value in zip(names, state):
            object.__setattr__(self, name, value)

    def __str__(self) -> str:
        return build(self.jid, action=self.action, params=self.params, authority=self.authority)


_XmppUriInPython = XmppUri  # the class as written: _native_record's model


def _native_record(model: type[_T]) -> type[_T]:
    """The frozen dataclass ``model`` again, over the native record type.

    The record type has the same four slots as the class statement gives
    ``model``, but its instances are made and freed without the generic
    machinery of a class statement's instances, which costs as much as
    reading a plain URI. The dataclass decorator makes it the same frozen
    dataclass: the same fields and defaults, __init__, repr, comparisons,
    hash and refusal to change; pickling and the methods written in the
    class body are taken over from ``model``.
    """
    record = uri_record()
    names: tuple[str, ...] = vars(model)["__slots__"]
    slots = {name: record.__dict__[name] for name in names}
    record.__doc__ = model.__doc__
    record.__annotations__ = dict(model.__annotations__)
    # The decorator reads a default from a class attribute: the slots are
    # taken away meanwhile, the defaults given as fields, and the slots put
    # back where it leaves the default values.
    for name in names:
        delattr(record, name)
    for item in fields(model):  # type: ignore[arg-type]
        if item.default is not MISSING:
            setattr(record, item.name, field(default=item.default))
    # Before the decorator: the __init__ it writes calls __post_init__ only
    # when the class has one then.
    record.__post_init__ = model.__dict__["__post_init__"]
    dataclass(frozen=True)(record)
    for name, slot in slots.items():
        setattr(record, name, slot)
    record.__slots__ = names
    for name in ("__str__", "__getstate__", "__setstate__"):
        setattr(record, name, model.__dict__[name])
    return record


if not TYPE_CHECKING:
    XmppUri = _native_record(XmppUri)

_FIELDS = tuple(XmppUri.__dict__[name] for name in ("jid", "action", "params", "authority"))
_new = object.__new__
_set_jid, _set_action, _set_params, _set_authority = (slot.__set__ for slot in _FIELDS)


def _make(jid: JID | None, action: str | None, params: tuple[tuple[str, str], ...],
          authority: JID | None) -> XmppUri:
    # What the generated __init__ does, without its per-field object.__setattr__
    # look-ups, which cost more than parsing a plain address, and without
    # __post_init__'s check, which what parse found passes by construction.
    uri = _new(XmppUri)
    _set_jid(uri, jid)
    _set_action(uri, action)
    _set_params(uri, params)
    _set_authority(uri, authority)
    return uri


# ---- character classes (RFC 5122 section 2.2, RFC 3987 section 2.2) --------

# ucschar: the characters an IRI may hold as themselves.
_UCS = ("\u00a0-\ud7ff\uf900-\ufdcf\ufdf0-\uffef"
        + "".join(f"\\U{plane:04x}0000-\\U{plane:04x}fffd" for plane in range(1, 14))
        + "\U000e1000-\U000efffd")
_UNRESERVED = "A-Za-z0-9\\-._~"
_IP_LITERAL_CHARS = frozenset(
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~!$&'()*+,;=:")
_SUB_DELIMS = "!$&'()*+,;="
_NODE_ALLOW = "!$()*+,;="  # nodeallow: the sub-delims without & and '
_RES_ALLOW = "!$&'()*+,:;="  # resallow: the sub-delims and ":"
_PCT = "%[0-9A-Fa-f]{2}"


class _Part:
    """One part of a URI: the characters it may hold as themselves."""

    def __init__(self, chars: str, around: str = "") -> None:
        self.unit = re.compile(f"[{chars}]|{_PCT}")
        # Unrolled: runs of plain characters between percent-encodings, far
        # quicker for the regular expression engine than one choice a character.
        run = f"[{chars}]*(?:{_PCT}[{chars}]*)*"
        self.pattern = f"{around}|{run}" if around else run
        self.whole = re.compile(self.pattern)


_NODE = _Part(_UNRESERVED + _UCS + re.escape(_NODE_ALLOW))
_HOST = _Part(_UNRESERVED + _UCS + re.escape(_SUB_DELIMS),
              around=rf"\[[{_UNRESERVED}{re.escape(_SUB_DELIMS)}:]*\]")  # an IP literal
_RESOURCE = _Part(_UNRESERVED + _UCS + re.escape(_RES_ALLOW))
_QUERY = _Part(_UNRESERVED + _UCS)
_FRAGMENT = _Part(_UNRESERVED + _UCS + re.escape(_SUB_DELIMS) + ":@/?")

# The whole path in one match: the parts cannot hold "@" or "/", so where
# they split is never in doubt.
_PATH = re.compile(rf"(?:(?P<node>{_NODE.pattern})@)?(?P<host>{_HOST.pattern})"
                   rf"(?:/(?P<resource>{_RESOURCE.pattern}))?")
_WHOLE_QUERY = re.compile(rf"{_QUERY.pattern}(?:;{_QUERY.pattern}={_QUERY.pattern})*")
# The same without groups, for a path with nothing to decode.
_PLAIN_PATH = re.compile(rf"(?:(?:{_NODE.pattern})@)?(?:{_HOST.pattern})(?:/(?:{_RESOURCE.pattern}))?")


# ---- parsing -----------------------------------------------------------------


if TYPE_CHECKING:
    def parse(uri: str) -> XmppUri:
        """Read an ``xmpp:`` URI or IRI.

        Raises a subclass of ``InvalidUri`` (a ``ValueError``) when the text is
        not a well-formed ``xmpp:`` URI, and ``InvalidJID`` when it is but its
        address (or authority) is not a valid address.
        """
        return _parse_slowly(uri)


def _parse_slowly(uri: str) -> XmppUri:
    """Any URI: parse's general route and the slow twin of its native one.

    The native route (quorvel._text, binding/text/uri_plain.h) reads the plain
    URI: "xmpp:", an ASCII path with nothing to decode that could move its
    split, and at most a bare action. It hands everything else here, faults
    included, so every error is raised and worded by this function.
    """
    if not isinstance(uri, str):
        raise _wrong_type(uri, "'str'", "uri")
    # The scheme name is case-insensitive (RFC 3986 section 3.1).
    if uri[:5] != "xmpp:" and uri[:5].lower() != "xmpp:":
        raise NotXmppUri()
    rest, hash_sign, fragment = uri[5:].partition("#")
    hier, question_mark, query = rest.partition("?")
    authority = None
    path: str | None = hier
    if hier[:2] == "//":
        # The authority runs to the next "/"; the address after it is optional.
        auth_text, slash, path = hier[2:].partition("/")
        authority = _authority(auth_text)
        if not path:
            path = None  # "xmpp://guest@example.com/" names no address either
    address = None if path is None else _address(path)
    action: str | None = None
    params: tuple[tuple[str, str], ...] = ()
    if question_mark:
        action, params = _query(query)
    # RFC 5122 leaves the fragment's meaning to applications: it is checked
    # for well-formedness and otherwise ignored.
    if hash_sign:
        _check(fragment, _FRAGMENT, "fragment")
    return _make(address, action, params, authority)


def _address(path: str) -> JID:
    if _PLAIN_PATH.fullmatch(path):
        if "%" not in path:
            # Nothing to decode: the path is the address as written.
            return _jid(path)
        if "%40" not in path and "%2F" not in path and "%2f" not in path:
            # No decoded "@" or "/" can move the split: decode it whole.
            try:
                decoded = _decode(path, "address")
            except BadUtf8:
                pass  # the parts one by one name the part at fault
            else:
                return _jid(decoded)
    return _address_by_parts(path)


def _address_by_parts(path: str) -> JID:
    """The path split, each part decoded, then joined: any path."""
    match = _PATH.fullmatch(path)
    if match is None:
        raise _diagnose_path(path)
    node, host, resource = match.group("node", "host", "resource")
    return _join(None if node is None else _decode(node, "localpart"), _decode(host, "domain"),
                 None if resource is None else _decode(resource, "resource"))


def _authority(text: str) -> JID:
    node, at, host = text.partition("@")
    if not at:
        raise MalformedAuthority()
    _check(node, _NODE, "authority's localpart")
    _check(host, _HOST, "authority's domain")
    return _join(_decode(node, "authority's localpart"), _decode(host, "authority's domain"), None)


def _query(query: str) -> tuple[str, tuple[tuple[str, str], ...]]:
    # The usual query is a bare action ("message", "join"): letters and
    # digits, every one of them allowed as itself, and nothing to decode.
    if query.isalnum():
        return query, ()
    return _query_in_full(query)


def _query_in_full(query: str) -> tuple[str, tuple[tuple[str, str], ...]]:
    """_query's twin: any query."""
    if not _WHOLE_QUERY.fullmatch(query):
        raise _diagnose_query(query)
    action, *pairs = query.split(";")
    params = []
    for pair in pairs:
        key, _, value = pair.partition("=")
        params.append((_decode(key, "query"), _decode(value, "query")))
    return _decode(action, "query"), tuple(params)


def _diagnose_query(query: str) -> InvalidUri:
    action, *pairs = query.split(";")
    words = [action]
    for pair in pairs:
        key, equals, value = pair.partition("=")
        if not equals:
            return MalformedQuery()
        words += [key, value]
    for word in words:
        if not _QUERY.whole.fullmatch(word):
            return _diagnose(word, _QUERY, "query")
    raise AssertionError(f"{query!r} fails as a whole but not word by word")  # pragma: no cover


def _decode(text: str, part: str) -> str:
    """Percent-decode well-formed text (every "%" starts two hex digits).

    Raw characters (an IRI's) count as their UTF-8 bytes, as RFC 3987 reads
    them. The work is done by the quoted-printable decoder, which is written
    in C: once each "=" is written "=3D", "%XX" written "=XX" means the same
    to it, and checked text holds no line break or space for it to treat
    otherwise.
    """
    if "%" not in text:
        return text
    try:
        return a2b_qp(text.replace("=", "=3D").replace("%", "=").encode("utf-8")).decode("utf-8")
    except UnicodeDecodeError:
        raise BadUtf8(part) from None


def _decode_slowly(text: str, part: str) -> str:
    """_decode's twin, octet by octet."""
    if "%" not in text:
        return text
    head, *rest = text.split("%")
    octets = bytearray(head.encode("utf-8"))
    for chunk in rest:
        octets.append(int(chunk[:2], 16))
        octets += chunk[2:].encode("utf-8")
    try:
        return octets.decode("utf-8")
    except UnicodeDecodeError:
        raise BadUtf8(part) from None


def _join(node: str | None, host: str, resource: str | None) -> JID:
    # A decoded "@" or "/" inside the localpart or the domain would move the
    # split of the address text; such a part is never valid, so each part is
    # then set on its own and the core names what is wrong with it.
    if (node is not None and ("@" in node or "/" in node)) or "@" in host or "/" in host:
        address = JID("example.com")
        if node is not None:
            address.node = node
        address.domain = host
        return address  # pragma: no cover - one of the two assignments raises
    text = host if node is None else f"{node}@{host}"
    return _jid(text if resource is None else f"{text}/{resource}")


def _jid(text: str) -> JID:
    if text:
        return JID(text)
    address = JID()
    # Assigning refuses the empty text with the core's message, where JID("")
    # would quietly give the empty JID.
    address.full = text
    return address  # pragma: no cover - the assignment raises


def _check(text: str, part: _Part, name: str) -> None:
    if not part.whole.fullmatch(text):
        raise _diagnose(text, part, name)


def _diagnose_path(path: str) -> InvalidUri:
    head, slash, resource = path.partition("/")
    node, at, host = head.partition("@")
    if not at:
        node, host = "", head
    for text, part, name in ((node, _NODE, "localpart"), (host, _HOST, "domain"),
                             (resource, _RESOURCE, "resource")):
        if not part.whole.fullmatch(text):
            return _diagnose(text, part, name)
    raise AssertionError(f"{path!r} fails as a whole but not part by part")  # pragma: no cover


def _diagnose(text: str, part: _Part, name: str) -> InvalidUri:
    """The error for the first fault in one part of a URI (on the failing path
    only: the whole part has already failed to match)."""
    position = 0
    if part is _HOST and len(text) > 1 and text[0] == "[" and text[-1] == "]":
        # An IP literal: no percent-encoding, only what an IPv6 address or
        # RFC 3986's IPvFuture can hold.
        return DisallowedCharacter(next(c for c in text[1:-1] if c not in _IP_LITERAL_CHARS), name)
    while position < len(text):
        unit = part.unit.match(text, position)
        if unit is None:
            if text[position] == "%":
                return BadPercentEncoding(name)
            return DisallowedCharacter(text[position], name)
        position = unit.end()
    raise AssertionError(f"{text!r} fails as a whole but not unit by unit")  # pragma: no cover


if not TYPE_CHECKING:
    # The plain URI costs little more than its address this way: a Python
    # function around the native route would cost as much as the address.
    parse = uri_parser(_parse_slowly, XmppUri, JID)


# ---- building ----------------------------------------------------------------


def _encoder(allowed: str, iri: bool) -> re.Pattern[str]:
    return re.compile(f"[^{allowed}{_UCS if iri else ''}]")


_ENCODE = {
    (part, iri): _encoder(allowed, iri)
    for part, allowed in (("node", _UNRESERVED + re.escape(_NODE_ALLOW)),
                          ("host", _UNRESERVED + re.escape(_SUB_DELIMS)),
                          ("resource", _UNRESERVED + re.escape(_RES_ALLOW)),
                          ("query", _UNRESERVED))
    for iri in (False, True)
}


def _percent_encoded(match: re.Match[str]) -> str:
    # RFC 3987 section 3.1: the character's UTF-8 bytes, upper-case hex.
    return "".join(f"%{byte:02X}" for byte in match.group().encode("utf-8"))


def _encode(text: str, part: str, iri: bool) -> str:
    pattern = _ENCODE[part, iri]
    return pattern.sub(_percent_encoded, text) if pattern.search(text) else text


def _as_jid(value: JID | str, name: str) -> JID:
    if isinstance(value, JID):
        return value
    if not isinstance(value, str):
        raise _wrong_type(value, "'JID' or 'str'", name)
    try:
        return JID(value)
    except UnicodeEncodeError as error:  # lone surrogates
        error.add_note(f"while processing '{name}'")
        raise


def _as_bool(value: object, name: str) -> bool:
    # True or False, or numpy's boolean scalars, as quorvel.jid takes its
    # flags: an int or None is more likely a mistake than a choice.
    if value is True or value is False:
        return value
    kind = type(value)
    if kind.__module__ == "numpy" and kind.__name__ in ("bool_", "bool"):
        try:
            return bool(value)
        except Exception as error:
            error.add_note(f"while processing '{name}'")
            raise
    raise _wrong_type(value, "'bool'", name)


def build(jid: JID | str | None, *, action: str | None = None,
          params: Mapping[str, str] | Iterable[tuple[str, str]] | None = None,
          authority: JID | str | None = None, iri: bool = False) -> str:
    """Write an ``xmpp:`` URI (``iri=True``: an IRI) for an address.

    ``jid`` may be ``None`` (or the empty JID) when an ``authority`` is given.
    ``params`` are written in order after ``action``, which they need.
    Text is parsed with ``JID`` first, so it raises ``InvalidJID`` as
    ``JID`` does.
    """
    # Every argument is checked before anything is written.
    address = None if jid is None else _as_jid(jid, "jid")
    account = None if authority is None else _as_jid(authority, "authority")
    if action is not None and not isinstance(action, str):
        raise _wrong_type(action, "'str'", "action")
    pairs = _pairs(params)
    iri = _as_bool(iri, "iri")
    _check_parts(address or None, action, pairs, account or None)
    parts = ["xmpp:"]
    if account:
        parts += ["//", _encode(account.node, "node", iri), "@", _host(account.domain, iri)]
        if address:
            parts.append("/")
    if address:
        if address.node:
            parts += [_encode(address.node, "node", iri), "@"]
        parts.append(_host(address.domain, iri))
        if address.resource:
            parts += ["/", _encode(address.resource, "resource", iri)]
    if action is not None:
        try:
            parts += ["?", _encode(action, "query", iri)]
        except UnicodeEncodeError as error:  # lone surrogates
            error.add_note("while processing 'action'")
            raise
        try:
            for key, value in pairs:
                parts += [";", _encode(key, "query", iri), "=", _encode(value, "query", iri)]
        except UnicodeEncodeError as error:
            error.add_note("while processing 'params'")
            raise
    return "".join(parts)


def _check_parts(jid: JID | None, action: str | None, params: Sequence[tuple[str, str]],
                 authority: JID | None) -> None:
    """What a URI needs of its parts, whose types are right: build's and a
    hand-made XmppUri's refusals alike."""
    if authority is not None:
        if not authority.node or authority.resource:
            raise ValueError("the authority must be an address of the form node@domain")
    elif jid is None:
        raise ValueError("an xmpp: URI needs an address or an authority")
    if action is None and params:
        raise ValueError("query parameters need an action to follow")


def _check_fields(jid: object, action: object, params: object, authority: object) -> None:
    """Refuses what an XmppUri made by hand may not hold: a field of the wrong
    type (``params`` a tuple of ``(str, str)`` tuples), the empty JID for an
    address (``None`` says there is none), or parts no URI can be written
    from."""
    if jid is not None and not isinstance(jid, JID):
        raise _wrong_type(jid, "'JID'", "jid")
    if action is not None and not isinstance(action, str):
        raise _wrong_type(action, "'str'", "action")
    if not isinstance(params, tuple):
        raise _wrong_type(params, "'tuple'", "params")
    for pair in params:
        _check_pair(pair)
    if authority is not None and not isinstance(authority, JID):
        raise _wrong_type(authority, "'JID'", "authority")
    if jid is not None and not jid:
        raise ValueError("the jid of an XmppUri is an address or None, not the empty JID")
    _check_parts(jid, action, params, authority)


def _check_pair(pair: object) -> tuple[str, str]:
    if not isinstance(pair, tuple):
        raise _wrong_type(pair, "'tuple'", "params")
    if len(pair) != 2:
        raise ValueError(f"a query parameter is a (key, value) pair, not {len(pair)} "
                         f"item{'' if len(pair) == 1 else 's'}")
    key, value = pair
    if not isinstance(key, str):
        raise _wrong_type(key, "'str'", "params")
    if not isinstance(value, str):
        raise _wrong_type(value, "'str'", "params")
    return key, value


def _host(domain: str, iri: bool) -> str:
    # An IPv6 literal is written as it is, brackets and colons included.
    return domain if domain[:1] == "[" else _encode(domain, "host", iri)


def _pairs(params: Mapping[str, str] | Iterable[tuple[str, str]] | None) -> list[tuple[str, str]]:
    if params is None:
        return []
    if isinstance(params, Mapping):
        items: Iterable[object] = params.items()
    else:
        try:
            items = iter(params)
        except TypeError:
            raise _wrong_type(params, "'Mapping' or 'Iterable'", "params") from None
    return [_check_pair(pair) for pair in items]

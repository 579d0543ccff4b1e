"""A small, fully typed use of quorvel.jid; `mypy --strict` checks it in `make test`.

Run it with the package installed: python examples/typed_usage.py
"""

from __future__ import annotations

import pickle

import quorvel
from quorvel import batch, escape_node, uri
from quorvel.jid import JID, InvalidJID, unescape_node


def normalise_roster(entries: list[str]) -> dict[str, list[str]]:
    """Group roster entries by the bare address they normalise to."""
    groups: dict[str, list[str]] = {}
    for entry in entries:
        try:
            address = JID(entry)
        except InvalidJID as error:
            print(f"skipping {entry!r}: {error}")
            continue
        groups.setdefault(address.bare, []).append(entry)
    return groups


def move_to_resource(address: JID, resource: str | None) -> JID:
    moved = JID(address)
    moved.resource = resource
    return moved


def chat_link(display_name: str, gateway: str) -> str:
    """An xmpp: link that opens a chat with a user of a gateway."""
    address = JID(escape_node(display_name) + "@" + gateway)
    return uri.build(address, action="message", params={"subject": "Hello"})


def normalised_texts(column: batch.Column | batch.ColumnStream) -> list[str | None]:
    """The texts of normalise over Arrow data, an array (a Normalised) or a
    stream (a NormalisedStream) alike: either result has its text column."""
    result = batch.normalise(column)
    texts: list[str | None] = result.text.to_pylist()
    return texts


def main() -> None:
    jid = JID("Juliet@Capulet.Example/Balcony")
    node: str = jid.node
    assert node == "juliet" and jid.resource == "Balcony"
    assert jid == "juliet@capulet.example/Balcony"

    bare = JID(jid, bare=True)
    assert not bare.resource and str(bare) == "juliet@capulet.example"
    assert move_to_resource(bare, "Garden").full == "juliet@capulet.example/Garden"

    state: str | None = jid.__getstate__()
    assert state == str(jid)
    assert pickle.loads(pickle.dumps(jid)) == jid
    assert hash(jid) == hash(str(jid))

    print(normalise_roster(["Romeo@Montague.Example", "romeo@montague.example/phone", "a@b@c"]))
    print(unescape_node(r"d\27artagnan"))

    # The package's names load on first use, and type-check as they run.
    assert quorvel.jid.JID("A@B") == JID("a@b") and quorvel.uri.parse("xmpp:a@b").jid == "a@b"
    profiles: str = quorvel.unicode_versions.profiles
    print(f"Unicode {profiles} (profiles), {quorvel.unicode_versions.idna} (IDNA check)")

    link = chat_link("d'artagnan", "musketeers.example")
    parsed: uri.XmppUri = uri.parse(link)
    target: JID | None = parsed.jid
    assert target is not None and unescape_node(target.node) == "d'artagnan"
    params: tuple[tuple[str, str], ...] = parsed.params
    assert parsed.action == "message" and params == (("subject", "Hello"),)
    print(link)

    assert batch.normalise(["A@B", None]).text == ["a@b", None]


if __name__ == "__main__":
    main()

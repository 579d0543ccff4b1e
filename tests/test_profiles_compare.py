"""Where RFC 6122 and RFC 7622 disagree: quorvel.profiles.compare, and
quorvel-jid --compare and --profile."""

from __future__ import annotations

import json

import pytest
from cli_support import both_routes, run

from quorvel import jid, precis
from quorvel.profiles import REASONS, compare

ROSE = "\U0001f339"


@pytest.mark.parametrize("text,reasons", [
    (f"room@muc.example/Juliet {ROSE}", {"resource": ("not in Unicode 3.2", "symbol or emoji")}),
    ("fu\u00dfball@example.com", {"localpart": ("case mapping differs",)}),
    ("a\u03a3@example.com", {"localpart": ("case mapping differs",)}),
    ("\u03c2@example.com", {"localpart": ("case mapping differs",)}),
    ("a@xn--bcher-kva.example", {"domain": ("A-label decoded",)}),
    ("\uff21\uff22@x/\uff21\uff22", {"resource": ("width form",)}),
    ("a@b/\ufb01", {"resource": ("compatibility form",)}),
    ("\u2460@x", {"localpart": ("compatibility form",)}),
    ("henry\u2163@x", {"localpart": ("compatibility form",)}),
    ("a\u00ad@x", {"localpart": ("mapped to nothing",)}),
    ("a@\u2603.example", {"domain": ("symbol or emoji",)}),
    ("a@ex_ample.com", {"domain": ("prohibited by one profile",)}),
    # Nameprep judges the whole domain, RFC 5893 each label.
    ("a@\u05d0\u05d1.example/\u05d0a", {"domain": ("right-to-left text",)}),
    # Alike, or both refused: no difference, whatever the messages.
    ("juliet@example.com/balcony", {}),
    ("a@b/x\u3000y", {}),
    ("a b@x", {}),
    ("a@b@c", {}),
])
def test_reasons(text, reasons):
    c = compare(text)
    assert c.reasons == reasons
    assert c.differs == bool(reasons)
    for outcome, kind in ((c.rfc6122, jid.JID), (c.rfc7622, precis.JID)):
        try:
            assert outcome.text == str(kind(text)) and outcome.error is None
        except jid.InvalidJID as exc:
            assert outcome.text is None and outcome.error == str(exc)
    assert all(r in REASONS for names in reasons.values() for r in names)


INPUT = f"a@b\nroom@muc.example/Juliet {ROSE}\nfu\u00dfball@example.com\n".encode() + b"\xff\n"


def test_cli_compare_lists_the_differences_and_sums_up_the_reasons():
    r = run("--compare", stdin=INPUT)
    assert r.returncode == 1
    out = r.stdout.decode()
    assert f"<stdin>:2: 'room@muc.example/Juliet {ROSE}'\n" in out
    assert "  rfc6122: invalid: resource doesn\u2019t pass resourceprep validation\n" in out
    assert "  why: localpart: case mapping differs\n" in out
    assert "<stdin>:1" not in out and "<stdin>:4: invalid b'\\xff': not valid UTF-8" in out
    err = r.stderr.decode().splitlines()
    assert err[0].endswith("4 inputs, 2 differ, 1 unreadable")
    assert "       1  case mapping differs" in err


def test_cli_compare_json_and_status():
    r = run("--compare", "--json", stdin=INPUT)
    records = [json.loads(line) for line in r.stdout.decode().splitlines()]
    assert [rec.get("line") for rec in records] == [2, 3, 4]
    assert records[0]["rfc7622"] == {"address": f"room@muc.example/Juliet {ROSE}", "error": None}
    assert records[1]["reasons"] == {"localpart": ["case mapping differs"]}
    assert run("--compare", "a@b", "A@B/c").returncode == 0


@pytest.mark.parametrize("args,expected", [
    (("--profile", "rfc7622", "Fu\u00dfball@xn--bcher-kva.example"), "fu\u00dfball@b\u00fccher.example\n"),
    (("--profile", "rfc6122", "Fu\u00dfball@xn--bcher-kva.example"), "fussball@xn--bcher-kva.example\n"),
    (("--profile", "rfc7622", "--part", "resource", f"a@b/{ROSE}"), f"{ROSE}\n"),
])
def test_cli_profile(args, expected):
    r = run(*args)
    assert (r.returncode, r.stdout.decode()) == (0, expected)


def test_cli_profile_on_files_and_dedupe():
    data = "A@xn--bcher-kva.example\na@B\u00fccher.example\n".encode()
    r = run("--profile", "rfc7622", "--dedupe", stdin=data)
    assert r.returncode == 0 and r.stdout.decode().splitlines()[0].startswith("a@b\u00fccher.example")


@pytest.mark.parametrize("args,message", [
    (("--compare", "--dedupe", "a@b"), "--dedupe does not apply to --compare"),
    (("--compare", "--bare-only", "a@b"), "--bare-only does not apply to --compare"),
    (("--compare", "--profile", "rfc7622", "a@b"), "--profile does not apply to --compare"),
    (("--profile", "rfc7622", "--uri", "a@b"), "--profile rfc7622 applies to addresses and their parts only"),
])
def test_cli_usage_errors(args, message):
    r = run(*args)
    assert r.returncode == 2 and message in r.stderr.decode()


def _lines(count: int = 400, seed: int = 6122) -> bytes:
    """A file of addresses: most alike under both standards, some not,
    comments, blank lines, CRLF endings and bytes that are not UTF-8."""
    import random

    rng = random.Random(seed)
    pool = ["juliet@example.com", "Romeo@Montague.example/Orchard", f"room@muc.example/Juliet {ROSE}",
            "fu\u00dfball@example.com", "a@xn--bcher-kva.example", "a@b@c", "\uff21@x/\uff21",
            "# a comment", "", "#", "a@\u2603.example", "a b@x", "a@ex_ample.com"]
    out = []
    for _ in range(count):
        line = rng.choice(pool).encode()
        if rng.random() < 0.05:
            line = b"\xff" + line
        out.append(line + (b"\r\n" if rng.random() < 0.1 else b"\n"))
    return b"".join(out)


@pytest.mark.parametrize("args", [("--compare",), ("--compare", "-q"), ("--profile", "rfc7622"),
                                  ("--profile", "rfc7622", "--part", "domain"),
                                  ("--profile", "rfc7622", "--dedupe"),
                                  ("--profile", "rfc7622", "--bare-only")])
def test_block_route_gives_what_the_per_line_route_gives(args):
    block, per_line = both_routes(args, stdin=_lines())
    assert block == per_line
    assert block[1]  # something was written

"""How quorvel-jid reads files and standard input: lines of any length,
the byte-order mark, comments. Both routes (the block route, and the
per-line one that QUORVEL_JID_PER_LINE forces) must read alike."""

import json

import pytest

from cli_support import both_routes, lines, run
from conftest import IDNA, TOO_MANY_ATS
from quorvel import _sources

BOM = b"\xef\xbb\xbf"


class CountedPiece(bytes):
    """A piece of input that counts the bytes searched for a newline in it."""

    searched = 0

    def rfind(self, sub, *args):
        assert not args
        CountedPiece.searched += len(self)
        return super().rfind(sub)


def _reader(data, sizes):
    """A read function giving `data` in pieces of the given sizes (the last
    size repeated), that must not be asked again once it has said 'end'."""
    pieces = []
    pos, k = 0, 0
    while pos < len(data):
        size = sizes[min(k, len(sizes) - 1)]
        pieces.append(data[pos:pos + size])
        pos, k = pos + size, k + 1
    ended = False

    def read(_n):
        nonlocal ended
        assert not ended, "read again after the end"
        if not pieces:
            ended = True
            return b""
        return pieces.pop(0)
    return read


@pytest.mark.parametrize("pieces", [
    [b"x" * 1000] * 300 + [b"\n"],                      # one line over many pieces
    [b"a@b\nc@d", b"/r" * 500, b"\ne@f\n", b"g", b"h"],  # a line straddling pieces, no final newline
    [b"\n", b"\n\n", b"", b"a"],
    [b"\n".join([b"u%d@x" % i for i in range(5000)]) + b"\n"],
])
@pytest.mark.thread_unsafe(reason='counts the searches in a class attribute all threads share')
def test_whole_lines_searches_each_byte_once(pieces):
    CountedPiece.searched = 0
    out = list(_sources.whole_lines(CountedPiece(p) for p in pieces))
    data = b"".join(pieces)
    assert b"".join(out) == data
    assert all(block.endswith(b"\n") for block in out[:-1])
    assert out == [] or out[-1].endswith(b"\n") == data.endswith(b"\n")
    # Every piece was searched once, and nothing held back was searched again.
    assert CountedPiece.searched == len(data)


@pytest.mark.parametrize("data, sizes, expected", [
    (BOM + b"# roster\na@b\n", [1], b"# roster\na@b\n"),  # the mark arrives a byte at a time
    (BOM + b"# roster\na@b\n", [2, 5], b"# roster\na@b\n"),
    (BOM + b"a@b", [1 << 15], b"a@b"),
    (BOM, [1], b""),
    (BOM[:2], [1], BOM[:2]),  # an incomplete mark is not one: the line is not UTF-8
    (b"a@b\n" + BOM + b"c@d\n", [3], b"a@b\n" + BOM + b"c@d\n"),  # only at the start
    (BOM + BOM + b"a@b", [1], BOM + b"a@b"),
    (b"", [1], b""),
    (b"\xef\xbb", [1], b"\xef\xbb"),
])
def test_chunks_drop_a_byte_order_mark_at_the_start_only(data, sizes, expected):
    assert b"".join(_sources.chunks(_reader(data, sizes))) == expected




@pytest.mark.parametrize("source", ["file", "stdin"])
@pytest.mark.parametrize("data, out, status", [
    (BOM + b"# roster\na@b\n", ["a@b"], 0),
    (BOM + b"#\nA@B", ["a@b"], 0),
    (BOM + b"A@B\r\n", ["a@b"], 0),
    (BOM + b"a@@b\n", [f"{{where}}:1: invalid 'a@@b': {TOO_MANY_ATS}"], 1),
    (BOM + b"\n" + BOM + b"# not at the start\n", [f"{{where}}:2: invalid '\\ufeff# not at the start': {IDNA}"], 1),
    # Comments: '#' alone or '# ' at the start of the line; nothing else.
    (b"#\n# x\n#chan@irc.example\n\n", ["#chan@irc.example"], 0),
    (b"#\tx\n", [f"{{where}}:1: invalid '#\\tx': {IDNA}"], 1),
    (b" # x\n", [f"{{where}}:1: invalid ' # x': {IDNA}"], 1),
    (b"##\n", [f"{{where}}:1: invalid '##': {IDNA}"], 1),
])  # fmt: skip
def test_files_and_standard_input_read_alike(tmp_path, source, data, out, status):
    path = tmp_path / "in.txt"
    path.write_bytes(data)
    if source == "file":
        args, stdin, where = ["-f", str(path)], b"", str(path)
    else:
        args, stdin, where = ["-f", "-"], data, "<stdin>"
    block, per_line = both_routes(["-q", *args], stdin)
    assert block == per_line
    assert lines(block[1]) == [line.format(where=where) for line in out]
    assert block[0] == status


def test_json_input_has_no_byte_order_mark():
    (record,) = map(json.loads, lines(run("--json", "-q", stdin=BOM + b"A@B\n").stdout))
    assert (record["input"], record["line"], record["source"]) == ("A@B", 1, "-")


@pytest.mark.parametrize("arg", ["#", "# x", "\ufeff# x"])
def test_arguments_are_never_skipped(arg):
    result = run("-q", arg, "a@b")
    assert lines(result.stdout)[1:] == ["a@b"]
    assert lines(result.stdout)[0].startswith(f"arg 1: invalid {arg!r}: ")
    assert result.returncode == 1


def test_help_states_the_comment_rule():
    out = " ".join(run("--help").stdout.decode().split())
    assert "a line that is '#' alone or starts with '# '" in out
    assert "byte-order mark" in out


@pytest.mark.parametrize("mode", [[], ["--json"]])
def test_a_line_of_millions_of_characters(tmp_path, mode):
    # Longer than many reads; the message quotes only its start.
    path = tmp_path / "long.txt"
    path.write_bytes(b"a@b\n" + b"x" * 3_000_000 + b"\nc@d")
    result = run("-q", *mode, "-f", str(path))
    out = lines(result.stdout)
    assert len(out) == 3 and result.returncode == 1
    assert "3000000 characters" in out[1] or json.loads(out[1])["error"] == IDNA

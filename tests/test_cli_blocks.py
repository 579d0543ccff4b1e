"""The block route of quorvel-jid against its per-line twin.

Files go through quorvel._blocks a block of lines at a time; with
QUORVEL_JID_PER_LINE set, every input takes the per-line route instead.
Both must write the same bytes to standard output and standard error and
exit with the same status, for every mode the block route takes, over
inputs that hold every kind of line the tool meets.
"""

import random
import subprocess
import sys

import pytest

from cli_support import both_routes, env
from quorvel import _sources, cli
from quorvel._report import PyGroups, may_read_back_otherwise
import quorvel._blocks
from quorvel._blocks import Groups, normalise_block

FIXED = [
    b"user@example.com", b"User@Example.COM./Home", b"a@b\r", b"a@b/with\rcarriage",
    b"", b"#", b"# a comment", b"#chan@irc.example", b"  ", b"a@@b", b"@b", b"a@",
    b"a@b/", b"x" * 70 + b"@b", b"a@" + b"d" * 64 + b".com", b"a@b/" + b"r" * 1024,
    b"\xff\xfe@x", b"\xc0\xaf@x", b"\xed\xa0\x80@x", b"a@b/" + b"\xc3" * 70,
    "j\u00fcrgen@m\u00fcnchen.example/r\u00e9sum\u00e9".encode(), "\uff21@\uff42".encode(),
    "a@stra\u00dfe.example".encode(), b"a@xn--mnchen-3ya.de", b"a@192.168.0.1/r", b"a@[::1]/r",
    b"a b@c", b"a@b/ spaced \t out ", b"it's@example.com", b"quote\"d@example.com",
    b"back\\slash@example.com", "caf\u00e9'@example.com".encode(), b"a@b/c@d/e", b"b/a@c",
    b"A@B", b"a@b", b"A@b/R", b"a@B/R", "\u00c4\u00df@B\u00fccher.Example/\ufb01".encode(),
    # Values that read back as another address or not at all (see
    # tests/refold.py), next to ones that read back as themselves.
    "\u2c7d@example.com".encode(), b"v@example.com", "\u1d2c\u0301@b".encode(),
    ("\u1d35\u0307" * 511 + "@b").encode(), "a@\u2c7d.example/\u2c7d".encode(), "a@b/\u2c7d".encode(),
    "\u2c7d".encode(), "x@[::A]/R".encode(),
]


def _random_lines(n, seed):
    rng = random.Random(seed)
    pieces = [b"user", b"User", b"@", b"/", b".", b"-", b"example", b"COM", b"x", b" ",
              b"\xc3\xa9", b"\xc3", b"'", b"\\", b"#", b"\r", b"xn--", b"%", b"\t", b"\x00"]
    lines = []
    for _ in range(n):
        lines.append(b"".join(rng.choice(pieces) for _ in range(rng.randrange(0, 9))))
    return lines


def _input(extra_lines=2000, seed=7, trailing_newline=False):
    lines = FIXED + _random_lines(extra_lines, seed) + FIXED
    data = b"\n".join(lines)
    return data + b"\n" if trailing_newline else data




MODES = [[], ["--part", "bare"], ["--part", "node"], ["--part", "domain"], ["--part", "resource"],
         ["--bare-only"], ["--dedupe"], ["--dedupe", "--part", "bare"], ["--dedupe", "--bare-only"],
         ["-q"]]


@pytest.mark.parametrize("mode", MODES, ids=lambda m: " ".join(m) or "full")
def test_block_route_matches_per_line_route(tmp_path, mode):
    first = tmp_path / "first.txt"
    first.write_bytes(_input())
    second = tmp_path / "second.txt"
    second.write_bytes(_input(500, 8, trailing_newline=True))
    # Each file holds every FIXED line twice; values of one input each that
    # read back otherwise come from the arguments.
    args = [*mode, "A@B", "\u00e9@x", "bad@@x", "\u2c7d@x", "\u1d2c\u0301@c/\u2c7d", "-f", str(first), "-f", "-",
            "-f", str(second)]
    block, per_line = both_routes(args, stdin=_input(300, 9))
    assert block[1]  # something was written
    assert block == per_line


def test_lines_across_reads_and_a_line_longer_than_a_read(tmp_path):
    # Lines of every length straddle the reads, and two lines are longer
    # than a whole read; every inch of them is counted in the groups too.
    rng = random.Random(3)
    lines = [b"user%d@Example.com/%s" % (i, b"r" * rng.randrange(0, 300)) for i in range(9000)]
    lines.insert(4000, b"a@b/" + b"x" * (_sources.BLOCK_BYTES + 17))
    lines.insert(6000, b"\xff" * (_sources.BLOCK_BYTES * 2))
    path = tmp_path / "big.txt"
    path.write_bytes(b"\r\n".join(lines))
    # --dedupe prints 9000 single values, several pieces of output apart.
    for mode in ([], ["--dedupe", "--part", "domain"], ["--dedupe"]):
        block, per_line = both_routes([*mode, "-f", str(path)])
        assert block == per_line


def test_dedupe_groups_with_more_spellings_than_kept(tmp_path):
    spellings = ["".join(c.upper() if m >> k & 1 else c for k, c in enumerate("abcdefg")) + "@x"
                 for m in range(128)]
    path = tmp_path / "many.txt"
    path.write_text("\n".join(spellings * 3) + "\n", "utf-8")
    block, per_line = both_routes(["--dedupe", "-f", str(path)])
    assert block == per_line
    assert b"... and 360 more inputs spelled otherwise" in block[1]


def test_native_groups_match_python_groups():
    rng = random.Random(11)
    native, python = Groups(), PyGroups()
    values = [f"v{i}" for i in range(300)] + ["", "\u00e9", "x" * 400000, "V", "a/B", "A/b", "\u00e9/x"]
    texts = ["a", "A", "b", "\u00c9", "", "x" * 400000]
    for n in range(20000):
        value = rng.choice(values)
        text = rng.choice(texts + [value])
        source = rng.randrange(3)
        native.add(value, source, n, text)
        python.add(value, source, n, text)
    assert len(native) == len(python)
    assert native.duplicate_groups() == python.duplicate_groups()
    for i in range(len(python)):
        assert native.group(i) == python.group(i)
    for start in range(0, len(python), 37):
        for limit in (0, 1, 50, 1 << 20):
            assert native.render(start, limit) == python.render(start, limit)


def test_native_groups_start_with_empty_texts():
    # Nothing stored yet, then texts with no bytes at all.
    groups = Groups()
    groups.add("", 0, 1, "")
    groups.add("", 1, 2, "")
    assert groups.group(0) == ("", 2, [(0, 1, "")], 0)
    assert groups.render(0, 100) == (b"", 0) and groups.duplicate_groups() == 1


@pytest.mark.parametrize("count", [100, 8191, 8192, 20000])
def test_progress_when_the_per_line_route_shows_it(tmp_path, count):
    # Shown from the same number of lines on; the figures in it may differ.
    path = tmp_path / "lines.txt"
    path.write_bytes(b"".join(b"user%d@example.com\n" % i for i in range(count)))
    block, per_line = both_routes(["--progress", "always", "-q", "-f", str(path)])
    assert block[:2] == per_line[:2]
    assert (block[2] == b"") == (per_line[2] == b"")
    assert block[2] == b"" or block[2].endswith(b"\r\x1b[K")


def test_blocks_module_holds_the_three_helpers():
    assert {n for n in dir(quorvel._blocks) if not n.startswith("_")} == {
        "Groups", "normalise_block", "differing_block"}
    assert Groups.__module__ == normalise_block.__module__ == "quorvel._blocks"
    assert normalise_block.__self__ is quorvel._blocks


GOOD_BLOCK = (b"a@b\n", 0, False, 1, None, 0)


@pytest.mark.parametrize("change, error", [
    ({0: "a@b\n"}, TypeError),
    ({1: 5}, IndexError),
    ({1: -1}, IndexError),
    ({1: "0"}, TypeError),
    ({3: -1}, OverflowError),
    ({4: PyGroups()}, TypeError),
    ({4: object()}, TypeError),
    ({5: 1 << 32}, IndexError),
    ({5: -1}, IndexError),
])  # fmt: skip
def test_normalise_block_refuses_bad_arguments(change, error):
    args = list(GOOD_BLOCK)
    for k, v in change.items():
        args[k] = v
    with pytest.raises(error):
        normalise_block(*args)
    with pytest.raises(TypeError):
        normalise_block(*GOOD_BLOCK[:5])
    assert normalise_block(*GOOD_BLOCK) == (b"a@b\n", [], 1, 1)


@pytest.mark.parametrize("call, error", [
    (lambda g: g.add("v", 0, 1), TypeError),
    (lambda g: g.add(b"v", 0, 1, "t"), TypeError),
    (lambda g: g.add("v", -1, 1, "t"), IndexError),
    (lambda g: g.add("v", 0, 1 << 32, "t"), IndexError),
    (lambda g: g.add("\ud800", 0, 1, "t"), UnicodeEncodeError),
    (lambda g: g.group(1), IndexError),
    (lambda g: g.group(-1), IndexError),
    (lambda g: g.render(2, 10), IndexError),
    (lambda g: g.render(0), TypeError),
    (lambda g: Groups(1), TypeError),
])  # fmt: skip
def test_groups_refuse_bad_arguments_and_keep_their_contents(call, error):
    groups = Groups()
    groups.add("v", 0, 1, "V")
    with pytest.raises(error):
        call(groups)
    assert len(groups) == 1 and groups.group(0) == ("v", 1, [(0, 1, "V")], 0)


# Pieces of addresses: plain ASCII, capitals, and characters whose prepared
# form holds a character with a case-folding entry (U+2C7D gives 'V', U+1D2C
# U+0301 gives U+00C1, U+1D35 U+0307 gives U+0130), or not (U+00E9, U+00DF,
# U+FB01, U+216B).
PIECES = ["a", "z", "Z", "1", "-", "\u2c7d", "\u1d2c\u0301", "\u1d35\u0307", "\u00e9", "\u00df", "\ufb01",
          "\u216b"]


def _addresses(n, seed):
    rng = random.Random(seed)

    def word(lo, hi):
        return "".join(rng.choice(PIECES) for _ in range(rng.randrange(lo, hi)))

    for _ in range(n):
        node, resource = word(0, 4), word(0, 3)
        domain = ".".join(word(1, 4) for _ in range(rng.randrange(1, 3)))
        yield (f"{node}@" if node else "") + domain + (f"/{resource}" if resource else "")


def _reads_back(reader, value):
    try:
        return reader(value)
    except ValueError as e:
        return e


@pytest.mark.parametrize("part", cli.PARTS)
@pytest.mark.parametrize("bare_only", [False, True])
def test_values_rendered_natively_read_back_as_themselves(part, bare_only):
    # Groups.render writes a value without reading it back; the values it
    # stops at, Python reads back. Everything it writes must read back as
    # itself, and what it stops at must include the values that do not.
    data = "\n".join(_addresses(4000, 5)).encode() + b"\n"
    groups = Groups()
    normalise_block(data, cli.PARTS.index(part), bare_only, 1, groups, 0)
    reader = cli._reader(part, bare_only)
    rendered, stopped = [], []
    i = 0
    while i < len(groups):
        chunk, i = groups.render(i, 1 << 20)
        rendered += [line.decode() for line in chunk.split(b"\n")[:-1]]
        if i < len(groups):
            stopped.append(groups.group(i)[0])
            i += 1
    assert len(rendered) + len(stopped) == len(groups)
    assert [v for v in rendered if _reads_back(reader, v) != v] == []
    otherwise = [v for v in stopped if _reads_back(reader, v) != v]
    assert bool(otherwise) == (part != "resource")
    # The rule itself, which write_groups also uses to skip the read-back of
    # a group of several inputs.
    values = [groups.group(i)[0] for i in range(len(groups))]
    assert [v for v in values if not may_read_back_otherwise(v) and _reads_back(reader, v) != v] == []


@pytest.mark.parametrize("columns", [None, "50", "133", "0", "-4", "wide"])
def test_help_is_as_wide_as_argparse_would_make_it(monkeypatch, columns):
    # The tool picks the width without shutil (see cli._help_formatter);
    # argparse's own formatter is the twin.
    import argparse

    if columns is None:
        monkeypatch.delenv("COLUMNS", raising=False)
    else:
        monkeypatch.setenv("COLUMNS", columns)
    assert cli._help_formatter("p")._width == argparse.HelpFormatter("p")._width


@pytest.mark.parametrize("lines, args, loaded", [
    (b"a@b\nA@B\n\xff\nb@@c\n", [], []),
    (b"a@b\nA@B\n\xff\nb@@c\n", ["--dedupe"], []),
    ("a@b\n\u2c7d@b\n".encode(), ["--dedupe"], ["quorvel.jid"]),
    (b"a@b\n", ["--json"], ["json", "quorvel.jid"]),
])  # fmt: skip
def test_the_tool_leaves_the_heavy_modules_alone(tmp_path, lines, args, loaded):
    # Its memory stays within a plain loop's only while the run imports none
    # of these (bench/cli_bench.py measures it); quorvel.jid comes in only
    # for an input or a value read back on the per-line route. What the
    # interpreter's own argparse imports for a parser of a given width
    # (Python 3.14's brings dataclasses and inspect for its colours) is no
    # choice of the tool's, so it is the baseline; shutil, which argparse
    # wants only to find the width, stays counted.
    path = tmp_path / "in.txt"
    path.write_bytes(lines * 10)
    code = ("import sys, argparse; "
            "argparse.ArgumentParser(formatter_class=lambda prog: argparse.HelpFormatter(prog, width=78))"
            ".add_argument('-q', action='store_true'); base = set(sys.modules); "
            "from quorvel import cli; cli.main(['-q', *sys.argv[2:], '-f', sys.argv[1]]); "
            "print(sorted({'shutil', 'dataclasses', 'typing', 'inspect', 'json', 'quorvel.jid'} "
            "& (set(sys.modules) - base)), file=sys.stderr)")
    result = subprocess.run([sys.executable, "-c", code, str(path), *args], capture_output=True,
                            env=env(), timeout=120)
    assert result.stderr.decode().strip() == str(loaded)

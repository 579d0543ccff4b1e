"""quorvel-jid -j N against the tool on one thread.

With -j the lines of a file are parsed over worker threads and put back in
line order; every mode must write the same bytes to standard output and
standard error and exit with the same status as without it, over the
examples file and over a file of every kind of line the tool meets. The
native helpers behind it are held to their one-thread results directly,
with enough lines for several threads to start.
"""

import random
import subprocess

import pytest

from cli_support import SAMPLE, command, env
from quorvel import _sources
from quorvel._blocks import Groups, differing_block, normalise_block
from test_cli_blocks import FIXED, _random_lines

MODES = [
    [], ["--part", "bare"], ["--part", "node"], ["--part", "domain"], ["--part", "resource"],
    ["--bare-only"], ["--dedupe"], ["--dedupe", "--part", "domain"], ["--dedupe", "--bare-only"],
    ["--profile", "rfc7622"], ["--profile", "rfc7622", "--bare-only", "--part", "bare"],
    ["--profile", "rfc7622", "--dedupe"], ["--compare"], ["-q"], ["--json"], ["--json", "--dedupe"],
    ["--uri"], ["--escape"],
]

# Lines of every kind: valid, invalid, non-ASCII, not UTF-8, CRLF endings,
# empty lines and comments, in runs long enough for several threads.
MIXED = b"\xef\xbb\xbf" + b"\n".join(
    FIXED + [line + (b"\r" if i % 5 == 0 else b"") for i, line in enumerate(_random_lines(12000, 21))]
    + [b"", b"# done", "\u00c9lan@Example.org/r\u00e9s".encode(), b"\xff\xfe@bad"]
)


def _tool(args, stdin=b""):
    r = subprocess.run(command(*args), input=stdin, capture_output=True, env=env(), timeout=120)
    return r.returncode, r.stdout, r.stderr


@pytest.fixture(scope="module")
def mixed(tmp_path_factory):
    path = tmp_path_factory.mktemp("threads") / "mixed.txt"
    path.write_bytes(MIXED)
    return path


@pytest.mark.parametrize("mode", MODES, ids=lambda m: " ".join(m) or "full")
@pytest.mark.parametrize("source", ["examples", "mixed"])
def test_threads_give_the_output_of_one_thread(mode, source, mixed):
    path = SAMPLE if source == "examples" else mixed
    # The file, standard input and a file that cannot be read, in one run.
    args = [*mode, "-f", str(path), "-f", "-", "-f", str(path) + ".missing"]
    stdin = MIXED[:20000] if "--compare" not in mode else path.read_bytes()
    one = _tool(args, stdin)
    assert one[1] and one[0] == 2  # something was written; the missing file is status 2
    for threads in ("2", "5", "auto"):
        assert _tool(["-j", threads, *args], stdin) == one, threads


def test_threads_over_lines_across_large_reads(tmp_path):
    # More than one threaded read, with lines straddling them and one longer
    # than a read.
    rng = random.Random(5)
    lines = [b"User%d@Example.com/%s" % (i % 7000, b"r" * rng.randrange(0, 200)) for i in range(20000)]
    lines.insert(9000, b"a@b/" + b"x" * (_sources.THREADED_BLOCK_BYTES + 3))
    lines.insert(12000, b"\xc3" * 100)
    path = tmp_path / "big.txt"
    path.write_bytes(b"\r\n".join(lines))
    for mode in ([], ["--dedupe"], ["--compare"]):
        args = [*mode, "-f", str(path)]
        assert _tool(["--threads", "3", *args]) == _tool(args)


@pytest.mark.parametrize("value, why", [
    ("0", b"at least 1, not 0"), ("-1", b"at least 1, not -1"), ("x", b"not 'x'"),
    ("", b"not ''"), ("1.5", b"not '1.5'"), ("Auto", b"not 'Auto'"),
])  # fmt: skip
def test_bad_thread_counts_are_usage_errors(value, why):
    for args in (["-j", value, "a@b"], [f"--threads={value}", "a@b"]):
        status, out, err = _tool(args)
        assert status == 2 and out == b""
        assert err.startswith(b"usage: ") and b"error: argument -j/--threads: " in err and why in err


def _block_data(seed):
    rng = random.Random(seed)
    lines = FIXED * 3 + _random_lines(9000, seed)
    rng.shuffle(lines)
    return b"\n".join(line + (b"\r" if rng.random() < 0.1 else b"") for line in lines)


@pytest.mark.parametrize("part", range(5))
@pytest.mark.parametrize("bare_only, rfc7622", [(False, False), (True, False), (False, True), (True, True)])
def test_normalise_block_over_threads(part, bare_only, rfc7622):
    data = _block_data(part)
    one = normalise_block(data, part, bare_only, 11, None, 0, rfc7622)
    for threads in (2, 3, 8, 64):
        assert normalise_block(data, part, bare_only, 11, None, 0, rfc7622, threads) == one


def test_normalise_block_groups_over_threads():
    data = _block_data(40)
    one, many = Groups(), Groups()
    first = normalise_block(data, 0, False, 1, one, 2, False)
    assert normalise_block(data, 0, False, 1, many, 2, False, 4) == first
    assert len(one) == len(many) and one.duplicate_groups() == many.duplicate_groups()
    assert all(one.group(i) == many.group(i) for i in range(len(one)))


def test_differing_block_over_threads():
    data = _block_data(41)
    one = differing_block(data, 3)
    assert one[0] and one[1]  # lines that differ and lines that are not UTF-8
    for threads in (2, 7):
        assert differing_block(data, 3, threads) == one


@pytest.mark.parametrize("threads, error", [(0, ValueError), (-3, ValueError), ("2", TypeError),
                                            (1 << 70, OverflowError)])
def test_helpers_refuse_bad_thread_counts_and_keep_the_groups(threads, error):
    groups = Groups()
    with pytest.raises(error):
        normalise_block(b"a@b\n", 0, False, 1, groups, 0, False, threads)
    assert len(groups) == 0
    with pytest.raises(error):
        differing_block(b"a@b\n", 1, threads)
    with pytest.raises(TypeError):
        normalise_block(b"a@b\n", 0, False, 1, None, 0, False, 1, 1)

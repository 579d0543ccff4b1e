"""quorvel-jid when its standard streams fail: a full disk, a closed stream.

Output that cannot be written is an I/O error (status 2, one line on
standard error when that still works), in every mode; a closed standard
error changes no status; a reader that goes away ends the run quietly
(test_cli.test_broken_pipe_is_quiet).
"""

import os
import subprocess

import pytest

from cli_support import command, env, lines

pytestmark = pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")

PROG = "python -m quorvel"
FULL = f"{PROG}: cannot write standard output: No space left on device"


@pytest.fixture
def big(tmp_path):
    # More output than any buffer holds, so that writes fail mid-run.
    path = tmp_path / "big.txt"
    path.write_bytes(b"".join(b"User%d@Example.COM\n" % i for i in range(30000)) + b"a@@b\n")
    return path


def _run(args, stdout=None, stderr=None, shell_redirect="", stdin=b""):
    """Runs the tool with the given streams; `shell_redirect` (such as
    '2>&-') is applied by a shell that then becomes the tool."""
    argv = command(*args)
    if shell_redirect:
        argv = ["sh", "-c", f'exec "$@" {shell_redirect}', "sh", *argv]
    result = subprocess.run(argv, input=stdin, env=env(), timeout=120,
                            stdout=stdout if stdout is not None else subprocess.PIPE,
                            stderr=stderr if stderr is not None else subprocess.PIPE)
    return result


MODES = [
    ["a@b"], ["A@B", "a@@b"],  # per-line route, valid and invalid
    ["--json", "a@b"], ["--dedupe", "a@b", "A@B"], ["--dedupe", "--json", "a@b"],
    ["--escape", "d'artagnan"], ["--uri", "a@b/c d"], ["--unescape", "d\\27artagnan"],
    ["--part", "bare", "-q", "a@b/c"], ["--help"], ["--version"],
]
FILE_MODES = [[], ["--dedupe"], ["--json"], ["--dedupe", "--json"], ["--escape"], ["--uri"],
              ["--unescape"], ["--part", "node", "-q"]]


@pytest.mark.parametrize("args", MODES, ids=" ".join)
def test_full_output_is_an_io_error(args):
    with open("/dev/full", "wb") as full:
        result = _run(args, stdout=full)
    assert lines(result.stderr) == [FULL]
    assert result.returncode == 2


@pytest.mark.parametrize("args", FILE_MODES, ids=lambda a: " ".join(a) or "plain")
def test_full_output_stops_a_long_run(big, args):
    with open("/dev/full", "wb") as full:
        result = _run([*args, "-f", str(big)], stdout=full)
    assert lines(result.stderr) == [FULL]
    assert result.returncode == 2


@pytest.mark.parametrize("args, status", [
    (["A@B"], 2), (["a@@b"], 2), (["--dedupe", "a@b"], 2), (["--json", "a@b"], 2),
    (["-q", "A@B"], 0),  # nothing for standard error to take
    (["-q", "a@@b"], 1),
])
def test_full_error_stream_is_an_io_error(args, status):
    with open("/dev/full", "wb") as full:
        result = _run(args, stderr=full)
    assert result.stdout == _run(args).stdout  # the output is whole all the same
    assert result.returncode == status


@pytest.mark.parametrize("route", ["blocks", "per line"])
def test_error_stream_failing_mid_run_stops_it_with_the_output_so_far(big, route):
    # The progress line is the first thing written to standard error.
    args = ["--progress", "always", "-q", "-f", str(big)] + (["--json"] if route == "per line" else [])
    whole = _run(args).stdout
    with open("/dev/full", "wb") as full:
        result = _run(args, stderr=full)
    assert result.returncode == 2
    assert result.stdout.endswith(b"\n") and whole.startswith(result.stdout) and len(result.stdout) < len(whole)


def test_both_streams_full():
    with open("/dev/full", "wb") as out, open("/dev/full", "wb") as err:
        result = _run(["a@b"], stdout=out, stderr=err)
    assert result.returncode == 2


@pytest.mark.parametrize("args, out, status", [
    (["A@B"], ["a@b"], 0),
    (["--dedupe", "A@B", "a@b"], ["a@b (2 inputs)", "    arg 1: 'A@B'", "    arg 2: 'a@b'"], 0),
    (["--json", "--dedupe", "a@b"], None, 0),
    (["a@@b", "c@d"], ["arg 1: invalid 'a@@b': second @ found before parsing the resource", "c@d"], 1),
    (["a@b", "-f", "/nonexistent/x"], ["a@b"], 2),
])
def test_closed_error_stream_changes_nothing(args, out, status):
    result = _run(args, shell_redirect="2>&-")
    if out is not None:
        assert lines(result.stdout) == out
    assert result.returncode == status


def test_closed_error_stream_with_progress(big):
    result = _run(["--progress", "always", "-f", str(big)], shell_redirect="2>&-")
    assert len(lines(result.stdout)) == 30001 and result.returncode == 1


@pytest.mark.parametrize("args", [["a@b"], ["-f", "-"]])
def test_closed_output_is_an_io_error(args):
    result = _run(args, shell_redirect=">&-", stdin=b"a@b\n")
    assert lines(result.stderr) == [f"{PROG}: cannot write standard output: it is closed"]
    assert result.returncode == 2

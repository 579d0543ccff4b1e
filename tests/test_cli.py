"""The quorvel-jid command-line tool, run as a separate process."""

import json
import os
import pty
import subprocess
import sys

import pytest

from cli_support import SAMPLE, command, env, lines, run
from conftest import (IDNA, NAME_PREP, NODE_EMPTY, NODE_PREP, NODE_TOO_LONG, RESOURCE_EMPTY,
                      RESOURCE_PREP, RESOURCE_TOO_LONG, TOO_MANY_ATS)
from quorvel.jid import JID, InvalidJID

IN_BARE = "resource found while parsing a bare JID"
NOT_UTF8 = "not valid UTF-8"


@pytest.mark.parametrize("args, out, status", [
    (["User@Example.COM./Home"], ["user@example.com/Home"], 0),
    (["--part", "bare", "A@B/C"], ["a@b"], 0),
    (["--part", "node", "A@B/C", "b/c"], ["a", ""], 0),
    (["--part", "domain", "a@Straße.Example./r"], ["strasse.example"], 0),
    (["--part", "resource", "a@b/Home Office", "a@b"], ["Home Office", ""], 0),
    (["--unescape", "D\\27Artagnan", "c\\3a\\5cnet"], ["d'artagnan", "c:\\net"], 0),
    (["--unescape", "\\20foo"], [f"arg 1: invalid '\\\\20foo': {NODE_PREP}"], 1),
    (["--bare-only", "A@B", "a@b/c"], ["a@b", f"arg 2: invalid 'a@b/c': {IN_BARE}"], 1),
    (["a@b@c", "ok@b"], [f"arg 1: invalid 'a@b@c': {TOO_MANY_ATS}", "ok@b"], 1),
    ([""], [f"arg 1: invalid '': {IDNA}"], 1),
    (["a@b", "--", "-x"], ["a@b", f"arg 2: invalid '-x': {IDNA}"], 1),
])
def test_arguments(args, out, status):
    result = run(*args)
    assert lines(result.stdout) == out
    assert result.returncode == status


@pytest.mark.parametrize("args", [
    ["--part", "nope", "a@b"],
    ["--unescape", "--part", "bare", "a"],
    ["--unescape", "--bare-only", "a"],
    ["--no-such-option"],
])
def test_usage_errors_exit_2(args):
    result = run(*args)
    assert result.returncode == 2
    assert b"usage:" in result.stderr and result.stdout == b""


def test_missing_file_is_an_io_error_and_the_rest_still_runs(tmp_path):
    result = run("a@@b", "-f", str(tmp_path / "absent.txt"), "-f", "-", stdin=b"c@d\n")
    assert result.returncode == 2
    assert "absent.txt" in result.stderr.decode()
    assert lines(result.stdout)[1:] == ["c@d"]


def test_version_names_the_libraries_of_the_build():
    from quorvel import __version__, _build

    out = " ".join(run("--version").stdout.decode().split())  # argparse may wrap it
    assert out.startswith(f"python -m quorvel {__version__} (")
    assert "Unicode 16.0 (profiles), 17.0 (IDNA check))" in out
    assert (_build.PROFILES_UNICODE_VERSION, _build.IDNA_UNICODE_VERSION) == ("16.0", "17.0")


def test_build_record_matches_the_unicode_data_in_use():
    from quorvel import _build

    # The profiles carry their own Unicode 16.0 tables: U+1CCD6 (new in 16.0)
    # is accepted in a localpart on every machine, and U+A7F1 (new in 17.0)
    # refused though its 17.0 normal form is a plain 'S'.
    assert _build.PROFILES_UNICODE_VERSION == "16.0"
    assert JID("\U0001ccd6@example.com").node == "A"
    with pytest.raises(InvalidJID, match=NODE_PREP):
        JID("\ua7f1@example.com")
    # The IDNA check carries Unicode 17.0: U+323B0 (CJK Extension J, new in
    # 17.0) passes it and only Nameprep, at 16.0, refuses the domain.
    assert _build.IDNA_UNICODE_VERSION == "17.0"
    with pytest.raises(InvalidJID, match=NAME_PREP):
        JID("a@\U000323b0.example")


@pytest.mark.parametrize("stdin, args, out, status", [
    (b"A@B\r\nc@d\n", ["-f", "-"], ["a@b", "c@d"], 0),
    (b"A@B\nc@d", [], ["a@b", "c@d"], 0),  # no arguments: standard input
    (b"", ["-f", "-"], [], 0),
    (b"\n\n# a comment\n#\n", ["-f", "-"], [], 0),
    (b"# x\n\na@@b\n", ["-f", "-"], [f"<stdin>:3: invalid 'a@@b': {TOO_MANY_ATS}"], 1),
    (b"#chan@irc.example\n", ["-f", "-"], ["#chan@irc.example"], 0),
    (b"a@b/trailing space \n", ["-f", "-"], ["a@b/trailing space "], 0),
    (b"a@b\n\xff\xfe@x\nc@d\n", ["-f", "-"], ["a@b", f"<stdin>:2: invalid b'\\xff\\xfe@x': {NOT_UTF8}", "c@d"], 1),
])
def test_standard_input(stdin, args, out, status):
    result = run(*args, stdin=stdin)
    assert lines(result.stdout) == out
    assert result.returncode == status


def test_undecodable_argument_is_reported_not_fatal():
    result = run(b"\xffx@y", "a@b")
    assert lines(result.stdout) == [f"arg 1: invalid b'\\xffx@y': {NOT_UTF8}", "a@b"]
    assert result.returncode == 1


def test_long_inputs_are_cut_in_messages():
    result = run("x" * 5000 + "@b")
    message = lines(result.stdout)[0]
    assert message.endswith(f"(5002 characters): {NODE_TOO_LONG}") and len(message) < 200


def test_sample_covers_every_error_and_summarises():
    result = run("-f", str(SAMPLE))
    assert result.returncode == 1
    out = result.stdout.decode()
    for message in (NODE_EMPTY, RESOURCE_EMPTY, NODE_TOO_LONG, RESOURCE_TOO_LONG, NODE_PREP,
                    NAME_PREP, RESOURCE_PREP, TOO_MANY_ATS, IDNA):
        assert message in out
    entries = [ln for ln in SAMPLE.read_text("utf-8").splitlines() if ln and not ln.startswith("# ")]
    assert len(lines(result.stdout)) == len(entries)
    summary = lines(result.stderr)
    valid = sum(1 for ln in lines(result.stdout) if ": invalid " not in ln)
    assert summary[0] == (f"python -m quorvel: {len(entries)} inputs, {valid} valid, "
                          f"{len(entries) - valid} invalid")
    assert sum(int(ln.split()[0]) for ln in summary[1:]) == len(entries) - valid


def test_json_parses_back_and_agrees_with_the_module(tmp_path):
    sample = tmp_path / "mixed.txt"
    sample.write_bytes(SAMPLE.read_bytes() + b"\xc3(\n")
    result = run("--json", "-f", str(sample))
    records = [json.loads(ln) for ln in lines(result.stdout)]
    assert records and all(r["source"] == str(sample) for r in records)
    for r in records:
        if r["ok"]:
            j = JID(r["input"])
            assert (r["full"], r["bare"], r["domain"]) == (j.full, j.bare, j.domain)
            assert r["node"] == (j.node or None) and r["resource"] == (j.resource or None)
        else:
            assert set(r) == {"input", "source", "line", "ok", "error"}
    assert records[-1]["error"] == NOT_UTF8 and records[-1]["input"] == "\\xc3("


DEDUPE_INPUT = "a@b\nA@B\na@b.\n\uff41@b\na@b\nc@d/R\nC@D/r\nbad@@x\nc@d/R\n".encode()


def test_dedupe_groups_in_first_seen_order():
    result = run("--dedupe", "-f", "-", stdin=DEDUPE_INPUT)
    assert lines(result.stdout) == [
        f"<stdin>:8: invalid 'bad@@x': {TOO_MANY_ATS}",
        "a@b (5 inputs)",
        "    <stdin>:1: 'a@b'",
        "    <stdin>:2: 'A@B'",
        "    <stdin>:3: 'a@b.'",
        "    <stdin>:4: '\uff41@b'",
        "c@d/R (2 inputs)",
        "    <stdin>:6: 'c@d/R'",
        "c@d/r",
    ]
    assert lines(result.stderr)[0].endswith(
        "9 inputs, 8 valid, 1 invalid, 3 distinct, 2 duplicate groups")


def test_dedupe_by_part_and_as_json():
    result = run("--dedupe", "--part", "bare", "--json", "-f", "-", stdin=DEDUPE_INPUT)
    groups = [json.loads(ln) for ln in lines(result.stdout) if '"address"' in ln]
    assert [(g["address"], g["count"]) for g in groups] == [("a@b", 5), ("c@d", 3)]
    assert [i["line"] for i in groups[1]["inputs"]] == [6, 7]


@pytest.mark.parametrize("count, last", [
    (16, "    ... and 8 more inputs spelled otherwise"),
    (9, "    ... and 1 more input spelled otherwise"),
])
def test_dedupe_keeps_a_bounded_sample_of_spellings(count, last):
    spellings = ["".join(c.upper() if m >> k & 1 else c for k, c in enumerate("abcd")) + "@x"
                 for m in range(count)]
    result = run("--dedupe", *spellings)
    out = lines(result.stdout)
    assert out[0] == f"abcd@x ({count} inputs)"
    assert len(out) == 1 + 8 + 1 and out[-1] == last


def test_dedupe_json_stream_order_and_keys():
    # Invalid inputs as they are read, then the groups in first-seen order,
    # each with its keys in a fixed order.
    stdin = "a@b\nbad@@x\nA@B\n\u2c7d@c\nc@d\nx@@y\n".encode()
    records = [json.loads(ln) for ln in lines(run("--dedupe", "--json", "-f", "-", stdin=stdin).stdout)]
    assert [(r.get("address"), r.get("line")) for r in records] == [
        (None, 2), (None, 6), ("a@b", None), ("V@c", None), ("c@d", None)]
    assert list(records[0]) == ["input", "source", "line", "ok", "error"]
    assert list(records[2]) == ["address", "count", "inputs", "unlisted"]
    assert records[2]["inputs"] == [{"input": "a@b", "source": "-", "line": 1},
                                    {"input": "A@B", "source": "-", "line": 3}]
    assert list(records[3]) == ["address", "count", "inputs", "unlisted", "reads_back_as"]


@pytest.mark.parametrize("mode", [[], ["--json"], ["--escape"], ["--uri"], ["--unescape"],
                                  ["--part", "node"], ["--json", "--escape"]])
def test_dedupe_keeps_its_groups_in_the_compact_store(monkeypatch, capsys, mode):
    # A million distinct values as Python objects took four times the memory
    # of the native store; every mode must use the latter.
    from quorvel import _report, cli
    from quorvel._blocks import Groups

    stores = []
    write_groups = _report.Report.write_groups

    def spy(self, read_back):
        stores.append(type(self.groups))
        return write_groups(self, read_back)

    monkeypatch.setattr(_report.Report, "write_groups", spy)
    assert cli.main(["-q", "--dedupe", *mode, "user", "User", "other"]) == 0
    assert stores == [Groups]
    assert capsys.readouterr().out


# Values printed as stored that name another address when read back: U+2C7D
# and U+1D2C U+0301 normalise to capitals the case-folding table never saw,
# and U+1D35 U+0307 to U+0130, whose fold is one byte longer per character
# (341 of them still fit a localpart when folded; more are refused).
LONG = "\u1d35\u0307" * 341 + "@b"
LONG_BACK = "i\u0307" * 341
READ_BACK_INPUT = f"\u2c7d@example.com\nv@example.com\n\u2c7d@Example.COM.\n\u1d2c\u0301@b\n{LONG}\n".encode()


@pytest.mark.parametrize("args, headers, summary", [
    *[(args, ["V@example.com (2 inputs; reads back as v@example.com)", "v@example.com",
              "\u00c1@b (reads back as \u00e1@b)", "\u0130" * 341 + f"@b (reads back as {LONG_BACK}@b)"],
       "5 inputs, 5 valid, 0 invalid, 4 distinct, 1 duplicate group, 3 values read back otherwise")
      for args in (["--bare-only"], ["--part", "bare"])],
    ([], ["V@example.com (2 inputs; reads back as v@example.com)", "v@example.com",
          "\u00c1@b (reads back as \u00e1@b)", "\u0130" * 341 + f"@b (reads back as {LONG_BACK}@b)"],
     "5 inputs, 5 valid, 0 invalid, 4 distinct, 1 duplicate group, 3 values read back otherwise"),
    (["--part", "node"], ["V (2 inputs; reads back as v)", "v", "\u00c1 (reads back as \u00e1)",
                          "\u0130" * 341 + f" (reads back as {LONG_BACK})"],
     "5 inputs, 5 valid, 0 invalid, 4 distinct, 1 duplicate group, 3 values read back otherwise"),
    (["--part", "domain"], ["example.com (3 inputs)", "b (2 inputs)"],
     "5 inputs, 5 valid, 0 invalid, 2 distinct, 2 duplicate groups"),
    (["--part", "resource", "--bare-only"], [" (5 inputs)"],
     "5 inputs, 5 valid, 0 invalid, 1 distinct, 1 duplicate group"),
])  # fmt: skip
def test_dedupe_says_which_values_read_back_otherwise(args, headers, summary):
    result = run("--dedupe", *args, "-f", "-", stdin=READ_BACK_INPUT)
    assert [ln for ln in lines(result.stdout) if not ln.startswith("    ")] == headers
    assert lines(result.stderr)[0].endswith(summary)


@pytest.mark.parametrize("args, stdin, headers", [
    # Escaped localparts are read back as localparts, not as whole addresses.
    (["--escape"], "D'Artagnan\nd'artagnan\n\u2c7d\n", ["d\\27artagnan (2 inputs)", "v"]),
    # URIs and display text are not addresses: nothing to read back.
    (["--uri"], "a@b\nA@B\n", ["xmpp:a@b (2 inputs)"]),
    (["--unescape"], "d\\27artagnan\nD\\27Artagnan\n", ["d'artagnan (2 inputs)"]),
])  # fmt: skip
def test_dedupe_reads_back_only_what_the_mode_prints_as_an_address(args, stdin, headers):
    result = run("--dedupe", *args, "-f", "-", stdin=stdin.encode())
    assert [ln for ln in lines(result.stdout) if not ln.startswith("    ")] == headers


def test_dedupe_json_names_the_read_back_value():
    result = run("--dedupe", "--json", "-f", "-", stdin=READ_BACK_INPUT)
    groups = {g["address"]: g for g in map(json.loads, lines(result.stdout))}
    assert groups["V@example.com"]["reads_back_as"] == "v@example.com"
    assert "reads_back_as" not in groups["v@example.com"]
    long = groups["\u0130" * 341 + "@b"]
    assert long["reads_back_as"] == LONG_BACK + "@b" and "read_back_error" not in long


def test_quiet_drops_the_summary():
    assert run("-q", "a@@b").stderr == b""


def _big_input(tmp_path, count=30000):
    path = tmp_path / "big.txt"
    path.write_bytes(b"".join(b"user%d@Example.COM\n" % i for i in range(count)))
    return path


def test_progress_on_request_and_not_on_a_pipe(tmp_path):
    path = _big_input(tmp_path)
    forced = run("--progress", "always", "-q", "-f", str(path))
    assert b"%" in forced.stderr and forced.stderr.endswith(b"\r\x1b[K")
    assert len(lines(forced.stdout)) == 30000
    auto = run("-q", "-f", str(path))
    assert auto.stderr == b""


def test_progress_stays_off_for_a_small_file_on_a_terminal(tmp_path):
    path = _big_input(tmp_path, 100)
    main, secondary = pty.openpty()
    try:
        result = subprocess.run(command("-q", "-f", str(path)), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=secondary, env=env(), timeout=60)
        os.close(secondary)
        secondary = -1
        os.set_blocking(main, False)
        try:
            seen = os.read(main, 4096)
        except (BlockingIOError, OSError):
            seen = b""
    finally:
        if secondary >= 0:
            os.close(secondary)
        os.close(main)
    assert result.returncode == 0 and seen == b""


def test_broken_pipe_is_quiet(tmp_path):
    path = _big_input(tmp_path, 200000)
    proc = subprocess.Popen(command("-f", str(path)), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env())
    assert proc.stdout.readline() == b"user0@example.com\n"
    proc.stdout.close()
    err = proc.stderr.read()
    proc.stderr.close()
    assert proc.wait(timeout=120) == 141
    assert err == b""


def test_console_script_is_installed_with_the_package():
    script = os.path.join(os.path.dirname(sys.executable), "quorvel-jid")
    if not os.path.exists(script):
        pytest.skip("the package is not installed in this interpreter's environment")
    result = subprocess.run([script, "A@B"], capture_output=True, timeout=60)
    assert result.stdout == b"a@b\n" and result.returncode == 0


@pytest.mark.parametrize("args, out, status", [
    (["--escape", "d'artagnan", "c:\\5commas", "D'Artagnan"], ["d\\27artagnan", "c\\3a\\5c5commas", "d\\27artagnan"], 0),
    (["--escape", " x", ""], [f"arg 1: invalid ' x': {NODE_PREP}", f"arg 2: invalid '': {NODE_EMPTY}"], 1),
    (["--uri", "Juliet@Capulet.example/Balcony", "ji\u0159i@\u010dechy.example/v Praze", "a@@b"],
     ["xmpp:juliet@capulet.example/Balcony", "xmpp:ji%C5%99i@%C4%8Dechy.example/v%20Praze",
      f"arg 3: invalid 'a@@b': {TOO_MANY_ATS}"], 1),
    (["--uri", "--bare-only", "a@b/c"], [f"arg 1: invalid 'a@b/c': {IN_BARE}"], 1),
])
def test_escape_and_uri_modes(args, out, status):
    result = run(*args)
    assert lines(result.stdout) == out
    assert result.returncode == status


def test_escape_is_the_inverse_of_unescape():
    names = ["d'artagnan", "c:\\net", "user@host", "\\5c"]
    escaped = lines(run("-q", "--escape", *names).stdout)
    assert lines(run("-q", "--unescape", *escaped).stdout) == names


@pytest.mark.parametrize("args, record", [
    (["--escape", "a b"], {"escaped": "a\\20b"}),
    (["--uri", "A@B/c d"], {"uri": "xmpp:a@b/c%20d", "full": "a@b/c d"}),
])
def test_escape_and_uri_in_json(args, record):
    (line,) = lines(run("-q", "--json", *args).stdout)
    assert json.loads(line) == {"input": args[1], "source": "arg", "line": 1, "ok": True, **record}


@pytest.mark.parametrize("args", [
    ["--escape", "--bare-only", "a"],
    ["--escape", "--unescape", "a"],
    ["--uri", "--part", "bare", "a"],
])
def test_escape_and_uri_usage_errors(args):
    result = run(*args)
    assert result.returncode == 2
    assert b"usage:" in result.stderr and result.stdout == b""

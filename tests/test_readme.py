"""The README runs as written: its Python examples as doctests, and the quick
start's console sessions against what the make targets print."""

from __future__ import annotations

import doctest
import pathlib
import re
import shlex
import subprocess
import sys

import pytest

from cli_support import ROOT, SAMPLE, env

README = ROOT / "README.md"
SCRIPTS = ROOT / "scripts"
if not README.is_file():
    pytest.skip("no README beside the tests", allow_module_level=True)

# A line of a sample session that stands for any run of lines, none included.
GAP = "..."
# What the make scripts' `log` helper puts before each stage line.
STAGE = "==> "


@pytest.mark.thread_unsafe(reason='doctest swaps sys.stdout, which every thread writes to')
def test_readme_examples():
    blocks = re.findall(r"```python\n(.*?)```", README.read_text("utf-8"), re.S)
    assert blocks
    test = doctest.DocTestParser().get_doctest("\n".join(blocks), {}, "README.md", str(README), 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    assert runner.summarize(verbose=False).failed == 0


# ---- the quick start's console sessions ------------------------------------


def fits(pattern: list[str], lines: list[str]) -> bool:
    """Whether `lines` read as `pattern`, in which a GAP line matches any run
    of lines (none included) and every other line matches itself."""
    segments: list[list[str]] = [[]]
    for line in pattern:
        if line == GAP:
            segments.append([])
        else:
            segments[-1].append(line)
    if len(segments) == 1:
        return pattern == lines
    first, *middle, last = segments
    if lines[:len(first)] != first or len(lines) < len(first) + len(last):
        return False
    position = len(first)
    # Taking each middle segment where it first fits leaves the most room
    # for the ones after it, so no other placement can succeed where this fails.
    for segment in middle:
        found = next((i for i in range(position, len(lines) - len(segment) + 1)
                      if lines[i:i + len(segment)] == segment), None)
        if found is None:
            return False
        position = found + len(segment)
    return len(lines) - len(last) >= position and lines[len(lines) - len(last):] == last


@pytest.mark.parametrize("pattern, lines, expected", [
    ([], [], True),
    (["a"], ["a"], True),
    (["a"], ["a", "b"], False),
    ([GAP], [], True),
    ([GAP], ["a", "b"], True),
    (["a", GAP], ["a"], True),
    (["a", GAP], ["b", "a"], False),
    ([GAP, "b"], ["a", "b"], True),
    ([GAP, "b"], ["b", "a"], False),
    (["a", GAP, "c"], ["a", "c"], True),
    (["a", GAP, "c"], ["a", "b", "b", "c"], True),
    (["a", GAP, "a"], ["a"], False),  # the two ends may not share a line
    (["a", GAP, "b", GAP, "c"], ["a", "x", "b", "y", "c"], True),
    (["a", GAP, "b", GAP, "c"], ["a", "c", "b"], False),
    ([GAP, "b", "c", GAP], ["b", "x", "b", "c"], True),  # the second "b" starts the run
    ([GAP, "b", GAP, "b"], ["b"], False),
])
def test_gap_matching(pattern, lines, expected):
    assert fits(pattern, lines) is expected


def session(command: str) -> list[str]:
    """The lines a console block of the README shows after `$ command`, up
    to the next prompt (trailing blank lines dropped)."""
    for block in re.findall(r"```console\n(.*?)```", README.read_text("utf-8"), re.S):
        lines = block.splitlines()
        for i, line in enumerate(lines):
            if line == f"$ {command}" or line.startswith(f"$ {command} "):
                rest = lines[i + 1:]
                end = next((k for k, line in enumerate(rest) if line.startswith("$ ")), len(rest))
                shown = rest[:end]
                while shown and not shown[-1]:
                    shown.pop()
                return shown
    raise AssertionError(f"no console session of {command!r} in the README")


def stage_patterns(script: str) -> list[re.Pattern[str]]:
    """The stage lines a make script prints itself, in order, as patterns:
    its own `log "..."` calls (lib.sh's appear only on a fresh machine), with
    each shell variable standing for any text, since the README writes paths
    as /path/to/quorvel."""
    text = (SCRIPTS / script).read_text("utf-8")
    messages = re.findall(r'^\s*log "(.*)"$', text, re.M)
    assert messages, f"no log lines in {script}"
    return [re.compile(re.sub(r"\\\$(?:\{\w+\}|\w+)", ".+", re.escape(STAGE + m)))
            for m in messages]


def stages_fit(shown: list[str], script: str) -> None:
    stages = [line for line in shown if line.startswith(STAGE)]
    patterns = stage_patterns(script)
    assert len(stages) == len(patterns), (stages, [p.pattern for p in patterns])
    for line, pattern in zip(stages, patterns):
        assert pattern.fullmatch(line), (line, pattern.pattern)


def demo_command() -> list[str]:
    """The tool's arguments as scripts/run.sh runs them over its default sample."""
    text = (SCRIPTS / "run.sh").read_text("utf-8")
    sample = re.search(r'^SAMPLE="\$\{1:-(.*)\}"$', text, re.M).group(1)
    call = re.search(r'^"\$VENV/bin/quorvel-jid" (.*?) \|\|', text, re.M).group(1)
    return shlex.split(call.replace('"$SAMPLE"', shlex.quote(sample)))


def run_tool(args: list[str]) -> subprocess.CompletedProcess[bytes]:
    # The console script pip installs beside the interpreter, or, against a
    # build tree, what that script does: the prefix of the summary lines is
    # the program's name, so `python -m quorvel` would not do.
    script = pathlib.Path(sys.executable).with_name("quorvel-jid")
    if script.is_file():
        command = [str(script), *args]
    else:
        command = [sys.executable, "-c", "import sys; from quorvel.cli import main; sys.exit(main())",
                   *args]
    return subprocess.run(command, cwd=ROOT, capture_output=True, env=env(), timeout=120)


def test_make_run_session_shows_what_the_tool_prints():
    if not SAMPLE.is_file():
        pytest.skip("no sample beside the tests")
    shown = session("make run")
    # The make script's own stage lines, which frame the tool's output.
    stages_fit(shown, "run.sh")
    command = [i for i, line in enumerate(shown) if line.startswith(STAGE + "quorvel-jid ")]
    assert len(command) == 1
    start = command[0]
    end = next(i for i in range(start + 1, len(shown)) if shown[i].startswith(STAGE))
    args = shlex.split(shown[start][len(STAGE):])[1:]
    assert args == demo_command()
    result = run_tool(args)
    assert result.returncode == 1  # the sample is a third invalid on purpose
    # What a terminal shows: the tool writes its lines to standard output
    # and its summary to standard error last.
    printed = (result.stdout + result.stderr).decode("utf-8").splitlines()
    expected = shown[start + 1:end]
    assert fits(expected, printed), "\n".join(
        ["README:", *expected, "", "the tool:", *printed])


def test_make_test_session_shows_the_stages_only():
    shown = session("make test")
    stages_fit(shown, "test.sh")
    # Between the stages only gaps: counts and timings would drift.
    assert {line for line in shown if not line.startswith(STAGE)} == {GAP}

"""The command-line workload: quorvel-jid against the loops a user would write.

A seeded generator writes N addresses (default 1,000,000): 70% plain, 20%
with capitals, 7% non-ASCII, 3% invalid, drawn from pools small enough that
many normalise to the same value, so that --dedupe has groups to build. The
file is made in a temporary directory on every run and never kept.

Four commands read it, each in a process of its own, writing to /dev/null,
interleaved over the rounds: the tool, the tool with --dedupe, and the two
naive loops (a JID per line, its str written, the InvalidJIDs counted; and
the same loop grouping JIDs into a dict of line numbers, then printing the
groups). Wall time and peak resident memory of each; the medians are
reported. Each process reads its own peak (VmHWM) as it exits: the ru_maxrss
that wait4 gives also holds the memory of the process that started it, which
a fork or vfork shares until the exec, so under bench.py (a process of some
65 MB) every command had shown 65 MB.

Two more tables follow. Long lines: the tool over one line of 10M, 40M and
80M characters without a newline, whose cost per character must not grow
with the length (reading it had searched all the bytes held so far for a
newline after every read: 0.09 s for 10M, 4-5 s for 80M). Start-up, the
tool over an empty file in the same rounds, is the floor taken off before
the per-character cost is worked out. And --dedupe over N distinct values
in each mode that groups (plain, --json, --escape, --uri, --unescape): the
peak memory above the same floor, per value, which every mode must keep
near plain --dedupe's (a mode whose groups went to Python objects took four
times as much).

Usage: cli_bench.py [--lines N] [--rounds R] [--json OUT]
"""

from __future__ import annotations

import argparse
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time
from collections.abc import Iterator

# Run first in every measured process: writes the peak resident memory of
# its own address space, in kB, to the file QUORVEL_BENCH_PEAK names.
PEAK = r"""
import atexit, os
def _peak(path=os.environ["QUORVEL_BENCH_PEAK"]):
    with open("/proc/self/status") as f:
        kb = next(line.split()[1] for line in f if line.startswith("VmHWM:"))
    with open(path, "w") as out:
        out.write(kb)
atexit.register(_peak)
"""

# The tool as `python -m quorvel` runs it.
TOOL = r"""
import runpy
runpy.run_module("quorvel", run_name="__main__", alter_sys=True)
"""

NAIVE = r"""
import sys
from quorvel.jid import JID, InvalidJID
invalid = 0
write = sys.stdout.write
with open(sys.argv[1], encoding="utf-8") as f:
    for line in f:
        try:
            write(str(JID(line.rstrip("\n"))) + "\n")
        except InvalidJID:
            invalid += 1
print(invalid, "invalid", file=sys.stderr)
"""

NAIVE_DEDUPE = r"""
import sys
from quorvel.jid import JID, InvalidJID
invalid = 0
groups = {}
with open(sys.argv[1], encoding="utf-8") as f:
    for n, line in enumerate(f, 1):
        try:
            groups.setdefault(JID(line.rstrip("\n")), []).append(n)
        except InvalidJID:
            invalid += 1
write = sys.stdout.write
for jid, lines in groups.items():
    write(f"{jid} {len(lines)} {lines[0]}\n")
print(invalid, "invalid", file=sys.stderr)
"""

DOMAINS = ["example.com", "example.org", "mail.example.net", "chat.example", "xmpp.example.de",
           "im.example.co.uk", "jabber.example", "conference.example.com"]
UNICODE_USERS = ["jürgen", "αλφα", "почта", "用户", "françois", "søren", "josé", "ñandú"]
UNICODE_DOMAINS = ["münchen.example", "пример.рф", "例子.中国", "straße.example", "ελ.example"]
INVALID = ["a@@{d}", "user{i}@exa mple.com", "@{d}", "user{i}@", "user{i}@{d}/",
           "us er{i}@{d}", "user{i}@-{d}", "user{i}@{d}..x", "<user{i}>@{d}", "user{i}@[{d}"]


def addresses(lines: int, seed: int = 13) -> Iterator[str]:
    """The generated mix, one address at a time (without its newline); the
    batch benchmark takes the same rows as a column."""
    rng = random.Random(seed)
    users = max(lines // 3, 10)
    for _ in range(lines):
        r = rng.random()
        i = rng.randrange(users)
        d = DOMAINS[i % len(DOMAINS)]
        resource = f"/res-{rng.randrange(4)}" if rng.random() < 0.5 else ""
        if r < 0.70:
            yield f"user{i}@{d}{resource}"
        elif r < 0.90:
            yield f"User{i}@{d.upper() if rng.random() < 0.5 else d.title()}{resource}"
        elif r < 0.97:
            u = UNICODE_USERS[i % len(UNICODE_USERS)]
            yield f"{u}{i}@{UNICODE_DOMAINS[i % len(UNICODE_DOMAINS)]}{resource}"
        else:
            yield rng.choice(INVALID).format(i=i, d=d)


def generate(path: str, lines: int, seed: int = 13) -> None:
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        for text in addresses(lines, seed):
            f.write(text + "\n")


def run_one(argv: list[str], peak_file: str) -> tuple[float, int, int]:
    """Wall seconds, peak RSS in bytes and exit status of one command."""
    env = dict(os.environ, QUORVEL_BENCH_PEAK=peak_file)
    with open(os.devnull, "wb") as sink:
        t0 = time.perf_counter()
        status = subprocess.call(argv, stdout=sink, stderr=subprocess.DEVNULL, env=env)
        elapsed = time.perf_counter() - t0
    with open(peak_file) as f:
        peak = int(f.read()) * 1024
    os.unlink(peak_file)
    return elapsed, peak, status


def commands(path: str) -> dict[str, list[str]]:
    py = sys.executable
    return {
        "tool": [py, "-c", PEAK + TOOL, "-f", path],
        "tool --dedupe": [py, "-c", PEAK + TOOL, "--dedupe", "-f", path],
        "tool --compare": [py, "-c", PEAK + TOOL, "--compare", "-f", path],
        "tool --profile rfc7622": [py, "-c", PEAK + TOOL, "--profile", "rfc7622", "-f", path],
        "naive loop": [py, "-c", PEAK + NAIVE, path],
        "naive dedupe loop": [py, "-c", PEAK + NAIVE_DEDUPE, path],
    }


def measure(lines: int, rounds: int) -> dict[str, dict[str, float]]:
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "addresses.txt")
        peak_file = os.path.join(tmp, "peak")
        generate(path, lines)
        cmds = commands(path)
        samples: dict[str, list[tuple[float, int]]] = {k: [] for k in cmds}
        for _ in range(rounds):
            for name, argv in cmds.items():
                seconds, rss, status = run_one(argv, peak_file)
                # The tool exits 1: the file holds invalid addresses.
                if status not in (0, 1):
                    raise SystemExit(f"{name} failed with status {status}")
                samples[name].append((seconds, rss))
    return {name: {"seconds": statistics.median(s for s, _ in v),
                   "max_rss_mb": statistics.median(r for _, r in v) / 1e6}
            for name, v in samples.items()}


def report_lines(r: dict[str, dict[str, float]], lines: int) -> list[str]:
    out = [f"quorvel-jid over {lines:,} generated addresses (70% plain, 20% capitals, "
           "7% non-ASCII, 3% invalid), median wall time and peak RSS"]
    pairs = [("tool", "naive loop"), ("tool --dedupe", "naive dedupe loop")]
    for tool, naive in pairs:
        t, n = r[tool], r[naive]
        ratio = t["seconds"] / n["seconds"]
        memory_ok = t["max_rss_mb"] <= n["max_rss_mb"]
        out.append(f"  {tool:<16}{t['seconds']:7.2f} s {t['max_rss_mb']:7.0f} MB   "
                   f"{naive:<18}{n['seconds']:7.2f} s {n['max_rss_mb']:7.0f} MB   "
                   f"x{ratio:.2f} (target <= 1.1: {'yes' if ratio <= 1.1 else 'NO'}; "
                   f"memory {'<=' if memory_ok else '>'} naive)")
    plain = r["tool"]["seconds"]
    for tool, target in (("tool --compare", COMPARE_TARGET), ("tool --profile rfc7622", None)):
        ratio = r[tool]["seconds"] / plain
        verdict = "" if target is None else f" (target <= {target}: {'yes' if ratio <= target else 'NO'})"
        out.append(f"  {tool:<24}{r[tool]['seconds']:7.2f} s {r[tool]['max_rss_mb']:7.0f} MB   "
                   f"x{ratio:.2f} the plain tool{verdict}")
    return out


# quorvel-jid --compare against the plain tool over the same file.
COMPARE_TARGET = 2.5


LONG_LINES = (10_000_000, 40_000_000, 80_000_000)
LONG_LINE_TARGET = 1.5  # per-character cost of the longest line against the shortest


def _median_runs(argv: list[str], rounds: int, peak_file: str) -> tuple[float, float]:
    """Median wall seconds and median peak RSS (bytes) of `rounds` runs."""
    runs = [run_one(argv, peak_file) for _ in range(rounds)]
    for _, _, status in runs:
        if status not in (0, 1):
            raise SystemExit(f"{argv[3:]} failed with status {status}")
    return statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs)


def measure_long_lines(rounds: int) -> dict[str, object]:
    py = sys.executable
    with tempfile.TemporaryDirectory() as tmp:
        peak_file = os.path.join(tmp, "peak")
        paths = {0: os.path.join(tmp, "empty.txt")}
        open(paths[0], "wb").close()
        for n in LONG_LINES:
            paths[n] = os.path.join(tmp, f"line{n}.txt")
            with open(paths[n], "wb") as f:
                f.write(b"x" * n)
        samples: dict[int, list[tuple[float, int]]] = {n: [] for n in paths}
        for _ in range(rounds):  # interleaved, like the table above
            for n, path in paths.items():
                seconds, rss, status = run_one([py, "-c", PEAK + TOOL, "-q", "-f", path], peak_file)
                if status not in (0, 1):
                    raise SystemExit(f"the tool over {n} characters failed with status {status}")
                samples[n].append((seconds, rss))
    floor = statistics.median(s for s, _ in samples[0])
    rows = []
    for n in LONG_LINES:
        seconds = statistics.median(s for s, _ in samples[n])
        rows.append({"characters": n, "seconds": seconds,
                     "ns_per_character": max(seconds - floor, 0.0) / n * 1e9,
                     "max_rss_mb": statistics.median(r for _, r in samples[n]) / 1e6})
    ratio = rows[-1]["ns_per_character"] / rows[0]["ns_per_character"] if rows[0]["ns_per_character"] else 0.0
    return {"floor_seconds": floor, "rows": rows, "ratio": ratio, "target": LONG_LINE_TARGET}


def long_line_report(r: dict[str, object]) -> list[str]:
    rows = r["rows"]
    assert isinstance(rows, list)
    out = [f"quorvel-jid over one line without a newline, median wall time (start-up "
           f"{r['floor_seconds']:.2f} s, the tool over an empty file, taken off per character)"]
    for row in rows:
        out.append(f"  {row['characters']:>11,} characters {row['seconds']:7.2f} s "
                   f"{row['ns_per_character']:6.2f} ns/char {row['max_rss_mb']:7.0f} MB")
    ratio = float(r["ratio"])  # type: ignore[arg-type]
    out.append(f"  per-character cost {LONG_LINES[-1] // 1_000_000}M vs {LONG_LINES[0] // 1_000_000}M: "
               f"{ratio:.2f}x (target <= {LONG_LINE_TARGET}: {'yes, linear' if ratio <= LONG_LINE_TARGET else 'NO'})")
    return out


DEDUPE_MODES = {"--dedupe": [], "--dedupe --json": ["--json"], "--dedupe --escape": ["--escape"],
                "--dedupe --uri": ["--uri"], "--dedupe --unescape": ["--unescape"]}
# Per value, the most a mode may take against plain --dedupe: the entry is
# the same, but where the printed value is not the input (a URI) the kept
# spelling needs bytes of its own, some 30 more here. Groups in Python
# objects took four times as much.
DEDUPE_MODE_TARGET = 1.5


def measure_dedupe_modes(lines: int, rounds: int) -> dict[str, object]:
    py = sys.executable
    with tempfile.TemporaryDirectory() as tmp:
        peak_file = os.path.join(tmp, "peak")
        addresses = os.path.join(tmp, "addresses.txt")
        localparts = os.path.join(tmp, "localparts.txt")
        empty = os.path.join(tmp, "empty.txt")
        # Distinct values, all valid: every input makes a group of its own.
        with open(addresses, "w") as a, open(localparts, "w") as n:
            for i in range(lines):
                a.write(f"user{i}@example.com/res\n")
                n.write(f"user{i}.name\n")
        open(empty, "wb").close()
        cmds = {"start-up": [py, "-c", PEAK + TOOL, "-q", "--dedupe", "-f", empty]}
        for name, extra in DEDUPE_MODES.items():
            path = localparts if extra in (["--escape"], ["--unescape"]) else addresses
            cmds[name] = [py, "-c", PEAK + TOOL, "-q", "--dedupe", *extra, "-f", path]
        samples: dict[str, list[tuple[float, int]]] = {k: [] for k in cmds}
        for _ in range(rounds):
            for name, argv in cmds.items():
                seconds, rss, status = run_one(argv, peak_file)
                if status != 0:
                    raise SystemExit(f"{name} failed with status {status}")
                samples[name].append((seconds, rss))
    floor = statistics.median(r for _, r in samples["start-up"])
    rows = {}
    for name in DEDUPE_MODES:
        rss = statistics.median(r for _, r in samples[name])
        rows[name] = {"seconds": statistics.median(s for s, _ in samples[name]), "max_rss_mb": rss / 1e6,
                      "bytes_per_value": (rss - floor) / lines}
    plain = rows["--dedupe"]["bytes_per_value"]
    for row in rows.values():
        row["vs_plain"] = row["bytes_per_value"] / plain if plain else 0.0
    return {"lines": lines, "floor_mb": floor / 1e6, "modes": rows, "target": DEDUPE_MODE_TARGET}


def dedupe_mode_report(r: dict[str, object]) -> list[str]:
    modes = r["modes"]
    assert isinstance(modes, dict)
    out = [f"quorvel-jid --dedupe over {r['lines']:,} distinct values, median peak RSS "
           f"(start-up {r['floor_mb']:.0f} MB taken off per value)"]
    for name, row in modes.items():
        ok = row["vs_plain"] <= DEDUPE_MODE_TARGET
        out.append(f"  {name:<20}{row['seconds']:7.2f} s {row['max_rss_mb']:7.0f} MB "
                   f"{row['bytes_per_value']:6.0f} B/value  x{row['vs_plain']:.2f} of plain "
                   f"(target <= {DEDUPE_MODE_TARGET}: {'yes' if ok else 'NO'})")
    return out


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--lines", type=int, default=1_000_000)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--json")
    args = ap.parse_args()
    r = measure(args.lines, args.rounds)
    long_lines = measure_long_lines(args.rounds)
    modes = measure_dedupe_modes(args.lines, args.rounds)
    print("\n".join(report_lines(r, args.lines) + long_line_report(long_lines) + dedupe_mode_report(modes)))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"lines": args.lines, "rounds": args.rounds, "results": r,
                       "long_lines": long_lines, "dedupe_modes": modes}, f, indent=2)


if __name__ == "__main__":
    main()

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
reported.

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


def generate(path: str, lines: int, seed: int = 13) -> None:
    rng = random.Random(seed)
    users = max(lines // 3, 10)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        for _ in range(lines):
            r = rng.random()
            i = rng.randrange(users)
            d = DOMAINS[i % len(DOMAINS)]
            resource = f"/res-{rng.randrange(4)}" if rng.random() < 0.5 else ""
            if r < 0.70:
                text = f"user{i}@{d}{resource}"
            elif r < 0.90:
                text = f"User{i}@{d.upper() if rng.random() < 0.5 else d.title()}{resource}"
            elif r < 0.97:
                u = UNICODE_USERS[i % len(UNICODE_USERS)]
                text = f"{u}{i}@{UNICODE_DOMAINS[i % len(UNICODE_DOMAINS)]}{resource}"
            else:
                text = rng.choice(INVALID).format(i=i, d=d)
            f.write(text + "\n")


def run_one(argv: list[str]) -> tuple[float, int, int]:
    """Wall seconds, peak RSS in bytes and exit status of one command."""
    with open(os.devnull, "wb") as sink:
        t0 = time.perf_counter()
        proc = subprocess.Popen(argv, stdout=sink, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - t0
    proc.returncode = os.waitstatus_to_exitcode(status)
    return elapsed, usage.ru_maxrss * 1024, proc.returncode


def commands(path: str) -> dict[str, list[str]]:
    py = sys.executable
    return {
        "tool": [py, "-m", "quorvel", "-f", path],
        "tool --dedupe": [py, "-m", "quorvel", "--dedupe", "-f", path],
        "naive loop": [py, "-c", NAIVE, path],
        "naive dedupe loop": [py, "-c", NAIVE_DEDUPE, path],
    }


def measure(lines: int, rounds: int) -> dict[str, dict[str, float]]:
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "addresses.txt")
        generate(path, lines)
        cmds = commands(path)
        samples: dict[str, list[tuple[float, int]]] = {k: [] for k in cmds}
        for _ in range(rounds):
            for name, argv in cmds.items():
                seconds, rss, status = run_one(argv)
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
    return out


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--lines", type=int, default=1_000_000)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--json")
    args = ap.parse_args()
    r = measure(args.lines, args.rounds)
    print("\n".join(report_lines(r, args.lines)))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"lines": args.lines, "rounds": args.rounds, "results": r}, f, indent=2)


if __name__ == "__main__":
    main()

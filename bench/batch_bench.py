"""The batch workload: quorvel.batch against the loop a user would write.

The rows are the command-line workload's generated mix (cli_bench.addresses:
70% plain, 20% with capitals, 7% non-ASCII, 3% invalid, seeded), held as a
list of str and as a pyarrow string array. Six figures, each with a target:

- normalise(list) and normalise(pyarrow array), threads=1, against
  `str(JID(x))` per row with the InvalidJID caught per row (None for an
  invalid row, so both give the same column: checked before timing);
- the Arrow call with threads=2 against threads=1;
- the Arrow call on plain ASCII addresses alone, as native time per row;
- dedupe() of the file as pyarrow's CSV reader streams it in against
  `quorvel-jid --dedupe` over the same file, both on one thread and each in a
  process of its own, with the peak memory above what the process held once
  its imports were done (and, for information, dedupe() of the file read
  whole into a column first);
- a Python thread counting in a loop while another thread runs the Arrow
  call, against the same loop alone: the lock must really be let go.

The in-process figures are medians of interleaved rounds (as in bench.py);
each round of the dedupe figure starts fresh processes, and each counting
round is one window with the other thread and one without.

Usage: batch_bench.py [--rows N] [--rounds R] [--count-seconds S] [--json OUT]
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from collections.abc import Callable
from typing import Any

import pyarrow as pa

import cli_bench
from quorvel import batch
from quorvel.jid import JID, InvalidJID

ROWS = 1_000_000
ROUNDS = 5
COUNT_SECONDS = 1.0

# key: (label, target, ">=" or "<=", unit of the figure)
ROWS_SHOWN: dict[str, tuple[str, float, str, str]] = {
    "list_vs_loop": ("normalise(list), threads=1, vs the loop", 2.0, ">=", "x"),
    "arrow_vs_loop": ("normalise(pyarrow), threads=1, vs the loop", 4.0, ">=", "x"),
    "threads_2_vs_1": ("Arrow, threads=2 vs threads=1", 1.7, ">=", "x"),
    "plain_ascii_ns": ("plain ASCII, Arrow in and out, threads=1", 40.0, "<=", "ns/row"),
    "dedupe_vs_tool": ("dedupe(file stream) vs quorvel-jid --dedupe", 3.0, ">=", "x"),
    "counting_kept": ("Python thread beside an Arrow normalise", 0.80, ">=", "of solo"),
}


def verdict(value: float, target: float, op: str) -> bool:
    return value >= target if op == ">=" else value <= target


# ---- inputs ------------------------------------------------------------------


def mix(rows: int) -> list[str]:
    return list(cli_bench.addresses(rows))


def plain_ascii(rows: int) -> list[str]:
    """The mix's plain rows alone: lowercase ASCII, valid, half with a resource."""
    domains = cli_bench.DOMAINS
    return [f"user{i}@{domains[i % len(domains)]}" + (f"/res-{i % 4}" if i % 2 else "")
            for i in range(rows)]


def loop(xs: list[str]) -> list[str | None]:
    """What a user writes without quorvel.batch."""
    out: list[str | None] = []
    append = out.append
    for x in xs:
        try:
            append(str(JID(x)))
        except InvalidJID:
            append(None)
    return out


# ---- in-process figures --------------------------------------------------------


def seconds(fn: Callable[[], Any]) -> float:
    t0 = time.perf_counter_ns()
    result = fn()
    elapsed = time.perf_counter_ns() - t0
    del result  # freed outside the timed region, whatever it holds
    return elapsed / 1e9


def measure_calls(rows: int, rounds: int) -> dict[str, Any]:
    xs = mix(rows)
    column = pa.array(xs, pa.string())
    plain = pa.array(plain_ascii(rows), pa.string())
    # The figures compare like with like only if every route gives the
    # loop's column.
    expected = loop(xs)
    if batch.normalise(xs, threads=1).text != expected:
        raise SystemExit("normalise(list) does not give the loop's column")
    for threads in (1, 2):
        if batch.normalise(column, threads=threads).text.to_pylist() != expected:
            raise SystemExit(f"normalise(pyarrow array, threads={threads}) does not give the loop's column")
    if any(e is not None for e in batch.normalise(plain, threads=1).error.to_pylist()):
        raise SystemExit("the plain ASCII rows are not all valid")
    del expected
    calls: dict[str, Callable[[], Any]] = {
        "loop": lambda: loop(xs),
        "list_1": lambda: batch.normalise(xs, threads=1),
        "arrow_1": lambda: batch.normalise(column, threads=1),
        "arrow_2": lambda: batch.normalise(column, threads=2),
        "plain_1": lambda: batch.normalise(plain, threads=1),
    }
    for fn in calls.values():  # warm: first-touch page faults, lazy imports
        seconds(fn)
    samples: dict[str, list[float]] = {k: [] for k in calls}
    gc.disable()
    try:
        for _ in range(rounds):
            for key, fn in calls.items():
                samples[key].append(seconds(fn))
            gc.collect()
    finally:
        gc.enable()
    return {k: statistics.median(v) for k, v in samples.items()}


# ---- dedupe against the tool, in processes of their own ------------------------

# Two ways a user dedupes a file, each in a process of its own. "stream":
# the file goes straight from pyarrow's streaming CSV reader (no delimiter
# or quoting the rows hold, so that a line is a row as written) into
# dedupe(), which groups batch by batch; the call's time includes the
# reading, as the tool's does. "column": the file is first read whole into
# one string column, then one dedupe() of it is timed. Peak memory is read
# from /proc/self/status (VmHWM), against the size after the imports and a
# first dedupe of a one-line file; in
# the column mode the peak is reset to the current size once the column is
# read (clear_refs), so that the call's own share shows apart from the
# reading's, where the kernel allows.
DEDUPE_CHILD = r"""
import json, sys, time
def status(key):
    with open("/proc/self/status") as f:
        return int(next(line.split()[1] for line in f if line.startswith(key + ":"))) * 1024
def reset_peak():
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False
import pyarrow as pa
from pyarrow import csv
from quorvel import batch
def reader(path=sys.argv[1]):
    return csv.open_csv(
        path,
        read_options=csv.ReadOptions(column_names=["a"], use_threads=False),
        parse_options=csv.ParseOptions(delimiter="\t", quote_char=False, escape_char=False),
        convert_options=csv.ConvertOptions(column_types={"a": pa.string()}, strings_can_be_null=False,
                                           quoted_strings_can_be_null=False))
# The reader's and the module's first use set up what every later use
# shares, as the tool's start-up over an empty file does for it: done once
# over a file of one line before the baseline is read.
batch.dedupe(reader(sys.argv[3]), threads=1)
after_imports = status("VmHWM")
if sys.argv[2] == "stream":
    t0 = time.perf_counter()
    texts = batch.dedupe(reader(), threads=1)
    elapsed = time.perf_counter() - t0
    print(json.dumps({"seconds": elapsed, "distinct": len(texts), "after_imports": after_imports,
                      "peak": status("VmHWM")}))
else:
    column = reader().read_all().column("a").combine_chunks()
    reset = reset_peak()
    with_column = status("VmRSS")
    t0 = time.perf_counter()
    texts = batch.dedupe(column, threads=1)
    elapsed = time.perf_counter() - t0
    call_peak = status("VmHWM")
    print(json.dumps({"seconds": elapsed, "distinct": len(texts), "column_bytes": column.nbytes,
                      "call_above_column": call_peak - with_column if reset else None}))
"""


def run_dedupe_child(path: str, mode: str, warm: str) -> dict[str, Any]:
    out = subprocess.run([sys.executable, "-c", DEDUPE_CHILD, path, mode, warm], check=True, capture_output=True,
                         text=True, env=os.environ.copy())
    return json.loads(out.stdout)


def measure_dedupe(rows: int, rounds: int) -> dict[str, Any]:
    py = sys.executable
    tool = [py, "-c", cli_bench.PEAK + cli_bench.TOOL, "-q", "--dedupe", "-f"]
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "addresses.txt")
        empty = os.path.join(tmp, "empty.txt")
        peak_file = os.path.join(tmp, "peak")
        cli_bench.generate(path, rows)
        open(empty, "wb").close()
        warm = os.path.join(tmp, "one.txt")
        with open(warm, "w", encoding="utf-8") as f:
            f.write("warm@up.example\n")
        # The tool's summary names the distinct values: both must find as many.
        summary = subprocess.run([py, "-m", "quorvel", "--dedupe", "-f", path], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, text=True, env=os.environ.copy()).stderr
        streams, columns, runs, starts = [], [], [], []
        for _ in range(rounds):
            streams.append(run_dedupe_child(path, "stream", warm))
            columns.append(run_dedupe_child(path, "column", warm))
            for argv, into in (([*tool, path], runs), ([*tool, empty], starts)):
                wall, peak, status = cli_bench.run_one(argv, peak_file)
                if status not in (0, 1):  # 1: the mix holds invalid addresses
                    raise SystemExit(f"{argv[3:]} failed with status {status}")
                into.append((wall, peak))
    distinct = streams[0]["distinct"]
    if f", {distinct} distinct," not in summary or columns[0]["distinct"] != distinct:
        raise SystemExit(f"dedupe found {distinct} distinct values; the tool said:\n{summary}")
    call = statistics.median(c["seconds"] for c in streams)
    start_up = statistics.median(w for w, _ in starts)
    wall = statistics.median(w for w, _ in runs)
    tool_work = max(wall - start_up, 1e-9)
    dedupe_mb = statistics.median(c["peak"] - c["after_imports"] for c in streams) / 1e6
    own = [c["call_above_column"] for c in columns if c["call_above_column"] is not None]
    tool_mb = (statistics.median(p for _, p in runs) - statistics.median(p for _, p in starts)) / 1e6
    return {"dedupe_seconds": call, "tool_seconds": wall, "tool_start_up_seconds": start_up,
            "tool_work_seconds": tool_work, "ratio": tool_work / call, "distinct": distinct,
            "dedupe_peak_above_imports_mb": dedupe_mb, "tool_peak_above_start_up_mb": tool_mb,
            "column_dedupe_seconds": statistics.median(c["seconds"] for c in columns),
            "column_mb": columns[0]["column_bytes"] / 1e6,
            "dedupe_call_above_column_mb": statistics.median(own) / 1e6 if own else None,
            "dedupe_memory_lower": dedupe_mb < tool_mb}


# ---- the interpreter lock ------------------------------------------------------


def count_for(duration: float) -> float:
    """Increments per second of a tight Python loop run for `duration` s."""
    clock = time.perf_counter
    n = 0
    t0 = clock()
    end = t0 + duration
    while True:
        i = 0
        while i < 1000:
            i += 1
        n += 1000
        now = clock()
        if now >= end:
            return n / (now - t0)


def count_beside(column: pa.StringArray, duration: float) -> tuple[float, int]:
    """The counting rate while another thread runs normalise over and over,
    and how many calls it finished meanwhile."""
    started, stop = threading.Event(), threading.Event()
    calls = [0]

    def work() -> None:
        started.set()
        while not stop.is_set():
            batch.normalise(column, threads=1)
            calls[0] += 1

    worker = threading.Thread(target=work)
    worker.start()
    started.wait()
    try:
        rate = count_for(duration)
    finally:
        stop.set()
        worker.join()
    return rate, calls[0]


def measure_counting(rows: int, rounds: int, duration: float) -> dict[str, Any]:
    column = pa.array(mix(rows), pa.string())
    batch.normalise(column, threads=1)
    solo, beside, calls = [], [], []
    for _ in range(rounds):
        solo.append(count_for(duration))
        rate, n = count_beside(column, duration)
        beside.append(rate)
        calls.append(n)
    s, b = statistics.median(solo), statistics.median(beside)
    return {"solo_per_s": s, "beside_per_s": b, "kept": b / s, "normalise_calls_per_window": min(calls),
            "window_seconds": duration}


# ---- report ----------------------------------------------------------------------


def measure(rows: int = ROWS, rounds: int = ROUNDS, count_seconds: float = COUNT_SECONDS) -> dict[str, Any]:
    t = measure_calls(rows, rounds)
    dedupe = measure_dedupe(rows, rounds)
    counting = measure_counting(rows, rounds, count_seconds)
    figures = {
        "list_vs_loop": t["loop"] / t["list_1"],
        "arrow_vs_loop": t["loop"] / t["arrow_1"],
        "threads_2_vs_1": t["arrow_1"] / t["arrow_2"],
        "plain_ascii_ns": t["plain_1"] / rows * 1e9,
        "dedupe_vs_tool": dedupe["ratio"],
        "counting_kept": counting["kept"],
    }
    table = []
    for key, (label, target, op, unit) in ROWS_SHOWN.items():
        table.append({"key": key, "workload": label, "value": figures[key], "unit": unit,
                      "target": target, "op": op, "met": verdict(figures[key], target, op)})
    return {"rows": rows, "rounds": rounds,
            "corpus": "cli_bench mix: 70% plain, 20% capitals, 7% non-ASCII, 3% invalid (seed 13)",
            "seconds": t, "table": table, "dedupe": dedupe, "counting": counting}


def _shown(value: float, unit: str) -> str:
    if unit == "x":
        return f"x{value:.2f}"
    if unit == "of solo":
        return f"{value:.0%} of solo"
    return f"{value:.1f} {unit}"


def _target(target: float, op: str, unit: str) -> str:
    if unit == "of solo":
        return f"{op} {target:.0%}"
    if unit == "x":
        return f"{op} {target:g}x"
    return f"{op} {target:g} ns"


def ms(seconds: float) -> str:
    return f"{seconds * 1e3:.1f} ms"


def report_lines(r: dict[str, Any]) -> list[str]:
    t, d, c = r["seconds"], r["dedupe"], r["counting"]
    out = [f"quorvel.batch over {r['rows']:,} addresses of the command-line mix, medians of {r['rounds']} rounds"]
    h = f"  {'workload':<44}{'measured':>16}  {'target':<10}met"
    out.append(h)
    out.append("  " + "-" * (len(h) - 2))
    for row in r["table"]:
        out.append(f"  {row['workload']:<44}{_shown(row['value'], row['unit']):>16}  "
                   f"{_target(row['target'], row['op'], row['unit']):<10}{'met' if row['met'] else 'NOT met'}")
    out.append(f"  loop {ms(t['loop'])}, normalise: list {ms(t['list_1'])}, Arrow {ms(t['arrow_1'])} "
               f"(threads=2 {ms(t['arrow_2'])}), plain ASCII Arrow {ms(t['plain_1'])}")
    out.append(f"  dedupe of the file as it streams in {ms(d['dedupe_seconds'])} against the tool's "
               f"{ms(d['tool_work_seconds'])} ({ms(d['tool_seconds'])} less {ms(d['tool_start_up_seconds'])} "
               f"start-up, over an empty file), {d['distinct']:,} distinct values")
    own = d["dedupe_call_above_column_mb"]
    out.append(f"  peak RSS above start-up: dedupe of the stream {d['dedupe_peak_above_imports_mb']:.1f} MB, "
               f"the tool {d['tool_peak_above_start_up_mb']:.1f} MB: "
               f"dedupe's {'lower' if d['dedupe_memory_lower'] else 'NOT lower'}")
    out.append(f"  dedupe of the column read whole ({d['column_mb']:.1f} MB) {ms(d['column_dedupe_seconds'])}"
               + ("" if own is None else f", the call {own:.1f} MB beyond the column"))
    out.append(f"  counting: {c['solo_per_s'] / 1e6:.1f}M/s alone, {c['beside_per_s'] / 1e6:.1f}M/s beside "
               f"normalise (at least {c['normalise_calls_per_window']} calls per {c['window_seconds']:g} s window)")
    return out


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--rows", type=int, default=ROWS)
    ap.add_argument("--rounds", type=int, default=ROUNDS)
    ap.add_argument("--count-seconds", type=float, default=COUNT_SECONDS,
                    help="length of each window of the counting loop")
    ap.add_argument("--json")
    args = ap.parse_args()
    r = measure(args.rows, args.rounds, args.count_seconds)
    print("\n".join(report_lines(r)))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"batch": r}, f, indent=2)


if __name__ == "__main__":
    main()

"""Threads that each construct and compare JIDs of their own, on whatever
interpreter runs this: throughput on 2 threads against 1, and the
one-thread cost against the floor module's (bench/floor/).

With the GIL two threads can only take turns, so their throughput stays
about that of one; on a free-threaded build they can run at once, and the
ratio shows how much of that the package lets through. Each thread works
on its own objects only, so no borrow is ever refused. Every figure is a
median of three rounds, each measured side by side with the others in the
same run.

Usage: threads_bench.py [--json OUT] [--threads N] [--rounds N]
"""

from __future__ import annotations

import argparse
import json
import statistics
import sys
import sysconfig
import threading
import time

import bench_floor
from quorvel.jid import JID

N = 1000
REPS = 500  # passes over the thread's inputs per measurement (some 0.1 s on one thread)


def texts(thread):
    return [f"user{i}.t{thread}@example.com/res-{i % 10}" for i in range(N)]


def inputs(make, thread):
    """A thread's own texts, each with an equal object made beforehand."""
    return [(t, make(t)) for t in texts(thread)]


def work(make, pairs):
    """The per-thread loop: construct from text, compare with the object
    made before; returns the operations done."""
    equal = 0
    for _ in range(REPS):
        for t, other in pairs:
            if make(t) == other:
                equal += 1
    assert equal == REPS * N
    return REPS * N


def throughput(make, threads):
    """Operations per second over `threads` threads started together."""
    barrier = threading.Barrier(threads + 1)
    done = [0] * threads

    def body(i):
        pairs = inputs(make, i)  # made before the clock starts
        barrier.wait()
        done[i] = work(make, pairs)

    pool = [threading.Thread(target=body, args=(i,)) for i in range(threads)]
    for t in pool:
        t.start()
    barrier.wait()
    t0 = time.perf_counter()
    for t in pool:
        t.join()
    elapsed = time.perf_counter() - t0
    return sum(done) / elapsed


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--json")
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args(argv)

    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    gil = sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True
    samples = {"jid_1": [], "jid_n": [], "floor_1": [], "floor_n": []}
    for _ in range(args.rounds):
        samples["jid_1"].append(throughput(JID, 1))
        samples["floor_1"].append(throughput(bench_floor.VectorFloor, 1))
        samples["jid_n"].append(throughput(JID, args.threads))
        # The floor's own scaling: what the interpreter and the machine let
        # any extension type reach, the bound for JID's.
        samples["floor_n"].append(throughput(bench_floor.VectorFloor, args.threads))
    med = {k: statistics.median(v) for k, v in samples.items()}
    result = {
        "interpreter": sys.version.split()[0] + ("t" if free_threaded else ""),
        "gil_enabled": gil,
        "threads": args.threads,
        "jid_ops_per_s_1": med["jid_1"],
        "jid_ops_per_s_n": med["jid_n"],
        "scaling": med["jid_n"] / med["jid_1"],
        "floor_scaling": med["floor_n"] / med["floor_1"],
        # Time per operation of JID over the floor's, on one thread.
        "jid_vs_floor": med["floor_1"] / med["jid_1"],
    }
    print(f"{result['interpreter']:<10} GIL {'on ' if gil else 'off'}  "
          f"{args.threads} threads vs 1: x{result['scaling']:.2f} (floor x{result['floor_scaling']:.2f})  "
          f"(1 thread {med['jid_1'] / 1e6:.2f} M ops/s)  "
          f"1 thread, JID vs floor: x{result['jid_vs_floor']:.2f}")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(result, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

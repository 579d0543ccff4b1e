"""Whether quorvel.batch gives its memory back: a large pyarrow column (ten
million addresses of the command-line mix by default, a million-row column
repeated) normalised, then grouped, several times over in one process, with
the resident size read from /proc/self/status after each call and the
results dropped. A leak, or buffers that outlive their results, shows as a
resident size that climbs from one round to the next; a flat line is the
figure to report. The first round's growth is the allocator taking pages it
keeps for reuse.

    python bench/batch_memory.py [--rows N] [--rounds K]

Linux only (it reads /proc). Prints one line per call and a verdict.
"""

from __future__ import annotations

import argparse
import gc
import sys

import pyarrow as pa

from quorvel import batch

import batch_bench


def status_kb(key: str) -> int:
    with open("/proc/self/status") as f:
        return int(next(line.split()[1] for line in f if line.startswith(key + ":")))


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--rows", type=int, default=10_000_000)
    ap.add_argument("--rounds", type=int, default=6)
    ap.add_argument("--threads", type=int, default=1)
    args = ap.parse_args()
    block = min(args.rows, 1_000_000)
    base = pa.array(batch_bench.mix(block), pa.string())
    column = pa.concat_arrays([base] * (args.rows // block))
    del base
    gc.collect()
    start = status_kb("VmRSS")
    print(f"{len(column):,} rows ({column.nbytes / 1e6:.0f} MB), resident {start / 1e3:.0f} MB before the calls")
    after: dict[str, list[int]] = {"normalise": [], "group": []}
    for r in range(args.rounds):
        for name, call in (("normalise", lambda: batch.normalise(column, threads=args.threads)),
                           ("group", lambda: batch.group(column, threads=args.threads))):
            result = call()
            held = status_kb("VmRSS")
            del result
            gc.collect()
            after[name].append(status_kb("VmRSS"))
            print(f"  round {r + 1} {name:<9}: resident {held / 1e3:7.0f} MB holding the result, "
                  f"{after[name][-1] / 1e3:7.0f} MB after dropping it")
    # From the fourth round on, every call must end where the third left off.
    settled = [v[2] if len(v) > 2 else v[-1] for v in after.values()]
    climb = max(max(v[3:]) - v[2] for v in after.values()) if args.rounds > 3 else 0
    flat = climb <= max(16_000, max(settled) // 50)
    print(f"peak {status_kb('VmHWM') / 1e3:.0f} MB; after round 3 {max(settled) / 1e3:.0f} MB, largest climb "
          f"in the rounds after it {climb / 1e3:.1f} MB: {'flat' if flat else 'NOT flat'}")
    sys.exit(0 if flat else 1)


if __name__ == "__main__":
    main()

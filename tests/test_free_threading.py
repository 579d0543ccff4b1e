"""Threads that really overlap: what sharing a JID, a Groups or an input
list between threads may and may not do, on any build, and that the
package keeps a free-threaded interpreter free of the GIL.

With the GIL no JID access ever overlaps another, so no conflict may be
seen there at all; on a free-threaded build a writer overlapping any access
raises the documented RuntimeError, and nothing ever shows a torn value.
"""

import copy
import os
import pickle
import subprocess
import sys
import sysconfig
import textwrap
import threading
import time

import pytest

from quorvel.jid import JID, InvalidJID

from thread_support import overlapping as run_overlapping

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
THREADS = 8
# Threads only really overlap without the GIL; with it a short run shows
# that nothing is refused, and keeps make test quick.
BUDGET = 0.75 if os.environ.get("QUORVEL_SANITIZED") else (1.5 if FREE_THREADED else 0.4)

# The two messages of a refused borrow: a read while a writer holds the
# value, and a write while anyone does.
CONFLICTS = {"Already mutably borrowed", "Already borrowed"}

NODES = ("a", "x")
DOMAINS = ("b", "y.example")
RESOURCES = ("c", "R")
# Every value a sequence of whole assignments of the parts above (or of a
# whole address made of them) can leave.
LEGAL = {f"{n}@{d}/{r}" for n in NODES for d in DOMAINS for r in RESOURCES}
LEGAL_BARE = {f"{n}@{d}" for n in NODES for d in DOMAINS}
LEGAL_HASHES = {hash(s) for s in LEGAL}

pytestmark = pytest.mark.thread_unsafe(reason="starts threads of its own and changes the switch interval")


def overlapping(worker, count=THREADS):
    """Runs worker(i, deadline) on `count` threads started together; returns
    their results. Any exception in a worker fails the test."""
    return run_overlapping(worker, count, BUDGET)


# Each read, with the set its answer must lie in.
READS = [
    ("str", lambda j: str(j), LEGAL),
    ("full", lambda j: j.full, LEGAL),
    ("bare", lambda j: j.bare, LEGAL_BARE),
    ("node", lambda j: j.node, set(NODES)),
    ("domain", lambda j: j.domain, set(DOMAINS)),
    ("resource", lambda j: j.resource, set(RESOURCES)),
    ("hash", hash, LEGAL_HASHES),
    ("pickle", lambda j: str(pickle.loads(pickle.dumps(j))), LEGAL),
    ("copy", lambda j: str(copy.copy(j)), LEGAL),
    ("JID(j)", lambda j: str(JID(j)), LEGAL),
    ("getstate", lambda j: j.__getstate__(), LEGAL),
    ("== self", lambda j: j == j, {True}),
    ("== str", lambda j: j == "a@b/c", {True, False}),
    ("bool", bool, {True}),
]

# Each write: every one leaves a legal value, the refused one (InvalidJID)
# the value it found.
WRITES = [
    lambda j, k: setattr(j, "node", NODES[k % 2]),
    lambda j, k: setattr(j, "domain", DOMAINS[k % 2]),
    lambda j, k: setattr(j, "resource", RESOURCES[k % 2]),
    lambda j, k: j.__setstate__(sorted(LEGAL)[k % len(LEGAL)]),
    lambda j, k: setattr(j, "full", sorted(LEGAL)[(k * 3) % len(LEGAL)]),
]


def invalid_write(j, k):
    with pytest.raises(InvalidJID):
        j.domain = "a..b"


def test_shared_jids_readers_and_writers():
    shared = [JID("a@b/c"), JID("x@y.example/R")]
    read_only = JID("a@b/c")

    def worker(i, deadline):
        seen = {"reads": 0, "writes": 0, "conflicts": 0}
        writer = i % 4 == 0  # two of the eight threads write, the rest only read
        k = i
        while time.monotonic() < deadline:
            k += 1
            target = shared[k % 2]
            try:
                if writer:
                    (WRITES[k % len(WRITES)] if k % 7 else invalid_write)(target, k)
                    seen["writes"] += 1
                else:
                    name, read, legal = READS[k % len(READS)]
                    value = read(target)
                    assert value in legal, (name, value)
                    seen["reads"] += 1
            except RuntimeError as exc:
                assert str(exc) in CONFLICTS, exc
                seen["conflicts"] += 1
            # A JID no thread writes is never refused.
            assert str(read_only) == "a@b/c" and hash(read_only) == hash("a@b/c")
            assert read_only == JID("A@B/c") and JID(read_only) == read_only
        return seen

    results = overlapping(worker)
    total = {key: sum(r[key] for r in results) for key in results[0]}
    print(f"shared JIDs: {THREADS} threads, {total}")
    assert total["reads"] > 0 and total["writes"] > 0
    if not FREE_THREADED:
        assert total["conflicts"] == 0  # the GIL orders every access
    for j in shared:
        assert str(j) in LEGAL


def test_readers_alone_never_conflict():
    shared = JID("x@y.example/R")
    expected = {name: read(JID("x@y.example/R")) for name, read, _ in READS}

    def worker(i, deadline):
        n = 0
        while time.monotonic() < deadline:
            for name, read, _ in READS:
                assert read(shared) == expected[name], name
            n += 1
        return n

    assert sum(overlapping(worker)) > 0


def test_refused_access_leaves_the_value_whole():
    # What a refusal looks like from one thread, without relying on timing:
    # a writer in progress is simulated by a second thread that assigns in a
    # tight loop while this one checks every outcome of one kind of read.
    shared = JID("a@b/c")
    stop = threading.Event()

    def assign():
        k = 0
        while not stop.is_set():
            try:
                shared.full = sorted(LEGAL)[k % len(LEGAL)]
            except RuntimeError as exc:
                assert str(exc) in CONFLICTS
            k += 1

    writer = threading.Thread(target=assign)
    writer.start()
    outcomes = set()
    try:
        deadline = time.monotonic() + BUDGET / 2
        while time.monotonic() < deadline:
            try:
                outcomes.add(str(shared) in LEGAL)
            except RuntimeError as exc:
                outcomes.add(str(exc))
    finally:
        stop.set()
        writer.join()
    assert outcomes <= {True, "Already mutably borrowed"}, outcomes
    assert str(shared) in LEGAL


def test_shared_groups_count_every_add():
    from quorvel._blocks import Groups

    groups = Groups()
    per_thread = 2000

    def worker(i, deadline):
        for n in range(per_thread):
            groups.add("common@example", i, n, "Common@example" if n % 2 else "common@example")
            groups.add(f"u{n}@host{i}", i, n, f"u{n}@host{i}")
            if n % 100 == 0:
                assert len(groups) >= 1 and groups.duplicate_groups() >= 0
                groups.render(0, 1 << 16)
        return per_thread

    overlapping(worker)
    assert len(groups) == 1 + THREADS * per_thread
    value, count, spellings, unlisted = groups.group(0)
    assert (value, count, unlisted) == ("common@example", THREADS * per_thread, 0)
    assert sorted({text for _, _, text in spellings}) == ["Common@example", "common@example"]
    assert groups.duplicate_groups() == 1


def test_batch_over_a_list_another_thread_changes():
    from quorvel.batch import normalise

    rows = ["A@b/c", "x@Y.example", None, "bad@@x"] * 64

    def worker(i, deadline):
        n = 0
        while time.monotonic() < deadline:
            if i % 2:
                # Grows and shrinks the shared list, moving its item array.
                rows.extend(["n@d"] * 512)
                del rows[-512:]
            else:
                out = list(normalise(rows, threads=1).text)
                # Whatever length it saw, every row is the result of a row that was there.
                assert set(out) <= {"a@b/c", "x@y.example", None, "n@d"}, set(out)
                assert out[:4] == ["a@b/c", "x@y.example", None, None]
            n += 1
        return n

    assert sum(overlapping(worker, 4)) > 0


def test_uri_records_made_and_freed_on_many_threads():
    # With the GIL freed records wait in a per-type list for reuse; without
    # it that list is off, so records made and freed on many threads at once
    # must each hold exactly what its own parse gave it.
    from quorvel.uri import parse

    def worker(i, deadline):
        n = 0
        while time.monotonic() < deadline and n < 50000:
            kept = [parse(f"xmpp:user{i}@example.com/r{n + k}?message;subject=t{i}") for k in range(8)]
            for k, uri in enumerate(kept):
                assert str(uri.jid) == f"user{i}@example.com/r{n + k}"
                assert (uri.action, uri.params, uri.authority) == ("message", (("subject", f"t{i}"),), None)
            n += len(kept)
        return n

    assert sum(overlapping(worker)) > 0


@pytest.mark.skipif(not FREE_THREADED, reason="the GIL is always enabled on this build")
def test_gil_stays_disabled_after_importing_every_module():
    code = textwrap.dedent("""
        import importlib, pkgutil, sys, warnings
        warnings.simplefilter("error", RuntimeWarning)  # the interpreter's warning when a module enables the GIL
        import quorvel
        names = sorted({"quorvel"} | {m.name for m in pkgutil.walk_packages(quorvel.__path__, "quorvel.")
                                      if m.name != "quorvel.__main__"})  # that one runs the tool
        for name in names:
            importlib.import_module(name)
            if sys._is_gil_enabled():
                print("GIL enabled by", name)
                break
        else:
            print("disabled", len(names))
    """)
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    proc = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr[-2000:]
    verdict, count = proc.stdout.split()[0], proc.stdout.split()[-1]
    assert verdict == "disabled", proc.stdout
    # quorvel and its extension modules, at least.
    assert int(count) >= 5

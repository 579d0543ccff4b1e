"""Many threads on shared and private JIDs, and concurrent first imports.

Both tests start threads of their own, so pytest-run-parallel runs them on
one thread (make test-free-threaded).

Every figure is bounded: a fixed time budget per test, and subprocesses with
a timeout so that a deadlock fails the test instead of hanging the suite.
"""

import os
import subprocess
import sys
import sysconfig
import textwrap
import threading
import time

import pytest

from quorvel.jid import JID, InvalidJID, unescape_node

from thread_support import overlapping

THREADS = 8
BUDGET = 1.0 if os.environ.get("QUORVEL_SANITIZED") else 2.0
SHARED_STATES = ("a@b/c", "x@y.example/R")


def run_threads(worker, count=THREADS):
    return sum(overlapping(worker, count, BUDGET))


FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
# A refused read (a writer holds the value), a refused write (anyone does).
CONFLICTS = ("Already mutably borrowed", "Already borrowed")


def _check_flipping(j, ops):
    assert str(j) in SHARED_STATES


def _check_flipping_parts(j, ops):
    assert j.bare in ("a@b", "x@y.example") and j.resource in ("c", "R")


FLIPPING_STEPS = (
    lambda j, ops: j.__setstate__(SHARED_STATES[ops % 2]),
    _check_flipping,
    _check_flipping_parts,
)


@pytest.mark.thread_unsafe(reason="starts eight threads of its own and changes the switch interval")
def test_shared_and_private_jids():
    shared = [JID(s) for s in SHARED_STATES] + [JID()]
    flipping = JID(SHARED_STATES[0])
    conflicts = [0] * THREADS
    # The type objects are not watched: every live instance anywhere holds one.
    refs_before = [sys.getrefcount(o) for o in (*shared, flipping)]

    def worker(i, deadline):
        ops = 0
        mine = JID(f"u{i}@host{i}.example/r")
        while time.monotonic() < deadline:
            # Shared, read-only: always the same answers.
            for j, text in zip(shared, (*SHARED_STATES, "")):
                assert str(j) == text and hash(j) == (hash(text) if text else 0)
                assert j == text and JID(j) == j and j.bare == text.split("/")[0]
            # Shared and changed by every thread: always one whole state. Once
            # threads overlap (a free-threaded build), a write meeting any
            # other access is refused with RuntimeError, and so is a read
            # meeting a write; the value is never torn either way.
            for step in FLIPPING_STEPS:
                try:
                    step(flipping, ops)
                except RuntimeError as exc:
                    assert str(exc) in CONFLICTS, exc
                    conflicts[i] += 1
            # Private: exact results.
            node = "" if ops % 3 == 0 else f"u{i}"
            mine.node = node.upper() or None
            mine.resource = f"r{ops}"
            assert str(mine) == (f"{node}@" if node else "") + f"host{i}.example/r{ops}"
            assert mine.node == node
            try:
                mine.domain = "a..b"
            except InvalidJID:
                pass
            assert mine.domain == f"host{i}.example"
            assert unescape_node("a\\40b") == "a@b"
            ops += 10
        return ops

    ops = run_threads(worker)
    print(f"stress: {THREADS} threads, {ops} operations in {BUDGET} s, {sum(conflicts)} refused borrows")
    assert ops > 0
    if not FREE_THREADED:
        assert sum(conflicts) == 0  # the GIL orders every access: nothing overlaps
    refs_after = [sys.getrefcount(o) for o in (*shared, flipping)]
    assert refs_after == refs_before
    assert str(flipping) in SHARED_STATES


def run_fresh(code, timeout=120):
    """Runs code in a new interpreter, where the process-wide cells are empty."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, timeout=timeout,
                          capture_output=True, text=True)  # fmt: skip
    assert proc.returncode == 0, proc.stderr[-2000:]
    return proc.stdout


FRESH_IMPORTS = """
    import importlib.util, sys, threading
    sys.setswitchinterval(1e-6)
    import quorvel
    spec = importlib.util.find_spec("quorvel.jid")
    barrier = threading.Barrier(8)
    modules, errors = [], []

    def load():
        barrier.wait()
        try:
            for _ in range(5):
                m = importlib.util.module_from_spec(spec)
                spec.loader.exec_module(m)
                try:  # the first InvalidJID is raised from every thread at once
                    m.JID("a@b@c")
                except m.InvalidJID:
                    pass
                modules.append(m)
        except BaseException as exc:
            errors.append(repr(exc))

    threads = [threading.Thread(target=load) for _ in range(8)]
    for t in threads: t.start()
    for t in threads: t.join()
    assert not errors, errors
    assert len(modules) == 40
    assert len({id(m.JID) for m in modules}) == 1
    assert len({id(m.InvalidJID) for m in modules}) == 1
    assert len({id(m.unescape_node) for m in modules}) == 40
    assert all(m.__all__ == ["JID", "unescape_node", "InvalidJID"] for m in modules)
    print("ok")
"""


@pytest.mark.thread_unsafe(reason="starts interpreters that each run eight importing threads")
def test_concurrent_first_imports():
    # Each run starts from empty type cells; several runs vary the interleaving.
    for _ in range(3):
        assert run_fresh(FRESH_IMPORTS).strip() == "ok"

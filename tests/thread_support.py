"""Starting threads that really overlap, for the tests that share objects
between them (test_stress.py, test_free_threading.py)."""

from __future__ import annotations

import sys
import threading
import time
from collections.abc import Callable
from typing import Any


def overlapping(worker: Callable[[int, float], Any], count: int, budget: float) -> list[Any]:
    """Runs worker(i, deadline) on `count` threads released together by a
    barrier, the deadline `budget` seconds after the first is released, with
    the switch interval at its shortest so that the threads interleave as
    often as the interpreter allows; returns their results. An exception in
    any worker fails the calling test."""
    errors: list[BaseException] = []
    results: list[Any] = [None] * count
    start = threading.Barrier(count)
    deadline: list[float] = []

    def body(i: int) -> None:
        start.wait()
        if not deadline:
            deadline.append(time.monotonic() + budget)
        try:
            results[i] = worker(i, deadline[0])
        except BaseException as exc:  # noqa: BLE001 - reported below
            errors.append(exc)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(old)
    assert not errors, errors[:3]
    return results

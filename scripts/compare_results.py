"""Compares two runs of the Python suite test by test (JUnit XML reports):
a wheel's and the source build's must agree, except where a test needs what
only one of them has.

    compare_results.py REFERENCE.xml OTHER.xml   exit 1 on any other difference

The sdist round trip (tests/test_sdist.py) builds the package, so it needs a
compiler and the `build` package: it runs where the sdist was built and is
skipped where a wheel was installed onto a machine without a compiler.
"""

from __future__ import annotations

import sys
import xml.etree.ElementTree as ET

NEEDS_A_COMPILER = ("tests.test_sdist.",)


def outcomes(path: str) -> dict[str, str]:
    result = {}
    for case in ET.parse(path).getroot().iter("testcase"):
        name = f"{case.get('classname')}.{case.get('name')}"
        if case.find("failure") is not None or case.find("error") is not None:
            result[name] = "failed"
        elif case.find("skipped") is not None:
            result[name] = "skipped"
        else:
            result[name] = "passed"
    return result


def counts(results: dict[str, str]) -> str:
    return ", ".join(f"{sum(1 for v in results.values() if v == k)} {k}"
                     for k in ("passed", "failed", "skipped"))


def differences(reference: dict[str, str], other: dict[str, str]) -> tuple[list[str], list[str]]:
    """(allowed, faults): every test whose outcome differs, split by whether
    the difference is explained by the missing compiler."""
    allowed, faults = [], []
    for name in sorted(set(reference) | set(other)):
        a, b = reference.get(name, "absent"), other.get(name, "absent")
        if a == b:
            continue
        line = f"{name}: {a} -> {b}"
        if name.startswith(NEEDS_A_COMPILER) and a == "passed" and b == "skipped":
            allowed.append(line)
        else:
            faults.append(line)
    return allowed, faults


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    reference, other = outcomes(argv[0]), outcomes(argv[1])
    allowed, faults = differences(reference, other)
    print(f"source build: {counts(reference)}; wheel: {counts(other)}; "
          f"{len(reference) - len(allowed) - len(faults)} outcomes equal, "
          f"{len(allowed)} skipped for want of a compiler")
    for line in faults:
        print(f"error: outcome differs: {line}", file=sys.stderr)
    if any(v == "failed" for v in (*reference.values(), *other.values())):
        print("error: a run has failures", file=sys.stderr)
        return 1
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

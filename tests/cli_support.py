"""Running the command-line tool as a separate process, as a user would."""

from __future__ import annotations

import os
import pathlib
import subprocess
import sys

import quorvel

ROOT = pathlib.Path(__file__).resolve().parent.parent
SAMPLE = ROOT / "examples" / "addresses.txt"

# The package may come from a build tree rather than an installation; the
# child process must import the same one.
_ENV = dict(os.environ)
_ENV["PYTHONPATH"] = os.pathsep.join(
    [str(pathlib.Path(quorvel.__file__).resolve().parent.parent), _ENV.get("PYTHONPATH", "")]
).rstrip(os.pathsep)
_ENV.pop("PYTHONIOENCODING", None)


def env() -> dict[str, str]:
    return dict(_ENV)


def command(*args: str | bytes) -> list[str | bytes]:
    return [sys.executable, "-m", "quorvel", *args]


def run(*args: str | bytes, stdin: bytes | None = None, **kw: object) -> subprocess.CompletedProcess[bytes]:
    return subprocess.run(
        command(*args),
        input=stdin if stdin is not None else b"",
        capture_output=True,
        env=env(),
        timeout=120,
        **kw,  # type: ignore[arg-type]
    )


def lines(data: bytes) -> list[str]:
    return data.decode("utf-8").splitlines()


def both_routes(args: list[str | bytes] | tuple[str | bytes, ...],
                stdin: bytes = b"") -> list[tuple[int, bytes, bytes]]:
    """(status, stdout, stderr) on the block route and on the per-line route
    (QUORVEL_JID_PER_LINE), which must give the same."""
    results = []
    for per_line in (False, True):
        e = env()
        e.pop("QUORVEL_JID_PER_LINE", None)
        if per_line:
            e["QUORVEL_JID_PER_LINE"] = "1"
        r = subprocess.run(command(*args), input=stdin, capture_output=True, env=e, timeout=120)
        results.append((r.returncode, r.stdout, r.stderr))
    return results

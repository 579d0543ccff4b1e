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

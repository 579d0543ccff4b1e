"""Reads pyproject.toml's [tool.cibuildwheel] settings for the shell scripts,
so that `make wheel` and `make test-wheels` build and check with what a
public CI running cibuildwheel would use, for the part this machine can do.

    cibw_settings.py selected IDENTIFIER   exit 0 when the build/skip selectors
                                           and the platform's archs take it
                                           (IDENTIFIER like cp313-manylinux_x86_64)
    cibw_settings.py environment           KEY=VALUE lines, one a line, for Linux
    cibw_settings.py get KEY               one setting (Linux overrides first);
                                           a list is printed one item a line
"""

from __future__ import annotations

import fnmatch
import pathlib
import re
import sys
import tomllib

ROOT = pathlib.Path(__file__).resolve().parent.parent
PLATFORM = "linux"  # the only platform this machine's scripts build for


def _settings() -> dict[str, object]:
    tool = tomllib.loads((ROOT / "pyproject.toml").read_text("utf-8"))["tool"]["cibuildwheel"]
    merged = {k: v for k, v in tool.items() if not isinstance(v, dict) or k == "environment"}
    merged.update(tool.get(PLATFORM, {}))
    return merged


def _patterns(value: object) -> list[str]:
    if value is None:
        return []
    if isinstance(value, str):
        return value.split()
    return [p for item in value for p in str(item).split()]


def _requires_python_admits(identifier: str) -> bool:
    # cibuildwheel also reads requires-python; only the ">=X.Y" form is used here.
    spec = tomllib.loads((ROOT / "pyproject.toml").read_text("utf-8"))["project"]["requires-python"]
    if not spec.startswith(">="):
        raise SystemExit(f"cibw_settings.py: cannot read requires-python {spec!r}")
    low = tuple(int(x) for x in spec[2:].split("."))
    version = re.match(r"(?:cp|pp)(\d)(\d+)", identifier)
    if version is None:
        raise SystemExit(f"cibw_settings.py: not a build identifier: {identifier!r}")
    return (int(version.group(1)), int(version.group(2))) >= low


def selected(identifier: str) -> bool:
    if not _requires_python_admits(identifier):
        return False
    # The cibuildwheel the workflow runs (4.x) builds free-threaded wheels
    # from CPython 3.14 on; 3.13's experimental build is no identifier of it.
    if re.match(r"cp313t-", identifier):
        return False
    settings = _settings()
    build = _patterns(settings.get("build", "*")) or ["*"]
    skip = _patterns(settings.get("skip"))
    arch = identifier.split("linux_", 1)[1] if "linux_" in identifier else ""
    archs = _patterns(settings.get("archs", "auto"))
    arch_ok = "auto" in archs or arch in archs
    return (arch_ok and any(fnmatch.fnmatch(identifier, p) for p in build)
            and not any(fnmatch.fnmatch(identifier, p) for p in skip))


def environment() -> list[str]:
    env = _settings().get("environment", {})
    if not isinstance(env, dict):
        # The string form needs cibuildwheel's own parser (quoting, $VARS).
        raise SystemExit("cibw_settings.py: write [tool.cibuildwheel] environment as a table")
    return [f"{k}={v}" for k, v in env.items()]


def main(argv: list[str]) -> int:
    if len(argv) == 2 and argv[0] == "selected":
        return 0 if selected(argv[1]) else 1
    if argv == ["environment"]:
        print("\n".join(environment()))
        return 0
    if len(argv) == 2 and argv[0] == "get":
        value = _settings().get(argv[1])
        if value is None:
            return 1
        print("\n".join(map(str, value)) if isinstance(value, list) else value)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

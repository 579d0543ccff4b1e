#!/usr/bin/env python3
"""Writes the address core's Unicode tables from the pinned data files.

    python3 tools/gen_unicode.py            # rewrite core/src/tables/
    python3 tools/gen_unicode.py --check    # exit 1 if any generated file differs

Each module in tools/unicode/ listed in MODULES exposes
``generate(data: pathlib.Path) -> dict[str, str]``: file name (relative to the
output folder) to its full text. The output depends on nothing but the files
under data/, so two runs on any machine give the same bytes.
"""
from __future__ import annotations

import argparse
import importlib
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT / "data"
OUT = ROOT / "core" / "src" / "tables"

# Generator modules, each owning the files it returns.
MODULES: tuple[str, ...] = (
    "normalization",
    "stringprep",
    "uts46",
    "domain_one_pass",
    "precis",
)


def generate_all(data: pathlib.Path) -> dict[str, str]:
    sys.path.insert(0, str(ROOT / "tools"))
    files: dict[str, str] = {}
    for name in MODULES:
        produced = importlib.import_module(f"unicode.{name}").generate(data)
        clash = files.keys() & produced.keys()
        if clash:
            raise SystemExit(f"{name}: writes {sorted(clash)} already written by another module")
        files.update(produced)
    return files


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="compare with the committed files instead of writing them")
    parser.add_argument("--out", type=pathlib.Path, default=OUT)
    args = parser.parse_args()
    files = generate_all(DATA)
    stale = []
    for rel, text in sorted(files.items()):
        path = args.out / rel
        current = path.read_bytes() if path.exists() else None
        if current == text.encode("utf-8"):
            continue
        stale.append(rel)
        if not args.check:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(text.encode("utf-8"))
    if args.check:
        known = {p.relative_to(args.out).as_posix() for p in args.out.rglob("*") if p.is_file()} \
            if args.out.exists() else set()
        stale += sorted(known - files.keys())
        for rel in stale:
            print(f"out of date: {rel}", file=sys.stderr)
        return 1 if stale else 0
    for rel in stale:
        print(f"wrote {rel}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Readers for the Unicode data files under data/unicode/.

Every reader returns plain Python values; the generator modules turn them
into C++ tables. Code points are ints; a property map is a list of 0x110000
values, so that defaults (the files' "@missing" lines) are applied once here.
"""
from __future__ import annotations

import pathlib
import re
from typing import Callable, Iterator, TypeVar

CODE_POINTS = 0x110000
T = TypeVar("T")

_MISSING = re.compile(r"#\s*@missing:\s*([0-9A-Fa-f]+)(?:\.\.([0-9A-Fa-f]+))?\s*;\s*([^;#]+?)\s*$")


def ucd_dir(data: pathlib.Path) -> pathlib.Path:
    return data / "unicode" / "ucd-17.0.0"


def idna_dir(data: pathlib.Path) -> pathlib.Path:
    return data / "unicode" / "idna"


def parse_range(field: str) -> tuple[int, int]:
    """'0041' or '0041..005A' as an inclusive pair."""
    first, _, last = field.strip().partition("..")
    return int(first, 16), int(last or first, 16)


def records(path: pathlib.Path) -> Iterator[list[str]]:
    """The semicolon-separated fields of each data line, comments removed."""
    with path.open(encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def property_map(path: pathlib.Path, convert: Callable[[str], T], field: int = 1,
                 default: T | None = None) -> list[T]:
    """A per-code-point list from a 'range ; value' file.

    Defaults come from the file's @missing lines, in file order (a later,
    narrower line overrides the whole-range one), or from `default`. Note
    that @missing lines may spell values in long form ("Right_To_Left")
    where data lines use the short one ("R"): `convert` must accept both.
    """
    values: list = [default] * CODE_POINTS
    with path.open(encoding="utf-8") as f:
        for line in f:
            m = _MISSING.match(line.strip())
            if m:
                first = int(m.group(1), 16)
                last = int(m.group(2) or m.group(1), 16)
                value = convert(m.group(3))
                values[first:last + 1] = [value] * (last - first + 1)
    for fields in records(path):
        first, last = parse_range(fields[0])
        value = convert(fields[field])
        values[first:last + 1] = [value] * (last - first + 1)
    return values


def age(data: pathlib.Path) -> list[tuple[int, int] | None]:
    """(major, minor) of the version that assigned each code point, or None."""
    def convert(v: str) -> tuple[int, int] | None:
        if v == "Unassigned":
            return None
        major, minor = v.split(".")
        return int(major), int(minor)
    return property_map(ucd_dir(data) / "DerivedAge.txt", convert)


class UnicodeDataEntry:
    __slots__ = ("name", "category", "ccc", "bidi", "decomposition_tag", "decomposition")

    def __init__(self, fields: list[str]) -> None:
        self.name = fields[1]
        self.category = fields[2]
        self.ccc = int(fields[3])
        self.bidi = fields[4]
        tag = None
        parts = fields[5].split()
        if parts and parts[0].startswith("<"):
            tag = parts.pop(0)
        self.decomposition_tag = tag
        self.decomposition = [int(p, 16) for p in parts]


def unicode_data(data: pathlib.Path) -> dict[int, UnicodeDataEntry]:
    """UnicodeData.txt with its First/Last ranges expanded."""
    entries: dict[int, UnicodeDataEntry] = {}
    pending: int | None = None
    for fields in records(ucd_dir(data) / "UnicodeData.txt"):
        cp = int(fields[0], 16)
        entry = UnicodeDataEntry(fields)
        if entry.name.endswith(", First>"):
            pending = cp
            continue
        if entry.name.endswith(", Last>"):
            assert pending is not None
            for c in range(pending, cp + 1):
                entries[c] = entry
            pending = None
            continue
        entries[cp] = entry
    return entries

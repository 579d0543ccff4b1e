"""The stringprep tables of the three profiles: RFC 3454's Tables A.1, B.1,
B.2 and C.1.1-C.9 (from data/rfc3454/), with the bidirectional categories and
the version flag that Unicode 17.0 data adds.

One 16-bit word of flags per code point, in a two-stage table (ASCII also in
a flat array, for the hot paths), and the B.2 mappings as UTF-8 in one pool.
"""
from __future__ import annotations

import functools
import pathlib

from . import emit, ucd
from .normalization import Data as NormalizationData

FLAGS = (
    ("kMapToNothing", "B.1"),
    ("kCaseFold", "has an entry in B.2"),
    ("kAsciiSpace", "C.1.1"),
    ("kAsciiControl", "C.2.1"),
    ("kProhibited", "C.1.2, C.2.2, C.3 ... C.9 (prohibited by every profile)"),
    ("kUnassigned", "A.1 (unassigned in Unicode 3.2)"),
    ("kNodeExtra", "the eight ASCII characters only a localpart refuses"),
    ("kRandAL", "Bidi_Class R or AL"),
    ("kLCat", "Bidi_Class L"),
    ("kAssignedAfter16", "assigned in Unicode 17.0, unassigned in the profiles' 16.0"),
    ("kNfkcInert", "NFKC_QC Yes and class 0: a text of these is its own NFKC"),
    ("kFoldInert", "the B.2 mapping is made of kNfkcInert code points"),
)
BIT = {name: 1 << k for k, (name, _) in enumerate(FLAGS)}
NODE_ONLY_REFUSED = '"&\'/:<>@'

FLAG_STAGES = 2  # read for every code point of every part: one load fewer than three

PROHIBITED_TABLES = ("C.1.2", "C.2.2", "C.3", "C.4", "C.5", "C.6", "C.7", "C.8", "C.9")


def rfc3454_dir(data: pathlib.Path) -> pathlib.Path:
    return data / "rfc3454"


def _lines(path: pathlib.Path) -> list[list[str]]:
    out = []
    with path.open(encoding="ascii") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            out.append([field.strip() for field in line.split(";")])
    return out


def code_point_set(data: pathlib.Path, table: str) -> set[int]:
    """A range table: lines '0221' or '0234-024F'."""
    out: set[int] = set()
    for fields in _lines(rfc3454_dir(data) / f"{table}.txt"):
        first, _, last = fields[0].partition("-")
        out.update(range(int(first, 16), int(last or first, 16) + 1))
    return out


def mapping(data: pathlib.Path, table: str) -> dict[int, list[int]]:
    """A mapping table: lines '0041; 0061; Case map' (B.1: empty mapping)."""
    out: dict[int, list[int]] = {}
    for fields in _lines(rfc3454_dir(data) / f"{table}.txt"):
        c = int(fields[0], 16)
        assert c not in out, f"{table}: {c:04X} twice"
        out[c] = [int(x, 16) for x in fields[1].split()]
    return out


def _verify(data: pathlib.Path, a1: set[int], b1: dict[int, list[int]],
            b2: dict[int, list[int]]) -> None:
    """Checks of the dumped tables against sources independent of libidn:
    the Unicode data's DerivedAge and what the RFC's text says."""
    age = ucd.age(data)
    unassigned_32 = {c for c in range(ucd.CODE_POINTS) if age[c] is None or age[c] > (3, 2)}
    assert a1 == unassigned_32, "A.1 is not the set of code points unassigned in Unicode 3.2"
    a1_lines = _lines(rfc3454_dir(data) / "A.1.txt")
    assert len(a1_lines) == 396 and a1_lines[0] == ["0221"] and a1_lines[-1] == ["E0080-EFFFD"]
    assert len(b2) == 1371 and min(b2) == 0x41 and max(b2) == 0x1D7BB
    assert b2[0xDF] == [0x73, 0x73] and b2[0x2121] == [0x74, 0x65, 0x6C]
    assert all(not m for m in b1.values())
    assert set(b1) == {0xAD, 0x34F, 0x1806, 0x180B, 0x180C, 0x180D, 0x200B, 0x200C, 0x200D,
                       0x2060, *range(0xFE00, 0xFE10), 0xFEFF}
    assert code_point_set(data, "C.1.1") == {0x20}
    assert code_point_set(data, "C.2.1") == set(range(0x20)) | {0x7F}
    assert code_point_set(data, "C.3") == (set(range(0xE000, 0xF900)) | set(range(0xF0000, 0xFFFFE))
                                            | set(range(0x100000, 0x10FFFE)))
    assert code_point_set(data, "C.5") == set(range(0xD800, 0xE000))
    assert code_point_set(data, "C.4") == (set(range(0xFDD0, 0xFDF0))
                                            | {p << 16 | x for p in range(17) for x in (0xFFFE, 0xFFFF)})
    assert code_point_set(data, "C.8") == {0x340, 0x341, 0x200E, 0x200F, *range(0x202A, 0x202F),
                                            *range(0x206A, 0x2070)}
    assert code_point_set(data, "C.9") == {0xE0001, *range(0xE0020, 0xE0080)}
    assert code_point_set(data, "C.1.2") == {0xA0, 0x1680, *range(0x2000, 0x200C), 0x202F, 0x205F,
                                              0x3000}
    assert code_point_set(data, "C.2.2") == {*range(0x80, 0xA0), 0x6DD, 0x70F, 0x180E, 0x200C,
                                              0x200D, 0x2028, 0x2029, *range(0x2060, 0x2064),
                                              *range(0x206A, 0x2070), 0xFEFF, *range(0xFFF9, 0xFFFD),
                                              *range(0x1D173, 0x1D17B)}
    assert code_point_set(data, "C.6") == set(range(0xFFF9, 0xFFFE))
    assert code_point_set(data, "C.7") == set(range(0x2FF0, 0x2FFC))


def _bidi(data: pathlib.Path) -> list[str]:
    short = {"Left_To_Right": "L", "Right_To_Left": "R", "Arabic_Letter": "AL"}
    return ucd.property_map(ucd.ucd_dir(data) / "extracted" / "DerivedBidiClass.txt",
                            lambda v: short.get(v, v))


def _utf8_pool(b2: dict[int, list[int]]) -> tuple[list[int], bytes]:
    """Per code point, (offset << 4 | length) of its mapping in one UTF-8
    pool (equal mappings shared); 0 for none."""
    pool = bytearray()
    where: dict[bytes, int] = {}
    values = [0] * ucd.CODE_POINTS
    for c in sorted(b2):
        text = "".join(map(chr, b2[c])).encode("utf-8")
        if text not in where:
            where[text] = len(pool)
            pool += text
        assert 0 < len(text) < 16
        values[c] = where[text] << 4 | len(text)
    assert max(values) < 0x10000
    return values, bytes(pool)


@functools.lru_cache(maxsize=None)
def profile_flags(data: pathlib.Path) -> tuple[list[int], dict[int, list[int]]]:
    """The flags word of every code point, and Table B.2. Cached: the
    one-pass domain tables (domain_one_pass.py) are made from the same."""
    a1 = code_point_set(data, "A.1")
    b1 = mapping(data, "B.1")
    b2 = mapping(data, "B.2")
    _verify(data, a1, b1, b2)
    age = ucd.age(data)
    bidi = _bidi(data)
    norm = NormalizationData(data)

    flags = [0] * ucd.CODE_POINTS

    def mark(codes, bit: str) -> None:
        for c in codes:
            flags[c] |= BIT[bit]

    mark(b1, "kMapToNothing")
    mark(b2, "kCaseFold")
    mark(code_point_set(data, "C.1.1"), "kAsciiSpace")
    mark(code_point_set(data, "C.2.1"), "kAsciiControl")
    for table in PROHIBITED_TABLES:
        mark(code_point_set(data, table), "kProhibited")
    mark(a1, "kUnassigned")
    mark((ord(ch) for ch in NODE_ONLY_REFUSED), "kNodeExtra")
    for c in range(ucd.CODE_POINTS):
        if bidi[c] in ("R", "AL"):
            flags[c] |= BIT["kRandAL"]
        elif bidi[c] == "L":
            flags[c] |= BIT["kLCat"]
        if age[c] is not None and age[c] > (16, 0):
            flags[c] |= BIT["kAssignedAfter16"]
        if not norm.nfkc_check[c] and norm.ccc[c] == 0:
            flags[c] |= BIT["kNfkcInert"]
    for c, m in b2.items():
        if all(flags[x] & BIT["kNfkcInert"] for x in m):
            flags[c] |= BIT["kFoldInert"]
    # What the profiles' code assumes of the data.
    assert all(flags[c] & BIT["kNfkcInert"] and not flags[c] & BIT["kRandAL"] for c in range(0x80))
    assert all(not flags[c] & BIT["kAssignedAfter16"] or flags[c] & BIT["kUnassigned"]
               for c in range(ucd.CODE_POINTS)), "a character new in 17.0 outside A.1"
    return flags, b2


def generate(data: pathlib.Path) -> dict[str, str]:
    flags, b2 = profile_flags(data)
    fold, pool = _utf8_pool(b2)
    build = emit.best_two_stage if FLAG_STAGES == 2 else emit.best_three_stage
    flags_text, flags_size = build("flags", flags, "std::uint16_t")
    fold_text, fold_size = emit.best_three_stage("case_fold", fold, "std::uint16_t")
    sizes = {"flags": flags_size, "ascii_flags": 2 * 128, "case_fold": fold_size,
             "case_fold_utf8": len(pool)}
    size_lines = "".join(f"//   {k:<20} {v:>7} bytes\n" for k, v in sizes.items())
    flag_lines = "".join(f"  {name} = 1 << {k},  // {what}\n" for k, (name, what) in enumerate(FLAGS))
    pool_text = ",".join(f"'\\x{b:02X}'" if b >= 0x80 or chr(b) in "'\\" else f"'{chr(b)}'"
                         for b in pool)
    pool_rows = "\n".join("  " + ",".join(pool_text.split(",")[i:i + 16]) + ","
                          for i in range(0, len(pool), 16))
    text = (emit.header("stringprep")
            + "//\n// RFC 3454's tables (data/rfc3454/), Bidi_Class and DerivedAge of Unicode\n"
            "// 17.0.0, NFKC_QC and combining classes for kNfkcInert and kFoldInert. Sizes:\n" + size_lines
            + f"//   {'total':<20} {sum(sizes.values()):>7} bytes\n"
            "#pragma once\n\n#include <cstddef>\n#include <cstdint>\n\n"
            "namespace quorvel::tables::generated {\n\n"
            "enum Flag : std::uint16_t {\n" + flag_lines + "};\n\n"
            + emit.c_array("std::uint16_t", "ascii_flags", flags[:128], per_line=8)
            + "\n" + flags_text + "\n"
            "// B.2: (offset << 4 | length) of the mapping's UTF-8 in case_fold_utf8.\n"
            + fold_text
            + f"inline constexpr char case_fold_utf8[{len(pool)}] = {{\n" + pool_rows + "\n};\n"
            + "\n}  // namespace quorvel::tables::generated\n")
    return {"stringprep.h": text}

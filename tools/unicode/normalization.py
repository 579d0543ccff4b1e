"""Normalisation tables (NFC and NFKC) from UnicodeData.txt and
DerivedNormalizationProps.txt.

Per code point, one 16-bit word carries what the quick check needs: the
canonical combining class, whether the form's quick check is other than Yes,
whether a normalisation segment may start before the code point (a
"boundary": its full decomposition starts with a starter that never combines
with what precedes it), and whether it combines with a preceding character.
Decompositions are stored fully expanded, each element already carrying its
combining class and that "combines backward" bit, so the slow path needs no
second look-up per decomposed code point. Hangul syllables are left to the
C++ code, which decomposes and composes them arithmetically.
"""
from __future__ import annotations

import pathlib

from . import emit, ucd

# Hangul syllables and conjoining jamo (Unicode chapter 3.12).
S_BASE, L_BASE, V_BASE, T_BASE = 0xAC00, 0x1100, 0x1161, 0x11A7
L_COUNT, V_COUNT, T_COUNT = 19, 21, 28
S_COUNT = L_COUNT * V_COUNT * T_COUNT

# Bits of the per-code-point word (bits 0-7 hold the combining class).
NFKC_CHECK = 1 << 8        # NFKC_QC is No or Maybe
NFC_CHECK = 1 << 9         # NFC_QC is No or Maybe
NFKC_NO_BOUNDARY = 1 << 10
NFC_NO_BOUNDARY = 1 << 11
COMBINES_BACK = 1 << 12
NFKC_NO = 1 << 13          # NFKC_QC is No: a segment holding it changes
NFC_NO = 1 << 14           # NFC_QC is No

HOT_STAGES = 2  # read for every code point the quick check sees

# Bits of a decomposition element: code point in 0-20, the combining class
# in 24-31.
ELEMENT_COMBINES_BACK = 1 << 21


def _is_hangul_syllable(c: int) -> bool:
    return S_BASE <= c < S_BASE + S_COUNT


def _hangul_decomposition(c: int) -> list[int]:
    s = c - S_BASE
    out = [L_BASE + s // (V_COUNT * T_COUNT), V_BASE + (s % (V_COUNT * T_COUNT)) // T_COUNT]
    if s % T_COUNT:
        out.append(T_BASE + s % T_COUNT)
    return out


def _quick_check(data: pathlib.Path, name: str, values: tuple[str, ...] = ("N", "M")) -> list[bool]:
    """True where the property `name` (NFC_QC, NFKC_QC) is one of `values`."""
    flags = [False] * ucd.CODE_POINTS
    for fields in ucd.records(ucd.ucd_dir(data) / "DerivedNormalizationProps.txt"):
        if len(fields) >= 3 and fields[1] == name and fields[2] in values:
            first, last = ucd.parse_range(fields[0])
            flags[first:last + 1] = [True] * (last - first + 1)
    return flags


def _binary_property(data: pathlib.Path, name: str) -> set[int]:
    out: set[int] = set()
    for fields in ucd.records(ucd.ucd_dir(data) / "DerivedNormalizationProps.txt"):
        if len(fields) == 2 and fields[1] == name:
            first, last = ucd.parse_range(fields[0])
            out.update(range(first, last + 1))
    return out


class Data:
    """Everything the tables are made of, as Python values (also used by the
    stringprep module and by checks)."""

    def __init__(self, data: pathlib.Path) -> None:
        entries = ucd.unicode_data(data)
        self.ccc = [0] * ucd.CODE_POINTS
        canonical: dict[int, list[int]] = {}
        compat: dict[int, list[int]] = {}
        for c, e in entries.items():
            self.ccc[c] = e.ccc
            if e.decomposition and not _is_hangul_syllable(c):
                (compat if e.decomposition_tag else canonical)[c] = e.decomposition
        self.nfd = {c: self._expand(c, canonical, {}) for c in canonical}
        both = {**canonical, **compat}
        self.nfkd = {c: self._expand(c, both, {}) for c in both}
        exclusions = _binary_property(data, "Full_Composition_Exclusion")
        self.pairs: dict[tuple[int, int], int] = {}
        for c, d in canonical.items():
            if len(d) == 2 and c not in exclusions:
                self.pairs[(d[0], d[1])] = c
        self.nfc_check = _quick_check(data, "NFC_QC")
        self.nfkc_check = _quick_check(data, "NFKC_QC")
        self.nfc_no = _quick_check(data, "NFC_QC", ("N",))
        self.nfkc_no = _quick_check(data, "NFKC_QC", ("N",))
        self.combines_back = {second for _, second in self.pairs}
        self.combines_back.update(range(V_BASE, V_BASE + V_COUNT))
        self.combines_back.update(range(T_BASE + 1, T_BASE + T_COUNT))
        self._verify(data)

    @staticmethod
    def _expand(c: int, mapping: dict[int, list[int]], memo: dict[int, list[int]]) -> list[int]:
        out: list[int] = []
        for d in mapping.get(c, [c]) if c in mapping else [c]:
            if d in mapping:
                out.extend(Data._expand(d, mapping, memo))
            elif _is_hangul_syllable(d):
                out.extend(_hangul_decomposition(d))
            else:
                out.append(d)
        return out

    def full_decomposition(self, c: int, compat: bool) -> list[int]:
        if _is_hangul_syllable(c):
            return _hangul_decomposition(c)
        return (self.nfkd if compat else self.nfd).get(c, [c])

    def boundary_before(self, c: int, compat: bool) -> bool:
        first = self.full_decomposition(c, compat)[0]
        return self.ccc[first] == 0 and first not in self.combines_back

    def _verify(self, data: pathlib.Path) -> None:
        # What the C++ code relies on, checked against the data itself.
        maybe = set()
        for fields in ucd.records(ucd.ucd_dir(data) / "DerivedNormalizationProps.txt"):
            if len(fields) >= 3 and fields[1] == "NFC_QC" and fields[2] == "M":
                first, last = ucd.parse_range(fields[0])
                maybe.update(range(first, last + 1))
        # Maybe: the character, or the first of its decomposition, can be the
        # second of a pair (a few composites of Unicode 16 decompose that way).
        starts_back = {c for c in range(ucd.CODE_POINTS)
                       if self.full_decomposition(c, False)[0] in self.combines_back}
        # (Those that are No anyway are not listed as Maybe.)
        assert maybe <= starts_back and all(self.nfc_check[c] for c in starts_back - maybe), \
            "NFC_QC=Maybe is not the set of second characters"
        for (first, _), composite in self.pairs.items():
            assert self.ccc[first] == 0 and self.ccc[composite] == 0, hex(composite)
        for c in range(ucd.CODE_POINTS):
            for compat in (False, True):
                if self.boundary_before(c, compat):
                    assert self.ccc[c] == 0, hex(c)
        assert max(len(d) for d in self.nfkd.values()) < 32
        assert max(len(d) for d in self.nfd.values()) <= 4


def _element(d: Data, c: int) -> int:
    return c | (d.ccc[c] << 24) | (ELEMENT_COMBINES_BACK if c in d.combines_back else 0)


def _pool(d: Data) -> tuple[list[int], list[int], list[int]]:
    """One pool for both forms: [length, element...] runs, shared where the
    canonical and compatibility expansions agree. Index 0 means none."""
    pool = [0]
    where: dict[tuple[int, ...], int] = {}
    nfd_index = [0] * ucd.CODE_POINTS
    nfkd_index = [0] * ucd.CODE_POINTS

    def place(seq: list[int]) -> int:
        key = tuple(seq)
        if key not in where:
            where[key] = len(pool)
            pool.append(len(seq))
            pool.extend(_element(d, x) for x in seq)
        return where[key]

    for c in sorted(d.nfd):
        nfd_index[c] = place(d.nfd[c])
    for c in sorted(d.nfkd):
        nfkd_index[c] = place(d.nfkd[c])
    assert len(pool) < 0x10000
    return pool, nfd_index, nfkd_index


def _props(d: Data) -> list[int]:
    props = [0] * ucd.CODE_POINTS
    for c in range(ucd.CODE_POINTS):
        v = d.ccc[c]
        if d.nfkc_check[c]:
            v |= NFKC_CHECK
        if d.nfc_check[c]:
            v |= NFC_CHECK
        if not d.boundary_before(c, True):
            v |= NFKC_NO_BOUNDARY
        if not d.boundary_before(c, False):
            v |= NFC_NO_BOUNDARY
        if c in d.combines_back:
            v |= COMBINES_BACK
        if d.nfkc_no[c]:
            v |= NFKC_NO
        if d.nfc_no[c]:
            v |= NFC_NO
        props[c] = v
    return props


def _composition(d: Data) -> tuple[list[int], list[int], list[int]]:
    """Per first character, a 1-based list number; the lists' bounds; and
    (second, composite) pairs, each list sorted by second."""
    by_first: dict[int, list[tuple[int, int]]] = {}
    for (first, second), composite in d.pairs.items():
        by_first.setdefault(first, []).append((second, composite))
    first_index = [0] * ucd.CODE_POINTS
    bounds = [0]
    pairs: list[int] = []
    for n, first in enumerate(sorted(by_first), start=1):
        first_index[first] = n
        for second, composite in sorted(by_first[first]):
            pairs.extend((second, composite))
        bounds.append(len(pairs) // 2)
    return first_index, bounds, pairs


def generate(data: pathlib.Path) -> dict[str, str]:
    d = Data(data)
    props = _props(d)
    pool, nfd_index, nfkd_index = _pool(d)
    first_index, bounds, pairs = _composition(d)
    nfc_bits = NFC_CHECK | NFC_NO_BOUNDARY | NFC_NO
    nfkc_bits = NFKC_CHECK | NFKC_NO_BOUNDARY | NFKC_NO
    nfkc_min = next(c for c in range(ucd.CODE_POINTS) if props[c] & ~nfc_bits)
    nfc_min = next(c for c in range(ucd.CODE_POINTS) if props[c] & ~nfkc_bits)

    first_decomposable = min(min(d.nfkd), min(d.nfd))
    sizes: dict[str, int] = {}
    parts = []
    # Three stages where only the slow path looks (decomposition and
    # composition); the quick-check word, read for every code point, in
    # HOT_STAGES.
    for name, values, stages in (("props", props, HOT_STAGES), ("nfd_index", nfd_index, 3),
                                 ("nfkd_index", nfkd_index, 3),
                                 ("composition_first", first_index, 3)):
        build = emit.best_two_stage if stages == 2 else emit.best_three_stage
        text, size = build(name, values, "std::uint16_t")
        parts.append(text)
        sizes[name] = size
    parts.append(emit.c_array("std::uint32_t", "decomposition_pool", pool, per_line=8))
    sizes["decomposition_pool"] = 4 * len(pool)
    parts.append(emit.c_array("std::uint16_t", "composition_bounds", bounds))
    sizes["composition_bounds"] = 2 * len(bounds)
    parts.append(emit.c_array("char32_t", "composition_pairs", pairs, per_line=8))
    sizes["composition_pairs"] = 4 * len(pairs)

    size_lines = "".join(f"//   {k:<20} {v:>7} bytes\n" for k, v in sizes.items())
    text = (emit.header("normalization")
            + "//\n// Normalisation data of Unicode 17.0.0; see tools/unicode/normalization.py\n"
            "// for what each table holds. Sizes:\n" + size_lines
            + f"//   {'total':<20} {sum(sizes.values()):>7} bytes\n"
            "#pragma once\n\n#include <cstddef>\n#include <cstdint>\n\n"
            "namespace quorvel::unicode::generated {\n\n"
            f"inline constexpr std::uint16_t kNfkcCheck = 0x{NFKC_CHECK:X};\n"
            f"inline constexpr std::uint16_t kNfcCheck = 0x{NFC_CHECK:X};\n"
            f"inline constexpr std::uint16_t kNfkcNoBoundary = 0x{NFKC_NO_BOUNDARY:X};\n"
            f"inline constexpr std::uint16_t kNfcNoBoundary = 0x{NFC_NO_BOUNDARY:X};\n"
            f"inline constexpr std::uint16_t kCombinesBack = 0x{COMBINES_BACK:X};\n"
            f"inline constexpr std::uint16_t kNfkcNo = 0x{NFKC_NO:X};\n"
            f"inline constexpr std::uint16_t kNfcNo = 0x{NFC_NO:X};\n"
            f"inline constexpr std::uint32_t kElementCombinesBack = 0x{ELEMENT_COMBINES_BACK:X};\n"
            "// Below these, every code point is its own NFKC (NFC) with class 0.\n"
            f"inline constexpr char32_t kNfkcFirstInteresting = 0x{nfkc_min:X};\n"
            f"inline constexpr char32_t kNfcFirstInteresting = 0x{nfc_min:X};\n"
            "// Below this, no code point has a decomposition.\n"
            f"inline constexpr char32_t kFirstDecomposable = 0x{first_decomposable:X};\n\n"
            + "\n".join(parts)
            + "\n}  // namespace quorvel::unicode::generated\n")
    return {"normalization.h": text}

"""Tables for the UTS #46 (IDNA) check of domains.

Writes into core/src/tables/:

- idna_mapping_17_0_0.h: the UTS #46 17.0.0 mapping table, the one the
  address core uses;
- idna_mapping_16_0_0.h: the 16.0.0 table, included by the tests only, to
  run the 16.0.0 conformance file against the same code;
- idna_mapping_layout.h: the shape both tables share, written from the
  constants below so that the reader and the packer cannot drift apart;
- idna_properties.h: the Unicode 17.0 properties the validity criteria read
  (Bidi_Class, Joining_Type, General_Category=Mark, virama), and the longest
  canonical decomposition, which bounds how far normalisation can shrink a
  text.

A mapping table value is 16 bits (see core/src/tables/idna_mapping_layout.h): the
status in bits 0-2; for "mapped", bits 3-15 index a record of the mapping
(offset and length in a pool of UTF-8 bytes); for the other statuses bit 3
says that the code point is not simple for NFC (NFC_Quick_Check is not Yes,
or the combining class is not 0). A record carries the same bit for its
mapping. A text of simple code points only is already NFC, which spares the
normaliser on nearly every domain.
"""
from __future__ import annotations

import functools
import pathlib

from . import emit, ucd

MAPPING_VERSIONS = ("17.0.0", "16.0.0")

# Status numbers, as in core/src/unicode/idna_mapping.h; the bit fields as in
# core/src/tables/idna_mapping_layout.h.
STATUS = {"valid": 0, "deviation": 1, "ignored": 2, "disallowed": 3, "mapped": 4}
NFC_ATTENTION = 1 << 3
# A mapped value keeps its record number above the status bits.
RECORD_SHIFT = 3
RECORD_LENGTH_BITS = 6
RECORD_ATTENTION = 1 << RECORD_LENGTH_BITS
RECORD_OFFSET_SHIFT = RECORD_LENGTH_BITS + 1

# Value order of the generated enums; the names are the short property values.
BIDI_CLASSES = ("L", "R", "AL", "EN", "ES", "ET", "AN", "CS", "NSM", "BN", "B", "S", "WS",
                "ON", "LRE", "LRO", "RLE", "RLO", "PDF", "LRI", "RLI", "FSI", "PDI")
BIDI_LONG = {"Left_To_Right": "L", "Right_To_Left": "R", "Arabic_Letter": "AL",
             "European_Number": "EN", "European_Separator": "ES",
             "European_Terminator": "ET", "Arabic_Number": "AN",
             "Common_Separator": "CS", "Nonspacing_Mark": "NSM",
             "Boundary_Neutral": "BN", "Paragraph_Separator": "B",
             "Segment_Separator": "S", "White_Space": "WS", "Other_Neutral": "ON",
             "Left_To_Right_Embedding": "LRE", "Left_To_Right_Override": "LRO",
             "Right_To_Left_Embedding": "RLE", "Right_To_Left_Override": "RLO",
             "Pop_Directional_Format": "PDF", "Left_To_Right_Isolate": "LRI",
             "Right_To_Left_Isolate": "RLI", "First_Strong_Isolate": "FSI",
             "Pop_Directional_Isolate": "PDI"}
JOINING_TYPES = ("U", "C", "D", "L", "R", "T")
JOINING_LONG = {"Non_Joining": "U", "Join_Causing": "C", "Dual_Joining": "D",
                "Left_Joining": "L", "Right_Joining": "R", "Transparent": "T"}
# Layout of a property value.
JOINING_SHIFT = 5
MARK_BIT = 1 << 8
VIRAMA_BIT = 1 << 9
VIRAMA_CCC = 9

HANGUL_FIRST, HANGUL_LAST, HANGUL_T_COUNT = 0xAC00, 0xD7A3, 28


@functools.lru_cache(maxsize=None)
def read_mapping(data: pathlib.Path, version: str) -> tuple[list[str], list[tuple[int, ...]]]:
    """Status and mapping of every code point in one IdnaMappingTable."""
    status: list[str | None] = [None] * ucd.CODE_POINTS
    mapping: list[tuple[int, ...]] = [()] * ucd.CODE_POINTS
    for fields in ucd.records(ucd.idna_dir(data) / f"IdnaMappingTable-{version}.txt"):
        first, last = ucd.parse_range(fields[0])
        name = fields[1]
        if name not in STATUS:
            raise SystemExit(f"IdnaMappingTable-{version}: unknown status {name!r}")
        value = tuple(int(p, 16) for p in fields[2].split()) if len(fields) > 2 else ()
        if name == "mapped" and not value:
            raise SystemExit(f"IdnaMappingTable-{version}: {fields[0]} mapped to nothing")
        for c in range(first, last + 1):
            if status[c] is not None:
                raise SystemExit(f"IdnaMappingTable-{version}: U+{c:04X} listed twice")
            status[c] = name
            mapping[c] = value
    missing = [c for c, s in enumerate(status) if s is None]
    if missing:
        raise SystemExit(f"IdnaMappingTable-{version}: U+{missing[0]:04X} not listed")
    return status, mapping  # type: ignore[return-value]


def check_mapping_assumptions(version: str, status: list[str],
                              mapping: list[tuple[int, ...]]) -> None:
    """What the C++ code takes for granted about a table, so that a new
    version that breaks it stops here instead of giving wrong verdicts."""
    for c in range(0x80):
        upper = 0x41 <= c <= 0x5A
        expected = ("mapped", (c + 0x20,)) if upper else ("valid", ())
        # ASCII is handled without a look-up: capitals fold, all else stays.
        assert (status[c], mapping[c] if upper else ()) == expected, (version, hex(c))
    deviations = {c for c, s in enumerate(status) if s == "deviation"}
    # Non-transitional processing keeps exactly these.
    assert deviations == {0xDF, 0x3C2, 0x200C, 0x200D}, (version, sorted(deviations))
    for c, s in enumerate(status):
        if s == "mapped":
            # The joiners reach a label only as written, so the mapping step
            # tells whether CONTEXTJ has anything to look at.
            assert not {0x200C, 0x200D} & set(mapping[c]), (version, hex(c))
            for m in mapping[c]:
                # A mapped text needs no second status check unless
                # normalisation changed it.
                assert status[m] in ("valid", "deviation"), (version, hex(c), hex(m))


@functools.lru_cache(maxsize=None)
def ccc_map(data: pathlib.Path) -> list[int]:
    return ucd.property_map(ucd.ucd_dir(data) / "extracted" / "DerivedCombiningClass.txt",
                            lambda v: int(v) if v.isdigit() else 0, default=0)


def nfc_simple(data: pathlib.Path, ccc: list[int]) -> list[bool]:
    """Code points with NFC_Quick_Check=Yes and combining class 0."""
    simple = [c == 0 for c in ccc]
    for fields in ucd.records(ucd.ucd_dir(data) / "DerivedNormalizationProps.txt"):
        if fields[1] == "NFC_QC":
            first, last = ucd.parse_range(fields[0])
            for c in range(first, last + 1):
                simple[c] = False
    return simple


def mapping_header(version: str, status: list[str], mapping: list[tuple[int, ...]],
                   simple: list[bool]) -> tuple[str, int]:
    pool = bytearray()
    records: list[int] = []
    record_of: dict[tuple[int, ...], int] = {}
    values: list[int] = []
    for c in range(ucd.CODE_POINTS):
        s = status[c]
        if s != "mapped":
            values.append(STATUS[s] | (0 if simple[c] else NFC_ATTENTION))
            continue
        m = mapping[c]
        if m not in record_of:
            utf8 = "".join(map(chr, m)).encode("utf-8")
            assert len(utf8) < 1 << RECORD_LENGTH_BITS
            attention = 0 if all(simple[x] for x in m) else RECORD_ATTENTION
            records.append((len(pool) << RECORD_OFFSET_SHIFT) | attention | len(utf8))
            record_of[m] = len(records) - 1
            pool += utf8
        values.append(STATUS["mapped"] | (record_of[m] << RECORD_SHIFT))
    assert len(records) < 1 << (16 - RECORD_SHIFT) and len(pool) < 1 << (32 - RECORD_OFFSET_SHIFT)
    shifts, (top, middle, blocks), size = emit.smallest_three_stage_arrays(values, (2, 2, 2))
    assert max(top) <= 0xFFFF and max(middle) <= 0xFFFF
    size += len(records) * 4 + len(pool)
    ns = "v" + version.replace(".", "_")
    text = (emit.header("uts46")
            + f"// The UTS #46 mapping table {version} (IdnaMappingTable-{version}.txt):\n"
            f"// {len(records)} distinct mappings in {len(pool)} bytes of UTF-8, {size} bytes"
            " in all.\n#pragma once\n\n#include <cstdint>\n\n#include \"tables/idna_mapping_layout.h\"\n\n"
            f"namespace quorvel::unicode::idna::generated::{ns} {{\n\n"
            + emit.c_array("std::uint16_t", "kTop", top)
            + emit.c_array("std::uint16_t", "kMiddle", middle)
            + emit.c_array("std::uint16_t", "kBlocks", blocks)
            + emit.c_array("std::uint32_t", "kRecords", records, per_line=8)
            + emit.c_array("unsigned char", "kPool", list(pool))
            + f"\ninline constexpr MappingTable kTable{{kTop, kMiddle, kBlocks, {shifts[0]}, "
            f"{shifts[1]}, kRecords, kPool, \"{version}\"}};\n\n"
            f"}}  // namespace quorvel::unicode::idna::generated::{ns}\n")
    return text, size


def max_canonical_decomposition(data: pathlib.Path) -> int:
    """Code points in the longest full canonical decomposition."""
    entries = ucd.unicode_data(data)
    canonical = {c: e.decomposition for c, e in entries.items()
                 if e.decomposition and e.decomposition_tag is None}

    def full(c: int) -> list[int]:
        if c in canonical:
            return [x for d in canonical[c] for x in full(d)]
        return [c]

    longest = max(len(full(c)) for c in canonical)
    # Hangul syllables decompose by arithmetic: L V, or L V T.
    hangul = 3 if HANGUL_LAST - HANGUL_FIRST >= HANGUL_T_COUNT else 2
    return max(longest, hangul)


@functools.lru_cache(maxsize=None)
def property_values(data: pathlib.Path) -> list[int]:
    """The packed properties word of every code point (layout above)."""
    ccc = ccc_map(data)
    extracted = ucd.ucd_dir(data) / "extracted"
    bidi = ucd.property_map(extracted / "DerivedBidiClass.txt",
                            lambda v: BIDI_CLASSES.index(BIDI_LONG.get(v, v)))
    joining = ucd.property_map(extracted / "DerivedJoiningType.txt",
                               lambda v: JOINING_TYPES.index(JOINING_LONG.get(v, v)))
    category = ucd.property_map(extracted / "DerivedGeneralCategory.txt", lambda v: v,
                                default="Cn")
    assert len(BIDI_CLASSES) <= 1 << JOINING_SHIFT
    return [bidi[c] | (joining[c] << JOINING_SHIFT)
            | (MARK_BIT if category[c] in ("Mn", "Mc", "Me") else 0)
            | (VIRAMA_BIT if ccc[c] == VIRAMA_CCC else 0)
            for c in range(ucd.CODE_POINTS)]


def properties_header(data: pathlib.Path) -> tuple[str, int]:
    values = property_values(data)
    shifts, (top, middle, blocks), size = emit.smallest_three_stage_arrays(values, (2, 2, 2))
    s1, s2 = shifts
    decomposition = max_canonical_decomposition(data)
    text = (emit.header("uts46")
            + "// Unicode 17.0 properties for the UTS #46 validity criteria: Bidi_Class\n"
            "// (DerivedBidiClass.txt, defaults of unlisted code points included),\n"
            "// Joining_Type (DerivedJoiningType.txt), General_Category=Mark and\n"
            f"// Canonical_Combining_Class=Virama. {size} bytes.\n"
            "#pragma once\n\n#include <cstddef>\n#include <cstdint>\n\n"
            "namespace quorvel::unicode::idna::generated {\n\n"
            "enum class BidiClass : std::uint8_t {\n  "
            + ", ".join(BIDI_CLASSES) + ",\n};\n\n"
            "enum class JoiningType : std::uint8_t { " + ", ".join(JOINING_TYPES) + " };\n\n"
            f"inline constexpr std::uint16_t kBidiMask = 0x{(1 << JOINING_SHIFT) - 1:X};\n"
            f"inline constexpr unsigned kJoiningShift = {JOINING_SHIFT};\n"
            f"inline constexpr std::uint16_t kJoiningMask = 0x7;\n"
            f"inline constexpr std::uint16_t kMarkBit = 0x{MARK_BIT:X};\n"
            f"inline constexpr std::uint16_t kViramaBit = 0x{VIRAMA_BIT:X};\n\n"
            "// No code point's full canonical decomposition is longer, so normalisation\n"
            "// shrinks a text at most by this factor.\n"
            f"inline constexpr std::size_t kMaxCanonicalDecomposition = {decomposition};\n\n"
            + "// ASCII, answered without the three stages.\n"
            + emit.c_array("std::uint16_t", "kPropertyAscii", values[:0x80])
            + emit.c_array("std::uint16_t", "kPropertyTop", top)
            + emit.c_array("std::uint16_t", "kPropertyMiddle", middle)
            + emit.c_array("std::uint16_t", "kPropertyBlocks", blocks)
            + "\n// The packed properties of c (any value; past U+10FFFF, those of an\n"
            "// unassigned code point).\n"
            "constexpr std::uint16_t property_bits(char32_t c) noexcept {\n"
            "  if (c < 0x80) return kPropertyAscii[c];\n"
            "  if (c > 0x10FFFF) c = 0x10FFFF;\n"
            f"  const std::size_t middle = (static_cast<std::size_t>(kPropertyTop[c >> {s1 + s2}]) << {s1})"
            f" | ((c >> {s2}) & 0x{(1 << s1) - 1:X});\n"
            f"  return kPropertyBlocks[(static_cast<std::size_t>(kPropertyMiddle[middle]) << {s2})"
            f" | (c & 0x{(1 << s2) - 1:X})];\n}}\n\n"
            "}  // namespace quorvel::unicode::idna::generated\n")
    return text, size


def layout_header() -> str:
    """The shape of the mapping tables, from the same constants that pack them."""
    return (emit.header("uts46")
            + "// The shape of a UTS #46 mapping table (idna_mapping_*.h): the three look-up\n"
            "// stages and the bit fields of a value and of a record. Each table includes\n"
            "// this and nothing else of the core; unicode/idna_mapping.h reads them.\n"
            "#pragma once\n\n#include <cstdint>\n#include <string_view>\n\n"
            "namespace quorvel::unicode::idna {\n\n"
            "// A three-stage table: top, middle and blocks, then records of mappings\n"
            "// (offset and length in a pool of UTF-8 bytes).\n"
            "struct MappingTable {\n"
            "  const std::uint16_t* top;\n"
            "  const std::uint16_t* middle;\n"
            "  const std::uint16_t* blocks;\n"
            "  unsigned shift1;\n"
            "  unsigned shift2;\n"
            "  const std::uint32_t* records;\n"
            "  const unsigned char* pool;\n"
            "  std::string_view version;\n"
            "};\n\n"
            "namespace detail {\n"
            f"inline constexpr std::uint16_t kStatusMask = {NFC_ATTENTION - 1:#x};\n"
            f"inline constexpr std::uint16_t kAttentionBit = {NFC_ATTENTION:#x};\n"
            f"inline constexpr unsigned kRecordShift = {RECORD_SHIFT};\n"
            f"inline constexpr std::uint32_t kRecordLengthMask = {RECORD_ATTENTION - 1:#x};\n"
            f"inline constexpr std::uint32_t kRecordAttentionBit = {RECORD_ATTENTION:#x};\n"
            f"inline constexpr unsigned kRecordOffsetShift = {RECORD_OFFSET_SHIFT};\n"
            "}  // namespace detail\n\n"
            "}  // namespace quorvel::unicode::idna\n")


def generate(data: pathlib.Path) -> dict[str, str]:
    ccc = ccc_map(data)
    simple = nfc_simple(data, ccc)
    files: dict[str, str] = {}
    for version in MAPPING_VERSIONS:
        status, mapping = read_mapping(data, version)
        check_mapping_assumptions(version, status, mapping)
        text, _ = mapping_header(version, status, mapping, simple)
        files[f"idna_mapping_{version.replace('.', '_')}.h"] = text
    files["idna_mapping_layout.h"] = layout_header()
    files["idna_properties.h"], _ = properties_header(data)
    return files

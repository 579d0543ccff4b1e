"""Derived property values of PRECIS (RFC 8264 section 8) and of IDNA2008
(RFC 5892 section 3), for every code point, from the pinned UCD files.

Both algorithms are a first-match walk over categories of code points
defined from Unicode properties (RFC 8264 section 9, RFC 5892 section 2).
They are computed here, at generation time, so that the tables compiled into
the module give the same answer on every machine, whatever Unicode library
(if any) the machine has.

The two walks share most categories; they differ in what is tested between
JoinControl and LetterDigits, and in what becomes of the code points that
are no "traditional" letter or digit: IDNA2008 disallows them, PRECIS keeps
them for the FreeformClass only (FREE_PVAL, which the IdentifierClass reads
as ID_DIS, that is, disallowed).
"""
from __future__ import annotations

import enum
import functools
import pathlib

from . import emit, ucd
from .normalization import S_BASE, S_COUNT, L_BASE, L_COUNT, V_BASE, V_COUNT, T_BASE, T_COUNT, Data


class Derived(enum.IntEnum):
    PVALID = 0
    FREE_PVAL = 1  # PRECIS only: valid in the FreeformClass, ID_DIS in the IdentifierClass
    CONTEXTJ = 2
    CONTEXTO = 3
    DISALLOWED = 4
    UNASSIGNED = 5


# RFC 5892 section 2.6, which RFC 8264 section 9.6 takes over unchanged (no
# later RFC has added an exception: RFC 9233 says so for Unicode 12).
EXCEPTIONS: dict[int, Derived] = {
    **dict.fromkeys([0x00DF, 0x03C2, 0x06FD, 0x06FE, 0x0F0B, 0x3007], Derived.PVALID),
    **dict.fromkeys([0x00B7, 0x0375, 0x05F3, 0x05F4, 0x30FB], Derived.CONTEXTO),
    **dict.fromkeys([*range(0x0660, 0x066A), *range(0x06F0, 0x06FA)], Derived.CONTEXTO),
    **dict.fromkeys([0x0640, 0x07FA, 0x302E, 0x302F, *range(0x3031, 0x3036), 0x303B],
                    Derived.DISALLOWED),
}
# Section 2.7 (BackwardCompatible) is empty in every published revision.
BACKWARD_COMPATIBLE: dict[int, Derived] = {}

# RFC 5892 section 2.4: three blocks whose characters are not wanted in
# labels. Block boundaries never move once published, so their ranges are
# written here rather than read from Blocks.txt.
IGNORABLE_BLOCKS = (
    range(0x20D0, 0x2100),    # Combining Diacritical Marks for Symbols
    range(0x1D100, 0x1D200),  # Musical Symbols
    range(0x1D200, 0x1D250),  # Ancient Greek Musical Notation
)

LETTER_DIGITS = frozenset({"Ll", "Lu", "Lo", "Nd", "Lm", "Mn", "Mc"})
OTHER_LETTER_DIGITS = frozenset({"Lt", "Nl", "No", "Me"})
SPACES = frozenset({"Zs"})
SYMBOLS = frozenset({"Sm", "Sc", "Sk", "So"})
PUNCTUATION = frozenset({"Pc", "Pd", "Ps", "Pe", "Pi", "Pf", "Po"})


def binary_properties(path: pathlib.Path, names: set[str]) -> dict[str, set[int]]:
    """The code points of each named binary property of a PropList-style file."""
    out: dict[str, set[int]] = {name: set() for name in names}
    for fields in ucd.records(path):
        if len(fields) >= 2 and fields[1] in out:
            first, last = ucd.parse_range(fields[0])
            out[fields[1]].update(range(first, last + 1))
    return out


def case_folding(data: pathlib.Path) -> dict[int, list[int]]:
    """Full case folding: the C and F mappings of CaseFolding.txt."""
    out: dict[int, list[int]] = {}
    for fields in ucd.records(ucd.ucd_dir(data) / "CaseFolding.txt"):
        if fields[1] in ("C", "F"):
            out[int(fields[0], 16)] = [int(p, 16) for p in fields[2].split()]
    return out


class Normalizer:
    """NFC and NFKC of short texts, from the generator's normalisation data.
    Slow and plain: it only has to be right, for one code point at a time."""

    def __init__(self, norm: Data) -> None:
        self._d = norm

    def _compose(self, cps: list[int]) -> list[int]:
        out: list[int] = []
        starter = -1  # index in out of the last starter, or -1
        last_ccc = 0
        for c in cps:
            ccc = self._d.ccc[c]
            if starter >= 0 and (last_ccc < ccc or (last_ccc == 0 and len(out) - 1 == starter)):
                s = out[starter]
                composite = None
                if L_BASE <= s < L_BASE + L_COUNT and V_BASE <= c < V_BASE + V_COUNT:
                    composite = S_BASE + ((s - L_BASE) * V_COUNT + (c - V_BASE)) * T_COUNT
                elif (S_BASE <= s < S_BASE + S_COUNT and (s - S_BASE) % T_COUNT == 0
                      and T_BASE < c < T_BASE + T_COUNT):
                    composite = s + (c - T_BASE)
                else:
                    composite = self._d.pairs.get((s, c))
                if composite is not None:
                    out[starter] = composite
                    continue
            if ccc == 0:
                starter = len(out)
            last_ccc = ccc
            out.append(c)
        return out

    def normalize(self, cps: list[int], compat: bool) -> list[int]:
        decomposed: list[int] = []
        for c in cps:
            decomposed.extend(self._d.full_decomposition(c, compat))
        # Canonical ordering: a stable sort of each run of non-starters.
        i = 0
        while i < len(decomposed):
            if self._d.ccc[decomposed[i]] == 0:
                i += 1
                continue
            j = i
            while j < len(decomposed) and self._d.ccc[decomposed[j]] != 0:
                j += 1
            decomposed[i:j] = sorted(decomposed[i:j], key=lambda c: self._d.ccc[c])
            i = j
        return self._compose(decomposed)


class Properties:
    """The Unicode properties both walks read, per code point."""

    def __init__(self, data: pathlib.Path) -> None:
        base = ucd.ucd_dir(data)
        self.category = ucd.property_map(base / "extracted" / "DerivedGeneralCategory.txt", str,
                                         default="Cn")
        props = binary_properties(base / "PropList.txt",
                                  {"Noncharacter_Code_Point", "White_Space", "Join_Control"})
        core = binary_properties(base / "DerivedCoreProperties.txt", {"Default_Ignorable_Code_Point"})
        self.noncharacter = props["Noncharacter_Code_Point"]
        self.white_space = props["White_Space"]
        self.join_control = props["Join_Control"]
        self.default_ignorable = core["Default_Ignorable_Code_Point"]
        syllable = ucd.property_map(base / "HangulSyllableType.txt", str, default="NA")
        # Conjoining jamo: leading, vowel and trailing.
        self.old_hangul_jamo = {c for c, t in enumerate(syllable) if t in ("L", "V", "T")}
        self.fold = case_folding(data)
        self.normalizer = Normalizer(Data(data))

    def unassigned(self, c: int) -> bool:
        return self.category[c] == "Cn" and c not in self.noncharacter

    def has_compat(self, c: int) -> bool:
        return self.normalizer.normalize([c], compat=True) != [c]

    def unstable(self, c: int) -> bool:
        nfkc = self.normalizer.normalize([c], compat=True)
        folded = [f for x in nfkc for f in self.fold.get(x, [x])]
        return self.normalizer.normalize(folded, compat=True) != [c]


def _first_steps(p: Properties, c: int) -> Derived | None:
    """The three steps both walks begin with: the exceptions, the backward
    compatible code points and the unassigned ones."""
    if c in EXCEPTIONS:
        return EXCEPTIONS[c]
    if c in BACKWARD_COMPATIBLE:
        return BACKWARD_COMPATIBLE[c]
    if p.unassigned(c):
        return Derived.UNASSIGNED
    return None


def precis_derived(p: Properties, c: int) -> Derived:
    """RFC 8264 section 8, in its order."""
    first = _first_steps(p, c)
    if first is not None:
        return first
    if 0x21 <= c <= 0x7E:
        return Derived.PVALID
    if c in p.join_control:
        return Derived.CONTEXTJ
    if c in p.old_hangul_jamo:
        return Derived.DISALLOWED
    if c in p.default_ignorable or c in p.noncharacter:
        return Derived.DISALLOWED
    category = p.category[c]
    if category == "Cc":
        return Derived.DISALLOWED
    if p.has_compat(c):
        return Derived.FREE_PVAL
    if category in LETTER_DIGITS:
        return Derived.PVALID
    if category in OTHER_LETTER_DIGITS | SPACES | SYMBOLS | PUNCTUATION:
        return Derived.FREE_PVAL
    return Derived.DISALLOWED


def idna2008_derived(p: Properties, c: int) -> Derived:
    """RFC 5892 section 3, in its order."""
    first = _first_steps(p, c)
    if first is not None:
        return first
    if c == 0x2D or 0x30 <= c <= 0x39 or 0x61 <= c <= 0x7A:
        return Derived.PVALID
    if c in p.join_control:
        return Derived.CONTEXTJ
    if p.unstable(c):
        return Derived.DISALLOWED
    if c in p.default_ignorable or c in p.white_space or c in p.noncharacter:
        return Derived.DISALLOWED
    if any(c in block for block in IGNORABLE_BLOCKS):
        return Derived.DISALLOWED
    if c in p.old_hangul_jamo:
        return Derived.DISALLOWED
    if p.category[c] in LETTER_DIGITS:
        return Derived.PVALID
    return Derived.DISALLOWED


@functools.lru_cache(maxsize=2)
def properties(data: pathlib.Path) -> Properties:
    return Properties(data)


def precis_table(data: pathlib.Path) -> list[Derived]:
    p = properties(data)
    return [precis_derived(p, c) for c in range(ucd.CODE_POINTS)]


def idna2008_table(data: pathlib.Path) -> list[Derived]:
    p = properties(data)
    return [idna2008_derived(p, c) for c in range(ucd.CODE_POINTS)]


# --- The mappings of the PRECIS profiles (RFC 8264 section 5.2, RFC 8265) ---

def lowercase_mapping(data: pathlib.Path) -> dict[int, list[int]]:
    """Unicode's full toLowercase, without context: the simple mapping of
    UnicodeData.txt, replaced by SpecialCasing.txt's unconditional entries.
    The language-specific entries never apply; the one context-dependent
    entry of the default algorithm, Final_Sigma (U+03A3 to U+03C2), is the
    caller's (see final_sigma_context)."""
    out: dict[int, list[int]] = {}
    for fields in ucd.records(ucd.ucd_dir(data) / "UnicodeData.txt"):
        if fields[13]:
            out[int(fields[0], 16)] = [int(fields[13], 16)]
    for fields in ucd.records(ucd.ucd_dir(data) / "SpecialCasing.txt"):
        # code; lower; title; upper; (condition_list;)
        if len(fields) > 4 and fields[4]:
            continue  # conditional: language-specific, or Final_Sigma
        c = int(fields[0], 16)
        lower = [int(p, 16) for p in fields[1].split()]
        if lower == [c]:
            out.pop(c, None)
        else:
            out[c] = lower
    return out


def width_mapping(data: pathlib.Path) -> dict[int, int]:
    """Fullwidth and halfwidth characters to their decomposition mappings
    (decomposition types <wide> and <narrow>, each a single code point)."""
    out: dict[int, int] = {}
    for c, e in ucd.unicode_data(data).items():
        if e.decomposition_tag in ("<wide>", "<narrow>"):
            assert len(e.decomposition) == 1, hex(c)
            out[c] = e.decomposition[0]
    return out


def scripts(data: pathlib.Path) -> list[str]:
    return ucd.property_map(ucd.ucd_dir(data) / "Scripts.txt", str, default="Unknown")


def casing_properties(data: pathlib.Path) -> tuple[set[int], set[int]]:
    """Cased and Case_Ignorable, which decide the Final_Sigma context."""
    core = binary_properties(ucd.ucd_dir(data) / "DerivedCoreProperties.txt",
                             {"Cased", "Case_Ignorable"})
    return core["Cased"], core["Case_Ignorable"]


# --- The generated table ---

# Bits of the per-code-point value (besides the two derived values).
PRECIS_MASK = 0x7        # bits 0-2: the PRECIS derived value
IDNA_SHIFT = 3           # bits 3-5: the IDNA2008 derived value
LOWER = 1 << 6           # toLowerCase changes it (kLowerMappings has the text)
WIDTH = 1 << 7           # a <wide> or <narrow> decomposition (kWidthMappings)
NON_ASCII_SPACE = 1 << 8  # General_Category Zs, other than U+0020
GREEK = 1 << 9           # Script=Greek (CONTEXTO, U+0375)
HEBREW = 1 << 10         # Script=Hebrew (CONTEXTO, U+05F3 and U+05F4)
HIRAGANA_KATAKANA_HAN = 1 << 11  # (CONTEXTO, U+30FB)
CASED = 1 << 12          # Cased (Final_Sigma)
CASE_IGNORABLE = 1 << 13  # Case_Ignorable (Final_Sigma)
RTL = 1 << 14            # Bidi_Class R, AL or AN: the Bidi Rule applies
MARK = 1 << 15           # General_Category Mn, Mc or Me (no label may begin with one)
BIDI_SHIFT = 16          # bits 16-20: the Bidi_Class, numbered as uts46.BIDI_CLASSES
BIDI_MASK = 0x1F
NFC_INERT = 1 << 21      # NFC_QC=Yes and combining class 0: a text of these alone is NFC
# What the one-pass routes of the two profiles keep without a further look:
# a code point the profile's class allows outright and its mappings leave.
KEPT_USERNAME = 1 << 22  # PVALID, no toLowerCase or width mapping
KEPT_OPAQUE = 1 << 23    # PVALID or FREE_PVAL, not a non-ASCII space
# The Bidi Rule (RFC 5893 section 2) tells apart only seven groups of
# Bidi_Class: one bit each, so that OR-ing a label's values gives the set of
# groups it holds and its rule needs no per-character step of its own.
BIDI_GROUP_SHIFT = 24    # bits 24-30
BIDI_GROUPS = (
    ("L", ("L",)),
    ("RAL", ("R", "AL")),
    ("AN", ("AN",)),
    ("EN", ("EN",)),
    # Allowed in labels of either direction, and never their end.
    ("NEUTRAL", ("ES", "CS", "ET", "ON", "BN")),
    ("NSM", ("NSM",)),
    # Allowed in no label.
    ("OTHER", ("B", "S", "WS", "LRE", "LRO", "RLE", "RLO", "PDF", "LRI", "RLI", "FSI", "PDI")),
)
# The second table, read by the comparison's reasons only.
SYMBOL = 1 << 0          # General_Category Sm, Sc, Sk or So
COMPAT = 1 << 1          # a compatibility decomposition


def _utf8(cps: list[int]) -> bytes:
    return "".join(map(chr, cps)).encode("utf-8")


def values(data: pathlib.Path) -> tuple[list[int], list[int], dict[int, list[int]], dict[int, int]]:
    """The per-code-point values, the comparison's flags, and the two
    mappings the values point into."""
    from . import uts46

    p = properties(data)
    packed = uts46.property_values(data)
    rtl = {uts46.BIDI_CLASSES.index(b) for b in ("R", "AL", "AN")}
    group_of = {uts46.BIDI_CLASSES.index(b): g for g, (_, members) in enumerate(BIDI_GROUPS)
                for b in members}
    assert sorted(group_of) == list(range(len(uts46.BIDI_CLASSES)))
    assert BIDI_GROUP_SHIFT + len(BIDI_GROUPS) <= 32 and BIDI_GROUP_SHIFT > BIDI_SHIFT + 5
    lower = lowercase_mapping(data)
    width = width_mapping(data)
    script = scripts(data)
    cased, ignorable = casing_properties(data)
    norm = p.normalizer._d
    out = []
    reasons = []
    for c in range(ucd.CODE_POINTS):
        v = int(precis_derived(p, c)) | int(idna2008_derived(p, c)) << IDNA_SHIFT
        if c in lower:
            v |= LOWER
        if c in width:
            v |= WIDTH
        if p.category[c] == "Zs" and c != 0x20:
            v |= NON_ASCII_SPACE
        s = script[c]
        if s == "Greek":
            v |= GREEK
        elif s == "Hebrew":
            v |= HEBREW
        elif s in ("Hiragana", "Katakana", "Han"):
            v |= HIRAGANA_KATAKANA_HAN
        if c in cased:
            v |= CASED
        if c in ignorable:
            v |= CASE_IGNORABLE
        if packed[c] & ((1 << uts46.JOINING_SHIFT) - 1) in rtl:
            v |= RTL
        if p.category[c] in ("Mn", "Mc", "Me"):
            v |= MARK
        bidi = packed[c] & ((1 << uts46.JOINING_SHIFT) - 1)
        assert bidi <= BIDI_MASK
        v |= bidi << BIDI_SHIFT
        v |= 1 << (BIDI_GROUP_SHIFT + group_of[bidi])
        if norm.ccc[c] == 0 and not norm.nfc_check[c]:
            v |= NFC_INERT
        derived = v & PRECIS_MASK
        if derived == Derived.PVALID and not v & (LOWER | WIDTH):
            v |= KEPT_USERNAME
        if derived in (Derived.PVALID, Derived.FREE_PVAL) and not v & NON_ASCII_SPACE:
            v |= KEPT_OPAQUE
        out.append(v)
        reasons.append((SYMBOL if p.category[c] in SYMBOLS else 0) | (COMPAT if p.has_compat(c) else 0))
    return out, reasons, lower, width


def generate(data: pathlib.Path) -> dict[str, str]:
    table, reasons, lower, width = values(data)
    text, size = emit.best_two_stage("precis", table, "std::uint32_t")
    reason_text, reason_size = emit.best_two_stage("reason", reasons, "std::uint8_t")
    pool = bytearray()
    lower_rows = []
    for c in sorted(lower):
        encoded = _utf8(lower[c])
        assert len(encoded) < 8 and len(pool) < 1 << 13
        lower_rows.append(f"{{0x{c:X}, {len(pool) << 3 | len(encoded)}}}")
        pool += encoded
    width_rows = [f"{{0x{c:X}, 0x{width[c]:X}}}" for c in sorted(width)]
    pool_text = emit.c_array("std::uint8_t", "kLowerPool", list(pool))

    def rows(name: str, items: list[str]) -> str:
        body = "\n".join("  " + ", ".join(items[i:i + 6]) + "," for i in range(0, len(items), 6))
        return f"inline constexpr Mapping {name}[{len(items)}] = {{\n{body}\n}};\n"

    counts = {d.name: 0 for d in Derived}
    for v in table:
        counts[Derived(v & PRECIS_MASK).name] += 1
    return {"precis.h": (
        emit.header("precis")
        + "// The PRECIS (RFC 8264) and IDNA2008 (RFC 5892) derived property values of\n"
        "// every code point, the flags the PRECIS profiles and the contextual rules\n"
        "// read, and the toLowerCase and width mappings, from the pinned UCD.\n"
        f"// PRECIS values: {', '.join(f'{k} {n}' for k, n in counts.items())};\n"
        f"// {size} + {reason_size} bytes of look-up, {len(lower)} lower-case and {len(width)} width mappings.\n"
        "#pragma once\n\n#include <cstddef>\n#include <cstdint>\n\n"
        "namespace quorvel::precis::generated {\n\n"
        "// The order of both derived values.\n"
        "enum class Derived : std::uint8_t {\n"
        + "".join(f"  {d.name.title().replace('_', '')} = {int(d)},\n" for d in Derived)
        + "};\n\n"
        f"inline constexpr std::uint16_t kPrecisMask = 0x{PRECIS_MASK:X};\n"
        f"inline constexpr unsigned kIdnaShift = {IDNA_SHIFT};\n"
        f"inline constexpr std::uint16_t kLower = 0x{LOWER:X};\n"
        f"inline constexpr std::uint16_t kWidth = 0x{WIDTH:X};\n"
        f"inline constexpr std::uint16_t kNonAsciiSpace = 0x{NON_ASCII_SPACE:X};\n"
        f"inline constexpr std::uint16_t kGreek = 0x{GREEK:X};\n"
        f"inline constexpr std::uint16_t kHebrew = 0x{HEBREW:X};\n"
        f"inline constexpr std::uint16_t kHiraganaKatakanaHan = 0x{HIRAGANA_KATAKANA_HAN:X};\n"
        f"inline constexpr std::uint16_t kCased = 0x{CASED:X};\n"
        f"inline constexpr std::uint16_t kCaseIgnorable = 0x{CASE_IGNORABLE:X};\n"
        f"inline constexpr std::uint16_t kRtl = 0x{RTL:X};\n"
        f"inline constexpr std::uint16_t kMark = 0x{MARK:X};\n"
        "// The Bidi_Class, in the order of unicode::idna::BidiClass.\n"
        f"inline constexpr unsigned kBidiShift = {BIDI_SHIFT};\n"
        f"inline constexpr std::uint32_t kBidiMask = 0x{BIDI_MASK:X};\n"
        f"inline constexpr std::uint32_t kNfcInert = 0x{NFC_INERT:X};\n"
        "// The group of the Bidi_Class, one bit each: a label's values OR'ed give the\n"
        "// groups the Bidi Rule reads.\n"
        f"inline constexpr unsigned kBidiGroupShift = {BIDI_GROUP_SHIFT};\n"
        + "".join(f"inline constexpr std::uint32_t kBidiGroup{name.title()} = 0x{1 << (BIDI_GROUP_SHIFT + g):X};"
                  f"  // {' '.join(members)}\n" for g, (name, members) in enumerate(BIDI_GROUPS))
        + "// Kept as it is by the one pass of UsernameCaseMapped / OpaqueString.\n"
        f"inline constexpr std::uint32_t kKeptUsername = 0x{KEPT_USERNAME:X};\n"
        f"inline constexpr std::uint32_t kKeptOpaque = 0x{KEPT_OPAQUE:X};\n"
        "// reason_lookup(c): the comparison's flags.\n"
        f"inline constexpr std::uint8_t kSymbol = 0x{SYMBOL:X};\n"
        f"inline constexpr std::uint8_t kCompat = 0x{COMPAT:X};\n\n"
        + text
        + reason_text
        + "\n// Sorted by code point. For kLowerMappings, `to` is the UTF-8 text's\n"
        "// offset in kLowerPool shifted left by 3, or'ed with its length.\n"
        "struct Mapping {\n  char32_t from;\n  std::uint32_t to;\n};\n\n"
        + rows("kLowerMappings", lower_rows)
        + pool_text
        + rows("kWidthMappings", width_rows)
        + "\n}  // namespace quorvel::precis::generated\n")}

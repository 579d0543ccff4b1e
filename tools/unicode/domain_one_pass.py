"""The table of the one-pass domain preparation (core/src/domain/domain_one_pass.cpp).

A domain is prepared twice over: the UTS #46 check (17.0 mapping, NFC,
validity, bidi) and then nameprep (B.1, B.2, NFKC, prohibited output, bidi,
unassigned). For nearly every non-ASCII domain met in practice each of its
characters is left alone by both: UTS #46 finds it valid and simple for NFC,
nameprep neither drops nor folds it, it is its own NFKC and nothing refuses
it. Of such a text both passes only judge the shape (labels, hyphens, marks,
bidi, lengths), which one pass can do with one look-up per character.

One byte per code point, in a two-stage table:

- kKeep: valid under UTS #46 (not a deviation), NFC_Quick_Check Yes with
  combining class 0, and for nameprep: not in B.1 or B.2, NFKC-inert, not
  prohibited, assigned in Unicode 3.2 (not in A.1) and in 16.0;
- kFold: the same, except that UTS #46 may also call it a deviation and
  nameprep folds it (B.2) to NFKC-inert characters of as many UTF-8 bytes
  (U+00DF, U+03C2): the IDNA check sees it as written, nameprep's output
  needs a second look;
- kMark: General_Category Mark (a label may not start with one);
- the low five bits: Bidi_Class of Unicode 17.0, numbered as in
  idna_properties.h.

Zero for every other code point, ASCII included (the C++ code reads ASCII
from its own byte table).
"""
from __future__ import annotations

import pathlib

from . import emit, stringprep, ucd, uts46

KEEP = 1 << 7
FOLD = 1 << 6
MARK = 1 << 5
BIDI_MASK = 0x1F

# The flags of stringprep.py that keep a character off the one pass.
_B = stringprep.BIT
NOT_KEPT = (_B["kMapToNothing"] | _B["kCaseFold"] | _B["kProhibited"] | _B["kUnassigned"]
            | _B["kAssignedAfter16"] | _B["kAsciiSpace"] | _B["kAsciiControl"])
NOT_FOLDED = NOT_KEPT & ~_B["kCaseFold"]


def values(data: pathlib.Path) -> list[int]:
    status, _ = uts46.read_mapping(data, "17.0.0")
    simple = uts46.nfc_simple(data, uts46.ccc_map(data))
    properties = uts46.property_values(data)
    flags, b2 = stringprep.profile_flags(data)
    rand_al = {uts46.BIDI_CLASSES.index("R"), uts46.BIDI_CLASSES.index("AL")}
    left = uts46.BIDI_CLASSES.index("L")
    out = [0] * ucd.CODE_POINTS
    for c in range(0x80, ucd.CODE_POINTS):
        f = flags[c]
        if not simple[c]:
            continue
        keep = status[c] == "valid" and not f & NOT_KEPT and f & _B["kNfkcInert"]
        fold = (status[c] in ("valid", "deviation") and not f & NOT_FOLDED
                and f & _B["kCaseFold"] and f & _B["kFoldInert"])
        if not keep and not fold:
            continue
        bidi = properties[c] & ((1 << uts46.JOINING_SHIFT) - 1)
        # Nameprep's bidi rule reads RandALCat and LCat, the IDNA check the
        # class itself; the one pass derives the former from the latter.
        assert bool(f & _B["kRandAL"]) == (bidi in rand_al), hex(c)
        assert bool(f & _B["kLCat"]) == (bidi == left), hex(c)
        assert c not in (0x200C, 0x200D), "a joiner would need CONTEXTJ"
        # The pass folds in place (domain_one_pass.cpp fold()).
        assert keep or len("".join(map(chr, b2[c])).encode()) == len(chr(c).encode()), hex(c)
        out[c] = (KEEP if keep else FOLD) | (MARK if properties[c] & uts46.MARK_BIT else 0) | bidi
    return out


def generate(data: pathlib.Path) -> dict[str, str]:
    table = values(data)
    text, size = emit.best_two_stage("one_pass", table, "std::uint8_t")
    kept = sum(1 for v in table if v & KEEP)
    folded = sum(1 for v in table if v & FOLD)
    return {"domain_one_pass.h": (
        emit.header("domain_one_pass")
        + "// What the one-pass domain preparation needs of each non-ASCII code point\n"
        f"// (see tools/unicode/domain_one_pass.py): {kept} kept, {folded} folded;\n"
        f"// {size} bytes.\n"
        "#pragma once\n\n#include <cstddef>\n#include <cstdint>\n\n"
        "namespace quorvel::domain_one_pass::generated {\n\n"
        f"inline constexpr std::uint8_t kKeep = 0x{KEEP:X};\n"
        f"inline constexpr std::uint8_t kFold = 0x{FOLD:X};\n"
        f"inline constexpr std::uint8_t kMark = 0x{MARK:X};\n"
        f"inline constexpr std::uint8_t kBidiMask = 0x{BIDI_MASK:X};\n\n"
        + text
        + "\n}  // namespace quorvel::domain_one_pass::generated\n")}

// Per-code-point properties of the stringprep profiles: RFC 3454's tables,
// the bidirectional categories and two flags from the Unicode data, all
// generated into constant tables (see tools/unicode/stringprep.py). Nothing
// is built at run time.
#pragma once

#include <cstdint>
#include <string_view>

#include "tables/stringprep.h"

namespace quorvel::tables {

using Flags = std::uint16_t;

using generated::kAsciiControl;     // C.2.1
using generated::kAsciiSpace;       // C.1.1
using generated::kAssignedAfter16;  // new in Unicode 17.0: unassigned for the profiles
using generated::kCaseFold;         // has an entry in B.2
using generated::kFoldInert;        // the B.2 mapping is made of kNfkcInert code points
using generated::kLCat;             // Bidi_Class L
using generated::kMapToNothing;     // B.1
using generated::kNfkcInert;        // NFKC_QC Yes, combining class 0
using generated::kNodeExtra;        // the eight ASCII characters only a localpart refuses
using generated::kProhibited;       // C.1.2, C.2.2, C.3 ... C.9
using generated::kRandAL;           // Bidi_Class R or AL
using generated::kUnassigned;       // A.1

// ASCII is answered from a flat array; everything else from the two-stage
// table.
constexpr Flags flags(char32_t c) noexcept {
  return c < 0x80 ? generated::ascii_flags[c] : generated::flags_lookup(c);
}

// The B.2 mapping of c as UTF-8; empty when c has none.
constexpr std::string_view case_fold(char32_t c) noexcept {
  if (c - 'A' < 26) return {&"abcdefghijklmnopqrstuvwxyz"[c - 'A'], 1};
  const std::uint16_t v = generated::case_fold_lookup(c);
  return {generated::case_fold_utf8 + (v >> 4), static_cast<std::size_t>(v & 0xF)};
}

}  // namespace quorvel::tables

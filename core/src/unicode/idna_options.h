// The choices UTS #46 leaves to its caller, and the errors its processing
// records.
#pragma once

#include <array>
#include <cstdint>

#include "unicode/idna_mapping.h"

namespace quorvel::unicode::idna {

// One bit per kind of error. The comments give the codes Unicode's
// conformance file uses for them.
enum Error : std::uint32_t {
  kInvalidUtf8 = 1u << 0,        // the input is not UTF-8 (A3 for lone surrogates)
  kDisallowed = 1u << 1,         // V7: a status other than valid or deviation
  kNotNfc = 1u << 2,             // V1
  kHyphen3And4 = 1u << 3,        // V2: "-" as third and fourth character
  kHyphenAtEdge = 1u << 4,       // V3: "-" first or last
  kAcePrefix = 1u << 5,          // V4: "xn--" in a label without CheckHyphens
  kLabelHasDot = 1u << 6,        // V5
  kLeadingMark = 1u << 7,        // V6
  kStd3 = 1u << 8,               // U1: an ASCII character STD3 does not allow
  kDenied = 1u << 9,             // a character of the caller's deny set
  kJoiner = 1u << 10,            // C1, C2
  kBidi = 1u << 11,              // B1-B6
  kPunycode = 1u << 12,          // P4: an "xn--" label that is not Punycode of a Unicode label
  kEncodeOverflow = 1u << 13,    // A3
  kDomainLength = 1u << 14,      // A4_1
  kLabelLength = 1u << 15,       // A4_2
  kEmptyLabel = 1u << 16,        // X4_2 (ToUnicode): an empty label other than a last one
};

struct Options {
  // The mapping table; nullptr means the current one (17.0.0).
  const MappingTable* table = nullptr;
  bool check_hyphens = true;
  bool check_bidi = true;
  bool check_joiners = true;
  bool use_std3_ascii_rules = false;
  bool verify_dns_length = true;
  // ASCII characters no label may hold after mapping, whatever the STD3
  // choice (nullptr: none). Indexed by byte; only 0x00-0x7F are read.
  const std::array<bool, 256>* denied = nullptr;
  // Transitional processing (deprecated by UTS #46) is not offered: the
  // four deviation characters always pass the mapping unchanged.
};

}  // namespace quorvel::unicode::idna

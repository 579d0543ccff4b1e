// The profiles on plain ASCII, without the two-stage Unicode tables.
//
// On ASCII, mapping can only fold capitals (B.1 holds no ASCII), NFKC changes
// nothing, and no ASCII character is RandALCat, so each profile reduces to a
// class per byte: kept, folded, or prohibited.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "prep/char_tables.h"

namespace quorvel::ascii {

enum Class : std::uint8_t {
  kKeep = 0,
  kFold = 1,        // A-Z under a case-folding profile
  kRefuse = 2,      // prohibited by the profile
  kNonAscii = 4,    // a byte of a multi-byte character
};

using ClassTable = std::array<std::uint8_t, 256>;

// The eight ASCII characters that only nodeprep prohibits (besides the space
// and the controls, which it shares with other profiles), as the generated
// stringprep table marks them.
constexpr bool node_only_refused(int b) {
  return b < 0x80 && (tables::generated::ascii_flags[b] & tables::kNodeExtra) != 0;
}

constexpr ClassTable make_table(bool fold_capitals, bool refuse_space, bool node_extra) {
  ClassTable t{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t c = kKeep;
    if (b >= 0x80) {
      c = kNonAscii;
    } else if (b < 0x20 || b == 0x7F) {
      c = kRefuse;  // C.2.1 (nameprep leaves these to the IDNA check of the domain)
    } else if (b == ' ' && refuse_space) {
      c = kRefuse;
    } else if (b >= 'A' && b <= 'Z' && fold_capitals) {
      c = kFold;
    } else if (node_extra && node_only_refused(b)) {
      c = kRefuse;
    }
    t[static_cast<std::size_t>(b)] = c;
  }
  return t;
}

inline constexpr ClassTable kNodeClasses = make_table(true, true, true);
inline constexpr ClassTable kResourceClasses = make_table(false, false, false);
// Nameprep prohibits neither the ASCII space nor the ASCII controls.
inline constexpr ClassTable kNameClasses = [] {
  ClassTable t = make_table(true, false, false);
  for (int b = 0; b < 0x20; ++b) t[static_cast<std::size_t>(b)] = kKeep;
  t[0x7F] = kKeep;
  return t;
}();

enum class Outcome { Unchanged, Lowered, Prohibited, NotAscii };

inline Outcome classify(std::string_view s, const ClassTable& table) noexcept {
  std::uint8_t seen = 0;
  for (unsigned char b : s) seen |= table[b];
  if (seen & kNonAscii) return Outcome::NotAscii;
  if (seen & kRefuse) return Outcome::Prohibited;
  if (seen & kFold) return Outcome::Lowered;
  return Outcome::Unchanged;
}

}  // namespace quorvel::ascii

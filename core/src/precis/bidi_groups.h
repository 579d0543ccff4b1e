// The Bidi Rule of RFC 5893 section 2 read from the PRECIS table's group
// bits: the rule tells apart only seven groups of Bidi_Class (L; R and AL;
// AN; EN; the neutrals ES, CS, ET, ON and BN; NSM; all the others), each a
// bit of a code point's value, so the values a loop ORs together anyway give
// the groups a label holds and the rule costs nothing per character. Only
// its first character and its last that is not NSM are looked at again, and
// only for a text with right-to-left characters.
//
// Its twin is BidiRule (unicode/bidi_rule.h), which the general routes feed
// a character at a time: the tests hold both, and a literal reading of the
// six conditions, to one verdict on every short sequence of classes.
#pragma once

#include <cstdint>
#include <string_view>

#include "precis/properties.h"
#include "unicode/utf8_codec.h"

namespace quorvel::precis::bidi_groups {

using unicode::idna::BidiClass;

inline constexpr std::uint32_t kL = generated::kBidiGroupL;
inline constexpr std::uint32_t kRal = generated::kBidiGroupRal;
inline constexpr std::uint32_t kAn = generated::kBidiGroupAn;
inline constexpr std::uint32_t kEn = generated::kBidiGroupEn;
inline constexpr std::uint32_t kNeutral = generated::kBidiGroupNeutral;
inline constexpr std::uint32_t kNsm = generated::kBidiGroupNsm;
inline constexpr std::uint32_t kOther = generated::kBidiGroupOther;
inline constexpr std::uint32_t kAll = kL | kRal | kAn | kEn | kNeutral | kNsm | kOther;

// The group bit of a Bidi_Class, as the generator sets it.
constexpr std::uint32_t group_of(BidiClass c) noexcept {
  switch (c) {
    using enum BidiClass;
    case L:
      return kL;
    case R:
    case AL:
      return kRal;
    case AN:
      return kAn;
    case EN:
      return kEn;
    case ES:
    case CS:
    case ET:
    case ON:
    case BN:
      return kNeutral;
    case NSM:
      return kNsm;
    default:
      return kOther;
  }
}

// The rule on a label's groups: `seen` every group it holds, `first` the
// group of its first character, `last` that of its last character that is
// not NSM (0 when there is none). An empty label (seen == 0) passes.
constexpr bool passes(std::uint32_t seen, std::uint32_t first, std::uint32_t last) noexcept {
  if (seen == 0) return true;
  // Condition 1: the first character is L, R or AL.
  if (first & kRal) {
    // Conditions 2 to 4: what a right-to-left label may hold, how it ends,
    // and EN and AN not both.
    return (seen & ~(kRal | kAn | kEn | kNeutral | kNsm)) == 0 && (last & (kRal | kEn | kAn)) != 0 &&
           (seen & (kEn | kAn)) != (kEn | kAn);
  }
  // Conditions 5 and 6.
  return first == kL && (seen & ~(kL | kEn | kNeutral | kNsm)) == 0 && (last & (kL | kEn)) != 0;
}

// The group of the last code point of `text` (well-formed UTF-8) that is
// not NSM, 0 when there is none: what a text ending in a mark needs.
inline std::uint32_t last_group_not_nsm(std::string_view text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t end = text.size(); end > 0;) {
    std::size_t start = end - 1;
    while (start > 0 && (p[start] & 0xC0) == 0x80) --start;
    std::size_t i = start;
    const std::uint32_t g = info(utf8::decode(text, i)).bits & kAll;
    if (g != kNsm) return g;
    end = start;
  }
  return 0;
}

// The rule on `text` (well-formed UTF-8, not empty) from the values of its
// code points OR'ed (`any_bits`) and those of its first and its last code
// point, which a loop over it has at hand.
inline bool text_passes(std::string_view text, std::uint32_t any_bits, std::uint32_t first_bits,
                        std::uint32_t last_bits) noexcept {
  std::uint32_t last = last_bits & kAll;
  if (last == kNsm) last = last_group_not_nsm(text);
  return passes(any_bits & kAll, first_bits & kAll, last);
}

}  // namespace quorvel::precis::bidi_groups

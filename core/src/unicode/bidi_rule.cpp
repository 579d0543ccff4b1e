#include "unicode/bidi_rule.h"

#include <initializer_list>

namespace quorvel::unicode::idna {
namespace {

constexpr std::uint32_t set(std::initializer_list<BidiClass> classes) {
  std::uint32_t s = 0;
  for (BidiClass c : classes) s |= 1u << static_cast<unsigned>(c);
  return s;
}

using enum BidiClass;
constexpr std::uint32_t kRtlStart = set({R, AL});
constexpr std::uint32_t kRtlClasses = set({R, AL, AN});
// Conditions 2 and 5: what each direction of label may hold.
constexpr std::uint32_t kRtlAllowed = set({R, AL, AN, EN, ES, CS, ET, ON, BN, NSM});
constexpr std::uint32_t kLtrAllowed = set({L, EN, ES, CS, ET, ON, BN, NSM});
// Conditions 3 and 6: how each may end, before any trailing NSMs.
constexpr std::uint32_t kRtlEnd = set({R, AL, EN, AN});
constexpr std::uint32_t kLtrEnd = set({L, EN});
constexpr std::uint32_t kEuropeanAndArabicNumbers = set({EN, AN});

}  // namespace

bool has_rtl_character(std::uint32_t seen) noexcept { return (seen & kRtlClasses) != 0; }

bool label_passes_bidi_rule(std::uint32_t seen, std::uint32_t first,
                            std::uint32_t last_strong_or_other) noexcept {
  if (seen == 0) return true;
  if (first & kRtlStart) {
    return (seen & ~kRtlAllowed) == 0 && (last_strong_or_other & kRtlEnd) != 0 &&
           // Condition 4: EN and AN not both.
           (seen & kEuropeanAndArabicNumbers) != kEuropeanAndArabicNumbers;
  }
  // Condition 1: the first character is L, R or AL.
  if (first != set({L})) return false;
  return (seen & ~kLtrAllowed) == 0 && (last_strong_or_other & kLtrEnd) != 0;
}

}  // namespace quorvel::unicode::idna

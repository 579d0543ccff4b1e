#include "bidi_rule.h"

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

bool BidiRule::has_rtl_character() const noexcept { return (seen_ & kRtlClasses) != 0; }

bool BidiRule::passes() const noexcept {
  if (seen_ == 0) return true;
  if (first_ & kRtlStart) {
    return (seen_ & ~kRtlAllowed) == 0 && (last_strong_or_other_ & kRtlEnd) != 0 &&
           // Condition 4: EN and AN not both.
           (seen_ & kEuropeanAndArabicNumbers) != kEuropeanAndArabicNumbers;
  }
  // Condition 1: the first character is L, R or AL.
  if (first_ != set({L})) return false;
  return (seen_ & ~kLtrAllowed) == 0 && (last_strong_or_other_ & kLtrEnd) != 0;
}

}  // namespace quorvel::unicode::idna

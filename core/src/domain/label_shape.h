// What both one-pass domain checks (the stringprep one, domain_one_pass.cpp,
// and the IDNA2008 one, precis_domain.cpp) read of a label's shape once its
// characters are counted: CheckHyphens' third and fourth places, and a
// bound on the Punycode length that needs no division for a label short
// enough to fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "unicode/dns_length.h"
#include "unicode/punycode.h"

namespace quorvel::label_shape {

inline constexpr std::size_t kAcePrefix = 4;  // "xn--"
// A label with a non-ASCII character takes at least one byte of Punycode per
// character after the prefix.
inline constexpr std::size_t kMaxLabelCharacters = dns::kMaxLabelBytes - kAcePrefix;

namespace detail {
// Decimal digits of n.
constexpr std::size_t digits(std::uint64_t n) noexcept {
  std::size_t d = 0;
  for (; n > 0; n /= 10) ++d;
  return d;
}
}  // namespace detail

// A bound on the Punycode of a label of at most kMaxLabelCharacters
// characters (`basic` of them ASCII, none above `largest`), without
// punycode::encoded_length_bound's division: that bound's number
// ceil((S + N) / N) with S = largest * L + N * (L + 1) is below
// (largest + 1) * L + 3, and L is at most 59, so each of the N numbers
// takes at most 2 + digits((limit + 1) * 59 + 3) bytes for the next limit
// at or above the largest code point. Never below encoded_length_bound (the
// tests compare them); where it says "too long", that bound decides.
inline std::size_t quick_length_bound(std::size_t characters, std::size_t basic,
                                      char32_t largest) noexcept {
  constexpr std::size_t kUpTo7FF = 2 + detail::digits(0x800ull * kMaxLabelCharacters + 3);
  constexpr std::size_t kUpToFFFF = 2 + detail::digits(0x10000ull * kMaxLabelCharacters + 3);
  constexpr std::size_t kAny = 2 + detail::digits(0x110000ull * kMaxLabelCharacters + 3);
  const std::size_t per_number = largest < 0x800 ? kUpTo7FF : largest < 0x10000 ? kUpToFFFF : kAny;
  return basic + (basic > 0 ? 1 : 0) + (characters - basic) * per_number;
}

inline std::size_t label_length_bound(std::size_t characters, std::size_t basic,
                                      char32_t largest) noexcept {
  const std::size_t quick = quick_length_bound(characters, basic, largest);
  if (quick <= dns::kMaxLabelBytes - kAcePrefix) return quick;
  return unicode::punycode::encoded_length_bound(characters, basic, largest);
}

// Whether characters 2 and 3 of a label (counted from 0) are both hyphens,
// which CheckHyphens refuses. The label is valid UTF-8.
inline bool hyphens_at_3_and_4(std::string_view label) noexcept {
  std::size_t i = 0;
  for (int k = 0; k < 2 && i < label.size(); ++k) {
    const auto b = static_cast<unsigned char>(label[i]);
    i += b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  }
  return i + 2 <= label.size() && label[i] == '-' && label[i + 1] == '-';
}

// The length of a label's ASCII form, bounded from above where it has
// non-ASCII characters; above dns::kMaxLabelBytes where it may be too long.
inline std::size_t ascii_form_length(std::size_t characters, std::size_t basic,
                                     char32_t largest) noexcept {
  if (basic == characters) return characters;
  if (characters > kMaxLabelCharacters) return dns::kMaxLabelBytes + 1;
  return kAcePrefix + label_length_bound(characters, basic, largest);
}

}  // namespace quorvel::label_shape

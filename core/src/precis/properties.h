// What the PRECIS profiles and the IDNA2008 domain check read of a code
// point: its two derived property values, a few flags, and the two
// mappings, all from the generated table (Unicode 17.0, built in).
#pragma once

#include <cstdint>
#include <string_view>

#include "tables/precis.h"
#include "unicode/idna_properties.h"

namespace quorvel::precis {

using generated::Derived;

struct CodePointInfo {
  std::uint32_t bits;

  constexpr Derived precis() const noexcept {
    return static_cast<Derived>(bits & generated::kPrecisMask);
  }
  constexpr Derived idna2008() const noexcept {
    return static_cast<Derived>((bits >> generated::kIdnaShift) & generated::kPrecisMask);
  }
  constexpr bool has(std::uint32_t flag) const noexcept { return (bits & flag) != 0; }
  // The Bidi_Class, as unicode::idna::properties(c) gives it: read here so
  // that the Bidi Rule is fed from the look-up each loop makes anyway.
  constexpr unicode::idna::BidiClass bidi_class() const noexcept {
    return static_cast<unicode::idna::BidiClass>((bits >> generated::kBidiShift) &
                                                 generated::kBidiMask);
  }
  // NFC_QC=Yes and combining class 0, as unicode::nfc_inert(c).
  constexpr bool nfc_inert() const noexcept { return has(generated::kNfcInert); }
};

constexpr CodePointInfo info(char32_t c) noexcept { return {generated::precis_lookup(c)}; }

// toLowerCase of one code point without context, as UTF-8; empty when the
// code point has no mapping (info(c).has(kLower) is false). U+03A3's
// context-dependent form is the caller's.
std::string_view lower_mapping(char32_t c) noexcept;

// The <wide> or <narrow> decomposition of `c`, or `c` itself.
char32_t width_mapping(char32_t c) noexcept;

}  // namespace quorvel::precis

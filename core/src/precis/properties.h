// What the PRECIS profiles and the IDNA2008 domain check read of a code
// point: its two derived property values, a few flags, and the two
// mappings, all from the generated table (Unicode 17.0, built in).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tables/precis.h"
#include "unicode/utf8_codec.h"
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

// The table's first 32 blocks are those of U+0000-U+07FF in order (none of
// them repeats another), so the value of an ASCII or two-byte code point is
// one load rather than two. Should new data ever merge two of them, this
// fails and info() is the way again.
constexpr bool flat_below_800() noexcept {
  for (std::size_t k = 0; k < 0x800 / 64; ++k) {
    if (generated::precis_index[k] != k) return false;
  }
  return true;
}
static_assert(flat_below_800());

constexpr CodePointInfo info_below_800(char32_t c) noexcept { return {generated::precis_blocks[c]}; }

// The code point at s[i] and its value, i moved past it: the step of the
// profiles' and the domain's one-pass loops. ASCII and two-byte sequences,
// all of Latin, Greek, Cyrillic, Hebrew and Arabic, take the short way
// here, with one load for the value; the rest go through utf8::decode and
// info(). False for an ill-formed sequence (i then moved on as decode
// moves it).
[[gnu::always_inline]] inline bool next(std::string_view s, std::size_t& i, char32_t& c,
                                        CodePointInfo& ci) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::uint32_t b0 = p[i];
  if (b0 < 0x80) {
    c = b0;
    ++i;
    ci = info_below_800(c);
    return true;
  }
  if (b0 - 0xC2u < 0x1Eu && i + 1 < s.size()) {
    const std::uint32_t b1 = p[i + 1];
    if ((b1 ^ 0x80u) < 0x40u) {
      // 110xxxxx 10yyyyyy: (b0 << 6) + b1 is xxxxxyyyyyy plus the two tags.
      c = (b0 << 6) + b1 - 0x3080;
      i += 2;
      ci = info_below_800(c);
      return true;
    }
  }
  c = utf8::decode(s, i);
  ci = info(c);
  return c != utf8::kInvalid;
}

// toLowerCase of one code point without context, as UTF-8; empty when the
// code point has no mapping (info(c).has(kLower) is false). U+03A3's
// context-dependent form is the caller's.
std::string_view lower_mapping(char32_t c) noexcept;

// The <wide> or <narrow> decomposition of `c`, or `c` itself.
char32_t width_mapping(char32_t c) noexcept;

}  // namespace quorvel::precis

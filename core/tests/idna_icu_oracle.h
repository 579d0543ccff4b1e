// ICU's UTS #46 as an oracle for the domain check, and the differences
// between the two that are known and allowed; shared by the core tests and
// the fuzz target that compares them. Include only where ICU is installed.
#pragma once

#include <unicode/bytestream.h>
#include <unicode/idna.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "domain/idna_check.h"
#include "unicode/to_ascii.h"

namespace quorvel::testing {

// Characters assigned by Unicode 15.0 whose UTS #46 status or mapping
// changed after 15.0 (in the 15.1 and 16.0 tables): an ICU with 15.0 data
// gives the old verdict. Ranges, inclusive.
inline const std::vector<std::pair<char32_t, char32_t>> kChangedAfter15 = {
    {0x04C0, 0x04C0},    // CYRILLIC LETTER PALOCHKA: now maps to U+04CF
    {0x10A0, 0x10C5},    // Georgian capitals: now map to the small letters
    {0x115F, 0x1160},    // Hangul fillers: now ignored
    {0x17B4, 0x17B5},    // Khmer inherent vowels: now ignored
    {0x1806, 0x1806},    // MONGOLIAN TODO SOFT HYPHEN: now valid
    {0x180E, 0x180E},    // MONGOLIAN VOWEL SEPARATOR: now ignored
    {0x1E9E, 0x1E9E},    // LATIN CAPITAL LETTER SHARP S: now maps to U+00DF, not "ss"
    {0x2061, 0x2063},    // invisible operators: now ignored
    {0x206A, 0x206F},    // deprecated format characters: now ignored
    {0x2132, 0x2132},    // TURNED CAPITAL F: now maps to U+214E
    {0x2183, 0x2183},    // ROMAN NUMERAL REVERSED ONE HUNDRED: now maps to U+2184
    {0x3164, 0x3164},    // HANGUL FILLER: now ignored
    {0xFFA0, 0xFFA0},    // HALFWIDTH HANGUL FILLER: now ignored
    {0x1D173, 0x1D17A},  // musical format characters: now ignored
    {0x2F868, 0x2F868},  // CJK compatibility ideographs whose targets
    {0x2F874, 0x2F874},  // are assigned: now mapped
    {0x2F91F, 0x2F91F},
    {0x2F95F, 0x2F95F},
    {0x2F9BF, 0x2F9BF},
};

inline int icu_unicode_major() {
  UVersionInfo v;
  u_getUnicodeVersion(v);
  return v[0];
}

inline bool changed_after_15(char32_t c) {
  if (icu_unicode_major() >= 16) return false;
  return std::any_of(kChangedAfter15.begin(), kChangedAfter15.end(),
                     [c](const auto& r) { return c >= r.first && c <= r.second; });
}

// Whether ICU's character data has c.
inline bool icu_knows(char32_t c) {
  UVersionInfo age, version;
  u_charAge(static_cast<UChar32>(c), age);
  u_getUnicodeVersion(version);
  if (age[0] == 0 && age[1] == 0) return false;
  return !std::lexicographical_compare(version, version + 4, age, age + 4);
}

// The address core's verdict through ICU, as the core computed it before it
// carried its own tables: ICU's UTS #46 ToASCII without STD3 rules, then the
// deny set, the lengths and no root dot on the ASCII result.
class IcuCheck {
 public:
  IcuCheck() {
    UErrorCode status = U_ZERO_ERROR;
    idna_.reset(icu::IDNA::createUTS46Instance(
        UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE | UIDNA_CHECK_BIDI |
            UIDNA_CHECK_CONTEXTJ,
        status));
    // Without its IDNA instance ICU can be no oracle.
    if (U_FAILURE(status) || !idna_) std::abort();
  }

  // The verdict, and the ASCII form in `ascii`.
  bool check(std::string_view domain, std::string& ascii) const {
    ascii.clear();
    icu::StringByteSink<std::string> sink(&ascii);
    icu::IDNAInfo info;
    UErrorCode status = U_ZERO_ERROR;
    idna_->nameToASCII_UTF8(icu::StringPiece(domain.data(), static_cast<int32_t>(domain.size())),
                            sink, info, status);
    if (U_FAILURE(status) || info.hasErrors()) return false;
    if (ascii.empty() || ascii.size() > 253) return false;
    std::size_t label = 0;
    for (unsigned char b : ascii) {
      if (b == '.') {
        if (label == 0) return false;
        label = 0;
      } else if (idna::kDeniedBytes[b] || ++label > 63) {
        return false;
      }
    }
    return label != 0;
  }

 private:
  std::unique_ptr<icu::IDNA> idna_;
};

// Whether some label of the processed domain has a hyphen as its third and
// fourth character but not as its third and fourth UTF-16 unit, or the
// other way round: there ICU and the standard part ways.
inline bool hyphen_positions_differ_in_utf16(std::string_view domain) {
  std::string processed;
  unicode::idna::to_unicode(domain, unicode::idna::Options{}, processed);
  std::size_t start = 0;
  while (start <= processed.size()) {
    std::size_t end = processed.find('.', start);
    if (end == std::string::npos) end = processed.size();
    std::u32string chars;
    std::u16string units;
    const std::string_view label = std::string_view(processed).substr(start, end - start);
    for (std::size_t i = 0; i < label.size();) {
      const auto b = static_cast<unsigned char>(label[i]);
      const int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
      char32_t c = n == 1 ? b : b & (0xFF >> (n + 1));
      for (int k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(label[i + k]) & 0x3F);
      i += static_cast<std::size_t>(n);
      chars.push_back(c);
      if (c >= 0x10000) {
        units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
      } else {
        units.push_back(static_cast<char16_t>(c));
      }
    }
    const bool by_chars = chars.size() >= 4 && chars[2] == '-' && chars[3] == '-';
    const bool by_units = units.size() >= 4 && units[2] == u'-' && units[3] == u'-';
    if (by_chars != by_units) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace quorvel::testing

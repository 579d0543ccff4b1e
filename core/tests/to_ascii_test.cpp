// The verdict-only ToASCII (stops at the first error, bounded buffers,
// Punycode lengths estimated where that suffices) against the full run that
// computes the ASCII form, on generated domains around the length limits.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "domain/idna_check.h"
#include "test_support.h"
#include "unicode/label_validity.h"
#include "unicode/to_ascii.h"

namespace quorvel {
namespace {

using testing::u8;
namespace uidna = unicode::idna;

const uidna::Options kCore{.denied = &idna::kDeniedBytes};

bool full_verdict(const std::string& domain) {
  std::string ascii;
  const bool passes = uidna::to_ascii(domain, kCore, &ascii) == 0;
  if (passes) {
    EXPECT_LE(ascii.size(), 253u) << domain;
  }
  return passes;
}

// A label of n characters from [lo, hi], or ASCII letters.
std::string label(std::mt19937& rng, int n, char32_t lo, char32_t hi) {
  std::uniform_int_distribution<char32_t> pick(lo, hi);
  std::string s;
  for (int k = 0; k < n; ++k) s += u8(pick(rng));
  return s;
}

TEST(ToAscii, VerdictAgreesWithTheFullRunNearTheLimits) {
  std::mt19937 rng(253);
  struct Script {
    char32_t lo, hi;
  };
  // Letters valid in the 17.0.0 table: ASCII, Cyrillic, CJK, Hangul.
  const std::vector<Script> scripts = {{'a', 'z'}, {0x430, 0x44F}, {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3}};
  std::uniform_int_distribution<std::size_t> script(0, scripts.size() - 1);
  std::uniform_int_distribution<int> labels(1, 8);
  std::uniform_int_distribution<int> size(1, 64);
  int passed = 0;
  int failed = 0;
  for (int n = 0; n < 20000; ++n) {
    std::string domain;
    for (int k = labels(rng); k > 0; --k) {
      if (!domain.empty()) domain += '.';
      const Script s = scripts[script(rng)];
      // Non-ASCII labels short enough to be near 63 bytes once encoded.
      const int chars = s.lo < 0x80 ? size(rng) : 1 + size(rng) / 4;
      domain += label(rng, chars, s.lo, s.hi);
    }
    const bool full = full_verdict(domain);
    ASSERT_EQ(uidna::to_ascii(domain, kCore) == 0, full) << domain;
    ASSERT_EQ(idna::check(domain), full) << domain;
    (full ? passed : failed)++;
  }
  EXPECT_GT(passed, 2000);
  EXPECT_GT(failed, 1000);
}

// Labels whose estimated length passes 63 bytes while the encoding fits, and
// domains that the estimates put past 253 bytes while they fit.
TEST(ToAscii, EstimatesNeverDecide) {
  // Fifteen CJK characters far apart: the bound says more than 63.
  std::string wide;
  for (char32_t c : {0x4E00, 0x9FA5, 0x5000, 0x9000, 0x6000, 0x8000, 0x7000, 0x4E10, 0x9F00,
                     0x5500, 0x8500, 0x6500, 0x7500, 0x4F00, 0x9E00}) {
    wide += u8(c);
  }
  std::string ascii;
  const bool fits = uidna::to_ascii(wide, kCore, &ascii) == 0;
  EXPECT_EQ(uidna::to_ascii(wide, kCore) == 0, fits) << ascii;
  // Four Cyrillic labels and enough ASCII to come close to 253 bytes.
  const std::string cyrillic = u8(0x43F) + u8(0x440) + u8(0x438) + u8(0x43C) + u8(0x435) + u8(0x440);
  for (std::size_t pad = 150; pad <= 230; ++pad) {
    std::string domain = cyrillic + "." + cyrillic + "." + cyrillic + "." + cyrillic;
    for (std::size_t left = pad; left > 0;) {
      const std::size_t n = std::min<std::size_t>(left, 60);
      domain += "." + std::string(n, 'a');
      left -= n;
    }
    ASSERT_EQ(uidna::to_ascii(domain, kCore) == 0, full_verdict(domain)) << pad;
  }
}

// The byte-table shortcut for ASCII labels against the character-by-
// character way, under each set of options, on every byte mix.
TEST(LabelValidity, AsciiShortcutAgreesWithPerCharacter) {
  std::mt19937 rng(128);
  std::uniform_int_distribution<int> byte(0, 127);
  std::uniform_int_distribution<int> letter('a', 'z');
  std::uniform_int_distribution<int> length(1, 12);
  std::uniform_int_distribution<int> kind(0, 3);
  uidna::Options std3 = kCore;
  std3.denied = nullptr;
  std3.use_std3_ascii_rules = true;
  uidna::Options loose = std3;
  loose.use_std3_ascii_rules = false;
  loose.check_hyphens = false;
  const std::vector<const uidna::Options*> all = {&kCore, &std3, &loose};
  const uidna::MappingTable& table = uidna::mapping_17_0_0();
  for (int n = 0; n < 50000; ++n) {
    std::string label;
    for (int k = length(rng); k > 0; --k) {
      switch (kind(rng)) {
        case 0: label += static_cast<char>(byte(rng)); break;
        case 1: label += '-'; break;
        default: label += static_cast<char>(letter(rng)); break;
      }
    }
    if (n % 7 == 0) label = "xn--" + label;
    for (const uidna::Options* o : all) {
      for (bool status : {false, true}) {
        const uidna::LabelContext context{.check_status = status};
        const uidna::LabelVerdict fast = uidna::check_label(label, *o, table, context);
        const uidna::LabelVerdict slow = uidna::check_label_per_character(label, *o, table, context);
        ASSERT_EQ(fast.errors, slow.errors) << '"' << label << '"';
        ASSERT_EQ(fast.has_rtl_character, slow.has_rtl_character) << '"' << label << '"';
        ASSERT_EQ(fast.passes_bidi_rule, slow.passes_bidi_rule) << '"' << label << '"';
        ASSERT_EQ(fast.characters, slow.characters);
        ASSERT_EQ(fast.basic, slow.basic);
        ASSERT_EQ(fast.largest, slow.largest);
      }
    }
  }
}

}  // namespace
}  // namespace quorvel

// ICU's UTS #46 as an oracle for the built-in domain check, where ICU is
// installed: every character ICU's Unicode version has, in a label, and
// generated domains mixing the characters each rule looks at. ICU and the
// built-in check may differ only where listed: ICU counts hyphen positions
// in UTF-16 units where the standard counts characters, and an ICU older
// than Unicode 16.0 carries the mapping table of its own version.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "domain/idna_check.h"
#include "test_support.h"
#include "unicode/to_ascii.h"

#if QUORVEL_HAVE_ICU
#include "idna_icu_oracle.h"
#endif

namespace quorvel {
namespace {

#if QUORVEL_HAVE_ICU

using testing::u8;
using testing::IcuCheck;
using testing::changed_after_15;
using testing::hyphen_positions_differ_in_utf16;
using testing::icu_knows;
using testing::icu_unicode_major;
using testing::kChangedAfter15;
namespace uidna = unicode::idna;

class IdnaIcuOracle : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    known_ = new std::vector<char32_t>;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
      if ((c < 0xD800 || c > 0xDFFF) && icu_knows(c)) known_->push_back(c);
    }
  }
  static void TearDownTestSuite() {
    delete known_;
    known_ = nullptr;
  }
  static std::vector<char32_t>* known_;
  IcuCheck icu_;
};
std::vector<char32_t>* IdnaIcuOracle::known_ = nullptr;

// Each character between two letters: status, mapping and normalisation,
// seen through the verdict and the ASCII form.
TEST_F(IdnaIcuOracle, EveryCharacterInALabel) {
  ASSERT_GT(known_->size(), 100000u);
  const uidna::Options core{.denied = &idna::kDeniedBytes};
  std::set<char32_t> differing;
  std::string theirs;
  std::string ours;
  for (char32_t c : *known_) {
    const std::string domain = "a" + u8(c) + "b.example";
    const bool icu_passes = icu_.check(domain, theirs);
    const bool passes = uidna::to_ascii(domain, core, &ours) == 0;
    ASSERT_EQ(idna::check(domain), passes) << std::hex << static_cast<unsigned>(c);
    if (passes != icu_passes || (passes && ours != theirs)) differing.insert(c);
  }
  std::set<char32_t> changed;
  for (const auto& [first, last] : kChangedAfter15) {
    for (char32_t c = first; c <= last; ++c) changed.insert(c);
  }
  UVersionInfo v;
  u_getUnicodeVersion(v);
  if (v[0] == 15 && v[1] == 0) {
    EXPECT_EQ(differing, changed);
  } else if (v[0] < 16) {
    // 15.1 made some of the changes already.
    EXPECT_TRUE(std::includes(changed.begin(), changed.end(), differing.begin(), differing.end()));
  } else {
    EXPECT_EQ(differing, std::set<char32_t>{});
  }
}

// Generated domains from pieces each rule cares about: capitals and
// deviations, joiners after virama and between joining letters, right-to-
// left letters and both kinds of digits, combining marks, label
// separators, characters outside the BMP next to hyphens, Punycode labels,
// and random characters ICU knows.
TEST_F(IdnaIcuOracle, GeneratedDomains) {
  std::vector<std::string> atoms = {
      "a", "b", "Z", "0", "9", "-", "--", ".", ".", "_", "!", "#", " ", "xn--", "XN--",
      u8(0xDF), u8(0x3C2), u8(0x3A3), u8(0x200C), u8(0x200D), u8(0x94D), u8(0x915), u8(0x93F),
      u8(0x628), u8(0x627), u8(0x644), u8(0x64E), u8(0x660), u8(0x6F1), u8(0x5D0), u8(0x5B4),
      u8(0x300), u8(0x308), u8(0xFF21), u8(0xFF0E), u8(0x3002), u8(0xAD), u8(0x20000),
      u8(0x1F600), u8(0xE9), u8(0xFF03), u8(0x2488), u8(0x2474), u8(0xFB01), u8(0x130),
      // Whole contexts, so that joiners and bidi labels also pass.
      u8(0x915) + u8(0x94D) + u8(0x200D), u8(0x628) + u8(0x200C) + u8(0x644),
      u8(0x628) + u8(0x64E) + u8(0x200C) + u8(0x64E) + u8(0x627), u8(0x5D0) + u8(0x5D1) + ".",
      u8(0x644) + u8(0x660) + u8(0x627) + ".",
      "xn--zca", "xn--ls8h", "xn--mgbh0fb", "xn--4dbrk0ce", "xn--a", "xn--abc-", "xn--bcher-kva",
      std::string(30, 'a'), std::string(60, 'b')};
  std::vector<char32_t> pool;
  for (char32_t c : *known_) {
    if (c >= 0x80 && !changed_after_15(c)) pool.push_back(c);
  }
  std::mt19937 rng(46);
  std::uniform_int_distribution<std::size_t> pick_atom(0, atoms.size() - 1);
  std::uniform_int_distribution<std::size_t> pick_char(0, pool.size() - 1);
  std::uniform_int_distribution<int> length(1, 10);
  std::uniform_int_distribution<int> coin(0, 3);
  int allowed = 0;
  int passed = 0;
  std::string ascii;
  for (int n = 0; n < 100000; ++n) {
    std::string domain;
    for (int k = length(rng); k > 0; --k) {
      domain += coin(rng) == 0 ? u8(pool[pick_char(rng)]) : atoms[pick_atom(rng)];
    }
    const bool ours = idna::check(domain);
    const bool theirs = icu_.check(domain, ascii);
    passed += ours;
    if (ours == theirs) continue;
    ASSERT_TRUE(hyphen_positions_differ_in_utf16(domain))
        << '"' << domain << "\" ours " << ours << " ICU " << theirs;
    ++allowed;
  }
  // Both kinds of outcome occur, and the known difference is met.
  EXPECT_GT(passed, 5000);
  EXPECT_GT(allowed, 0);
}

// The known difference itself, both ways.
TEST_F(IdnaIcuOracle, HyphenPositionsCountCharacters) {
  std::string ascii;
  const std::string hyphens_second_third = u8(0x20000) + "--a.example";
  const std::string hyphens_third_fourth = u8(0x20000) + "a--b.example";
  EXPECT_TRUE(idna::check(hyphens_second_third));
  EXPECT_FALSE(icu_.check(hyphens_second_third, ascii));
  EXPECT_FALSE(idna::check(hyphens_third_fourth));
  EXPECT_TRUE(icu_.check(hyphens_third_fourth, ascii));
}

#else

TEST(IdnaIcuOracle, Skipped) { GTEST_SKIP() << "ICU is not installed: no comparison with ICU"; }

#endif

}  // namespace
}  // namespace quorvel

// ICU as an oracle where it is installed: the built-in normalisation must
// give what ICU gives, on the characters ICU's own Unicode version has.
// Newer characters are left out (ICU would treat them as unassigned).
#include <gtest/gtest.h>

#include <random>

#include "prep/char_tables.h"
#include "unicode/normalize.h"
#include "unicode_data.h"

#if QUORVEL_HAVE_ICU
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#endif

namespace quorvel {
namespace {

using testing::u8;

#if QUORVEL_HAVE_ICU

// Whether ICU's character data has c.
bool icu_knows(char32_t c) {
  UVersionInfo age, version;
  u_charAge(static_cast<UChar32>(c), age);
  u_getUnicodeVersion(version);
  if (age[0] == 0 && age[1] == 0) return false;  // unassigned for ICU
  return std::lexicographical_compare(age, age + 4, version, version + 4) ||
         std::equal(age, age + 4, version);
}

std::string icu_normalize(const icu::Normalizer2& n, const std::string& s) {
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString out = n.normalize(icu::UnicodeString::fromUTF8(s), status);
  EXPECT_TRUE(U_SUCCESS(status));
  std::string utf8;
  out.toUTF8String(utf8);
  return utf8;
}

std::string ours(bool compat, const std::string& s) {
  std::string out;
  const bool changed = compat ? unicode::to_nfkc(s, out) : unicode::to_nfc(s, out);
  return changed ? out : s;
}

class IcuOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    UErrorCode status = U_ZERO_ERROR;
    nfkc_ = icu::Normalizer2::getNFKCInstance(status);
    nfc_ = icu::Normalizer2::getNFCInstance(status);
    ASSERT_TRUE(U_SUCCESS(status));
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
      if ((c < 0xD800 || c > 0xDFFF) && icu_knows(c)) known_.push_back(c);
    }
  }
  const icu::Normalizer2* nfkc_ = nullptr;
  const icu::Normalizer2* nfc_ = nullptr;
  std::vector<char32_t> known_;
};

TEST_F(IcuOracle, EveryCodePointThroughNfkcAndNfc) {
  ASSERT_GT(known_.size(), 100000u);
  for (char32_t c : known_) {
    const std::string s = u8(c);
    ASSERT_EQ(ours(true, s), icu_normalize(*nfkc_, s)) << std::hex << static_cast<unsigned>(c);
    ASSERT_EQ(ours(false, s), icu_normalize(*nfc_, s)) << std::hex << static_cast<unsigned>(c);
  }
}

// Random texts of letters, marks, jamo and compatibility characters, where
// composition and reordering across code points are exercised.
TEST_F(IcuOracle, GeneratedTexts) {
  std::vector<char32_t> pool;
  for (char32_t c : known_) {
    const int8_t cc = static_cast<int8_t>(u_getCombiningClass(static_cast<UChar32>(c)));
    const bool interesting = cc != 0 || c < 0x250 || (c >= 0x1100 && c < 0x1200) ||
                             (c >= 0xAC00 && c < 0xAC40) || (c >= 0xF900 && c < 0xFB50) ||
                             (c >= 0x1E00 && c < 0x2000) || (c >= 0x900 && c < 0xE00);
    if (interesting) pool.push_back(c);
  }
  std::mt19937 rng(11);
  std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
  std::uniform_int_distribution<int> length(1, 12);
  for (int n = 0; n < 100000; ++n) {
    std::string s;
    for (int k = length(rng); k > 0; --k) s += u8(pool[pick(rng)]);
    ASSERT_EQ(ours(true, s), icu_normalize(*nfkc_, s)) << s;
    ASSERT_EQ(ours(false, s), icu_normalize(*nfc_, s)) << s;
    ASSERT_EQ(unicode::is_nfc(s), ours(false, s) == s) << s;
  }
}

int icu_unicode_version() {
  UVersionInfo v;
  u_getUnicodeVersion(v);
  return v[0] * 100 + v[1];
}

// Bidi_Class is not a stable property: Unicode changed it for these
// characters, assigned earlier, in the version given. An ICU older than that
// version must differ on exactly them.
struct BidiChange {
  char32_t c;
  int version;  // major * 100 + minor
};
constexpr BidiChange kBidiChanges[] = {
    {0x1171E, 1600},  // AHOM CONSONANT SIGN MEDIAL RA: NSM to L (now a spacing mark)
    {0x1D6C1, 1600}, {0x1D6FB, 1600}, {0x1D735, 1600}, {0x1D76F, 1600},
    {0x1D7A9, 1600},  // mathematical nablas: L to ON
};
constexpr int kOldestComparedIcu = 1500;  // the list above starts after it

// RandALCat and LCat of the profiles are ICU's R/AL and L, on the characters
// ICU has and on the code points unassigned for both (whose defaults depend
// on the block).
TEST_F(IcuOracle, BidiCategoriesOfEveryCodePoint) {
  const int icu_version = icu_unicode_version();
  if (icu_version < kOldestComparedIcu) {
    GTEST_SKIP() << "ICU's Unicode " << icu_version / 100 << " is older than the known changes";
  }
  const auto age = testing::derived_age();
  int compared = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (!icu_knows(c) && age[c] != 0) continue;
    ++compared;
    const UCharDirection d = u_charDirection(static_cast<UChar32>(c));
    const tables::Flags f = tables::flags(c);
    const bool agree = ((f & tables::kRandAL) != 0) == (d == U_RIGHT_TO_LEFT || d == U_RIGHT_TO_LEFT_ARABIC) &&
                       ((f & tables::kLCat) != 0) == (d == U_LEFT_TO_RIGHT);
    bool changed_since = false;
    for (const BidiChange& ch : kBidiChanges) changed_since |= ch.c == c && ch.version > icu_version;
    EXPECT_EQ(agree, !changed_since) << std::hex << static_cast<unsigned>(c) << " direction " << std::dec << d;
  }
  EXPECT_GT(compared, 1000000);
}

#else

TEST(IcuOracle, Skipped) { GTEST_SKIP() << "ICU is not installed: no comparison with ICU"; }

#endif

}  // namespace
}  // namespace quorvel

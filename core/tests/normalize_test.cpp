// Unicode's conformance file for normalisation, run through the built-in
// NFC and NFKC, and the properties the profiles rely on.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "unicode/normalize.h"
#include "unicode/normalize_whole.h"
#include "unicode_data.h"

namespace quorvel {
namespace {

using testing::from_hex;
using testing::u8;

std::string nfc(std::string_view s) {
  std::string out;
  return unicode::to_nfc(s, out) ? out : std::string(s);
}

std::string nfkc(std::string_view s) {
  std::string out;
  return unicode::to_nfkc(s, out) ? out : std::string(s);
}

// Every function agrees with itself: "unchanged" exactly when the normal
// form is the input, and is_nfc with to_nfc.
void expect_consistent(const std::string& s) {
  std::string out = "untouched";
  const bool changed = unicode::to_nfc(s, out);
  if (changed) {
    EXPECT_NE(out, s);
  } else {
    EXPECT_EQ(out, "untouched");
  }
  EXPECT_EQ(unicode::is_nfc(s), !changed);
  out = "untouched";
  if (unicode::to_nfkc(s, out)) {
    EXPECT_NE(out, s);
  } else {
    EXPECT_EQ(out, "untouched");
  }
}

struct Row {
  int line;
  std::string c[5];
};

std::vector<Row> conformance_rows(std::set<char32_t>* part1) {
  std::vector<Row> rows;
  int line = 0;
  bool in_part1 = false;
  testing::for_each_record(testing::data_path("unicode/ucd-17.0.0/NormalizationTest.txt"),
                           [&](const std::vector<std::string>& f) {
                             ++line;
                             if (f[0].rfind("@Part", 0) == 0) {
                               in_part1 = f[0].rfind("@Part1", 0) == 0;
                               return;
                             }
                             Row r{line, {}};
                             for (int k = 0; k < 5; ++k) r.c[k] = from_hex(f[static_cast<std::size_t>(k)]);
                             if (in_part1 && part1) {
                               part1->insert(static_cast<char32_t>(std::stoul(f[0], nullptr, 16)));
                             }
                             rows.push_back(std::move(r));
                           });
  return rows;
}

TEST(NormalizationConformance, EveryRowOfTheUnicodeFile) {
  const auto rows = conformance_rows(nullptr);
  ASSERT_GT(rows.size(), 19000u) << "NormalizationTest.txt not read";
  for (const Row& r : rows) {
    SCOPED_TRACE("record " + std::to_string(r.line));
    // c2 == NFC(c1) == NFC(c2) == NFC(c3); c4 == NFC(c4) == NFC(c5)
    for (int k : {0, 1, 2}) EXPECT_EQ(nfc(r.c[k]), r.c[1]) << "NFC of c" << k + 1;
    for (int k : {3, 4}) EXPECT_EQ(nfc(r.c[k]), r.c[3]) << "NFC of c" << k + 1;
    // c4 == NFKC(c1) == ... == NFKC(c5)
    for (int k : {0, 1, 2, 3, 4}) EXPECT_EQ(nfkc(r.c[k]), r.c[3]) << "NFKC of c" << k + 1;
    for (const std::string& s : r.c) {
      expect_consistent(s);
      // The segmented, quick-checked path and its slow twin agree.
      EXPECT_EQ(nfkc(s), unicode::normalize_whole(s, true));
      EXPECT_EQ(nfc(s), unicode::normalize_whole(s, false));
    }
    // Segments normalise independently: ASCII around the row takes the
    // other paths of the scan ('.' composes with nothing).
    EXPECT_EQ(nfkc("ab." + r.c[0] + "." + r.c[2]), "ab." + r.c[3] + "." + r.c[3]);
    EXPECT_EQ(nfc(r.c[4] + "." + r.c[0]), r.c[3] + "." + r.c[1]);
    if (::testing::Test::HasFailure()) break;
  }
}

TEST(NormalizationConformance, EveryOtherCodePointIsItsOwnNormalForm) {
  std::set<char32_t> part1;
  conformance_rows(&part1);
  ASSERT_GT(part1.size(), 10000u);
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || part1.count(c)) continue;
    const std::string s = u8(c);
    std::string out;
    ASSERT_FALSE(unicode::to_nfkc(s, out)) << std::hex << static_cast<unsigned>(c);
    ASSERT_FALSE(unicode::to_nfc(s, out)) << std::hex << static_cast<unsigned>(c);
    ASSERT_TRUE(unicode::is_nfc(s)) << std::hex << static_cast<unsigned>(c);
  }
}

struct Case {
  const char* what;
  std::string input;
  std::string nfc;
  std::string nfkc;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }

class NormalizeCases : public ::testing::TestWithParam<Case> {};

TEST_P(NormalizeCases, BothForms) {
  const Case& c = GetParam();
  EXPECT_EQ(nfc(c.input), c.nfc);
  EXPECT_EQ(nfkc(c.input), c.nfkc);
  expect_consistent(c.input);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NormalizeCases,
    ::testing::Values(
        Case{"empty", "", "", ""}, Case{"ascii", "Juliet", "Juliet", "Juliet"},
        Case{"composed", u8(0xE9), u8(0xE9), u8(0xE9)},
        Case{"decomposed", "e" + u8(0x301), u8(0xE9), u8(0xE9)},
        Case{"mark first", u8(0x301) + "e", u8(0x301) + "e", u8(0x301) + "e"},
        Case{"reordered marks", "a" + u8(0x301) + u8(0x323), u8(0x1EA1) + u8(0x301),
             u8(0x1EA1) + u8(0x301)},
        Case{"blocked by equal class", "a" + u8(0x301) + u8(0x301), u8(0xE1) + u8(0x301),
             u8(0xE1) + u8(0x301)},
        Case{"ligature", u8(0xFB01), u8(0xFB01), "fi"},
        Case{"compatibility then composition", u8(0x1E9B) + u8(0x323),
             u8(0x1E9B) + u8(0x323), u8(0x1E69)},
        Case{"hangul LV + T", u8(0xAC00) + u8(0x11A8), u8(0xAC01), u8(0xAC01)},
        Case{"hangul jamo", u8(0x1100) + u8(0x1161) + u8(0x11A8), u8(0xAC01), u8(0xAC01)},
        Case{"hangul compatibility jamo", u8(0x3131) + u8(0x314F), u8(0x3131) + u8(0x314F),
             u8(0xAC00)},
        Case{"excluded composite", u8(0x958), u8(0x915) + u8(0x93C), u8(0x915) + u8(0x93C)},
        Case{"singleton", u8(0x212B), u8(0xC5), u8(0xC5)},
        Case{"long ligature", u8(0xFDFA),  u8(0xFDFA),
             u8(0x635) + u8(0x644) + u8(0x649) + " " + u8(0x627) + u8(0x644) + u8(0x644) + u8(0x647) +
                 " " + u8(0x639) + u8(0x644) + u8(0x64A) + u8(0x647) + " " + u8(0x648) + u8(0x633) +
                 u8(0x644) + u8(0x645)},
        Case{"fullwidth after ascii", "ab" + u8(0xFF21), "ab" + u8(0xFF21), "abA"},
        Case{"invalid byte kept", std::string("e\xFF") + u8(0x301), std::string("e\xFF") + u8(0x301),
             std::string("e\xFF") + u8(0x301)},
        Case{"truncated sequence kept", "a" + u8(0xFF21) + "\xE2\x82",
             "a" + u8(0xFF21) + "\xE2\x82", "aA\xE2\x82"},
        Case{"new in 17.0 unchanged", u8(0x1CCD6), u8(0x1CCD6), "A"}));

// Random texts mixing ASCII, starters that compose, marks of several
// classes, jamo, compatibility and excluded characters: the segmented path
// must give what normalising the whole text at once gives.
TEST(Normalize, SegmentsAgreeWithTheWholeText) {
  const std::vector<char32_t> pool = {
      'a', 'e', 'A', '.', ' ', 0xE9, 0xC5, 0x212B, 0x301, 0x300, 0x323, 0x327, 0x308, 0x345,
      0x344, 0x5B0, 0x5B7, 0x93C, 0x915, 0x958, 0xF73, 0xF71, 0xF72, 0x1100, 0x1161, 0x11A8,
      0xAC00, 0xAC01, 0x3131, 0xFB01, 0xFF21, 0xFF9E, 0xFDFA, 0x1E9B, 0x1E0A, 0x0DD9, 0x0DCF,
      0x0DCA, 0x1D15E, 0x16D67, 0x16D63, 0x2F874, 0x3099, 0x304B, 0x30AB, 0xFF76, 0x20};
  std::mt19937 rng(5);
  std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
  std::uniform_int_distribution<int> length(0, 16);
  for (int n = 0; n < 200000; ++n) {
    std::string s;
    for (int k = length(rng); k > 0; --k) s += u8(pool[pick(rng)]);
    ASSERT_EQ(nfkc(s), unicode::normalize_whole(s, true)) << s;
    ASSERT_EQ(nfc(s), unicode::normalize_whole(s, false)) << s;
    ASSERT_EQ(unicode::is_nfc(s), nfc(s) == s) << s;
  }
}

TEST(Normalize, NothingToDoLeavesTheOutputAlone) {
  std::string out = "kept";
  for (const std::string& s : {std::string("plain"), u8(0xE9) + u8(0x4E2D), u8(0x915) + u8(0x93F),
                               "x" + u8(0x301)}) {
    EXPECT_FALSE(unicode::to_nfkc(s, out)) << s;
    EXPECT_FALSE(unicode::to_nfc(s, out)) << s;
  }
  EXPECT_EQ(out, "kept");
}

// A long run of combining marks is one segment; it must come out in
// canonical order with the first acute composed, in linear time (the test
// only checks the outcome: a quadratic sort would not finish).
TEST(Normalize, FourMegabytesOfCombiningMarks) {
  constexpr std::size_t kPairs = 1 << 20;  // 4 MB of U+0301 U+0316
  std::string s = "a";
  s.reserve(4 * kPairs + 1);
  for (std::size_t k = 0; k < kPairs; ++k) s += u8(0x301) + u8(0x316);
  std::string out;
  ASSERT_TRUE(unicode::to_nfkc(s, out));
  std::string expected = u8(0xE1);
  expected.reserve(s.size());
  for (std::size_t k = 0; k < kPairs; ++k) expected += u8(0x316);
  for (std::size_t k = 1; k < kPairs; ++k) expected += u8(0x301);
  EXPECT_TRUE(out == expected);
  EXPECT_FALSE(unicode::is_nfc(s));
  EXPECT_TRUE(unicode::is_nfc(expected));
}

}  // namespace
}  // namespace quorvel

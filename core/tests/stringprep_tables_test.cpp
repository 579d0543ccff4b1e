// The generated stringprep tables against the committed RFC 3454 files
// (read here by a reader of their own), their fast paths against the slow
// ones, and the Unicode 16.0 rule of the profiles.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "prep/char_tables.h"
#include "unicode/normalize.h"
#include "unicode_data.h"

namespace quorvel {
namespace {

using testing::u8;

// "0221" / "0234-024F" lines, or "0041; 0061; Case map" lines.
std::map<char32_t, std::string> read_rfc_table(const std::string& name) {
  std::map<char32_t, std::string> out;
  const bool ok = testing::for_each_record(
      testing::data_path("rfc3454/" + name + ".txt"), [&](const std::vector<std::string>& f) {
        const auto dash = f[0].find('-');
        const auto first = static_cast<char32_t>(std::stoul(f[0].substr(0, dash), nullptr, 16));
        const auto last = dash == std::string::npos
                              ? first
                              : static_cast<char32_t>(std::stoul(f[0].substr(dash + 1), nullptr, 16));
        for (char32_t c = first; c <= last; ++c) {
          out[c] = f.size() > 1 ? testing::from_hex(f[1]) : std::string();
        }
      });
  EXPECT_TRUE(ok) << name;
  return out;
}

TEST(StringprepTables, FlagsAreTheRfcTables) {
  const auto a1 = read_rfc_table("A.1");
  const auto b1 = read_rfc_table("B.1");
  const auto b2 = read_rfc_table("B.2");
  const auto c11 = read_rfc_table("C.1.1");
  const auto c21 = read_rfc_table("C.2.1");
  std::set<char32_t> prohibited;
  for (const char* t : {"C.1.2", "C.2.2", "C.3", "C.4", "C.5", "C.6", "C.7", "C.8", "C.9"}) {
    for (const auto& [c, _] : read_rfc_table(t)) prohibited.insert(c);
  }
  ASSERT_EQ(b2.size(), 1371u);
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const tables::Flags f = tables::flags(c);
    SCOPED_TRACE(::testing::Message() << std::hex << static_cast<unsigned>(c));
    ASSERT_EQ((f & tables::kUnassigned) != 0, a1.count(c) != 0);
    ASSERT_EQ((f & tables::kMapToNothing) != 0, b1.count(c) != 0);
    ASSERT_EQ((f & tables::kCaseFold) != 0, b2.count(c) != 0);
    ASSERT_EQ((f & tables::kAsciiSpace) != 0, c11.count(c) != 0);
    ASSERT_EQ((f & tables::kAsciiControl) != 0, c21.count(c) != 0);
    ASSERT_EQ((f & tables::kProhibited) != 0, prohibited.count(c) != 0);
    const auto fold = b2.find(c);
    ASSERT_EQ(tables::case_fold(c), fold == b2.end() ? std::string() : fold->second);
  }
}

// The ASCII answers that skip the two-stage table are what the table says.
TEST(StringprepTables, AsciiShortcutsAgreeWithTheTable) {
  for (char32_t c = 0; c < 0x80; ++c) {
    EXPECT_EQ(tables::flags(c), tables::generated::flags_lookup(c)) << static_cast<unsigned>(c);
    const std::uint16_t v = tables::generated::case_fold_lookup(c);
    const std::string_view slow(tables::generated::case_fold_utf8 + (v >> 4), v & 0xF);
    EXPECT_EQ(tables::case_fold(c), slow) << static_cast<unsigned>(c);
  }
  for (char c : {'"', '&', '\'', '/', ':', '<', '>', '@'}) {
    EXPECT_TRUE(tables::flags(static_cast<char32_t>(c)) & tables::kNodeExtra) << c;
  }
}

// The profiles skip NFKC for texts of NFKC-inert code points and inert
// B.2 mappings; the normaliser must agree that such texts are normalised.
TEST(StringprepTables, NfkcInertCodePointsNeedNoNormalisation) {
  std::vector<std::string> inert;
  std::string out;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    if (!(tables::flags(c) & tables::kNfkcInert)) continue;
    inert.push_back(u8(c));
    ASSERT_FALSE(unicode::to_nfkc(inert.back(), out)) << std::hex << static_cast<unsigned>(c);
  }
  int folds = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (!(tables::flags(c) & tables::kFoldInert)) continue;
    ++folds;
    ASSERT_TRUE(tables::flags(c) & tables::kCaseFold);
    const std::string folded(tables::case_fold(c));
    inert.push_back(folded);
    ASSERT_FALSE(unicode::to_nfkc(folded, out)) << std::hex << static_cast<unsigned>(c);
  }
  EXPECT_GT(folds, 1000);
  ASSERT_GT(inert.size(), 200000u);
  std::mt19937 rng(3);
  std::uniform_int_distribution<std::size_t> pick(0, inert.size() - 1);
  for (int n = 0; n < 50000; ++n) {
    std::string s;
    for (int k = 0; k < 6; ++k) s += inert[pick(rng)];
    ASSERT_FALSE(unicode::to_nfkc(s, out)) << s;
  }
}

// A character first assigned in Unicode 17.0 does not exist for the
// profiles (Unicode 16.0): every profile refuses it, alone or in a text,
// whatever its 17.0 normal form.
TEST(ProfilesUnicode16, EveryCharacterNewIn17FailsEveryProfile) {
  const auto age = testing::derived_age();
  int checked = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (age[c] != 1700) continue;
    ++checked;
    const std::string s = u8(c);
    SCOPED_TRACE(::testing::Message() << std::hex << static_cast<unsigned>(c));
    ASSERT_TRUE(tables::flags(c) & tables::kAssignedAfter16);
    for (const std::string& text : {s, "a" + s, s + u8(0x5D0)}) {
      ASSERT_FALSE(nodeprep(text));
      ASSERT_FALSE(nameprep(text));
      ASSERT_FALSE(resourceprep(text));
    }
    ASSERT_EQ(resourceprep(s).error(), ProfileFailure::Unassigned);
  }
  EXPECT_GT(checked, 4000);
}

// Canonically equivalent texts of Unicode 16.0 characters prepare alike: the
// rows of NormalizationTest.txt through resourceprep (no case folding, so
// equivalence is all that decides).
TEST(ProfilesUnicode16, ConformanceRowsOfOlderCharactersPrepareAlike) {
  const auto age = testing::derived_age();
  int rows = 0;
  testing::for_each_record(
      testing::data_path("unicode/ucd-17.0.0/NormalizationTest.txt"),
      [&](const std::vector<std::string>& f) {
        if (f[0].rfind("@Part", 0) == 0) return;
        std::istringstream all(f[0] + " " + f[1] + " " + f[2] + " " + f[3] + " " + f[4]);
        for (std::string w; all >> w;) {
          const auto c = std::stoul(w, nullptr, 16);
          if (age[c] == 0 || age[c] > 1600) return;
        }
        ++rows;
        std::string c[5];
        for (int k = 0; k < 5; ++k) c[k] = testing::from_hex(f[static_cast<std::size_t>(k)]);
        const std::string expected = testing::describe(resourceprep(c[3]));
        for (int k = 0; k < 5; ++k) {
          ASSERT_EQ(testing::describe(resourceprep(c[k])), expected) << "row " << f[0] << " c" << k + 1;
        }
        // Whatever is accepted comes out as NFKC.
        const auto r = resourceprep(c[0]);
        if (r) {
          std::string out;
          ASSERT_FALSE(unicode::to_nfkc(r->str(), out)) << f[0];
        }
      });
  EXPECT_GT(rows, 18000);
}

}  // namespace
}  // namespace quorvel

// Properties checked over generated addresses: whatever the input, a parse
// either fails with a kind or yields a value whose positions slice its text
// into parts that are themselves prepared, and that parses back to itself.
#include <gtest/gtest.h>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <random>

#include "test_support.h"

namespace quorvel {
namespace {

using testing::repeat;
using testing::u8;

// Characters that exercise every step: separators, case pairs, B.1, B.2
// multi-character folds, fullwidth and ideographic dots, RandAL and L
// letters, joiners, combining marks, prohibited and unassigned code points.
std::vector<std::string> atoms() {
  std::vector<std::string> a = {"a", "B", "z", "0", "-", ".", "@", "/", "\\", " ", "_", "!",
                                "xn--", "\x01", "\x7f", std::string(1, '\0'), "#"};
  for (char32_t c : {0xADu, 0xDFu, 0xC9u, 0x130u, 0x3A3u, 0x3C2u, 0x301u, 0x5D0u, 0x627u,
                     0x660u, 0x200Cu, 0x200Du, 0x2121u, 0x3002u, 0xFF0Eu, 0xFF61u, 0xFF21u,
                     0xFB01u, 0x4E2Du, 0x1E9Eu, 0x1F600u, 0x20000u, 0x2F874u, 0x3000u, 0xE000u,
                     0xFE0Fu, 0x1CCD6u, 0x1100u, 0x1161u, 0x11A8u}) {
    a.push_back(u8(c));
  }
  return a;
}

bool contains_capital_from_newer_unicode(std::string_view text) {
  // Preparation maps characters encoded after Unicode 3.2 through NFKC
  // without case folding, so they can leave capitals behind that a second
  // preparation folds. Such values are the documented unstable ones. The
  // capital need not be ASCII: U+1CCD6 and U+0301 compose to U+00C1. (Table
  // B.2 folds every capital of Unicode 3.2 and the NFKC forms of its
  // characters, so only newer ones leave any.)
  for (std::size_t i = 0; i < text.size();) {
    UChar32 c;
    U8_NEXT(reinterpret_cast<const std::uint8_t*>(text.data()), i, text.size(), c);
    if (c >= 0 && u_foldCase(c, U_FOLD_CASE_DEFAULT) != c) return true;
  }
  return false;
}

TEST(Invariants, GeneratedAddresses) {
  std::mt19937 rng(7);
  const auto pool = atoms();
  std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
  std::uniform_int_distribution<int> length(0, 10);
  int parsed = 0;
  for (int n = 0; n < 40000; ++n) {
    std::string text;
    const int k = length(rng);
    for (int i = 0; i < k; ++i) text += pool[pick(rng)];
    const Result<JidValue> r = parse_address(text);
    if (!r) continue;
    ++parsed;
    const JidValue& v = *r;
    const std::string_view t = v.text();

    // Positions slice the text.
    std::string rebuilt;
    if (auto node = node_part(v)) rebuilt += std::string(*node) + "@";
    rebuilt += domain_part(v);
    if (auto res = resource_part(v)) rebuilt += "/" + std::string(*res);
    ASSERT_EQ(rebuilt, t);
    ASSERT_FALSE(domain_part(v).empty());
    if (auto node = node_part(v)) {
      ASSERT_LE(node->size(), kMaxPartBytes);
    }

    // bare_copy and strip_resource agree.
    JidValue stripped = v;
    strip_resource(stripped);
    ASSERT_EQ(stripped, bare_copy(v));

    // Reparsing the stored text gives the value back; preparation is
    // idempotent on its own output.
    const std::string_view resource = resource_part(v).value_or("");
    const bool unstable =
        contains_capital_from_newer_unicode(node_part(v).value_or("")) ||
        contains_capital_from_newer_unicode(domain_part(v));
    if (unstable) continue;
    const Result<JidValue> again = parse_address(t);
    ASSERT_TRUE(again) << t;
    ASSERT_EQ(*again, v) << t;
    ASSERT_EQ(again->localpart_end(), v.localpart_end());
    ASSERT_EQ(again->slash_position(), v.slash_position());
    if (auto node = node_part(v)) {
      const Result<PreparedText> p = prepare_node(*node);
      ASSERT_TRUE(p && p->unchanged()) << *node;
    }
    const Result<PreparedText> d = prepare_domain(domain_part(v));
    ASSERT_TRUE(d && d->unchanged()) << domain_part(v);
    if (!resource.empty()) {
      const Result<PreparedText> p = prepare_resource(resource);
      ASSERT_TRUE(p && p->unchanged()) << resource;
    }
  }
  EXPECT_GT(parsed, 2000);
}

TEST(Invariants, ParseBareAgreesWithParse) {
  for (const char* text : {"a@b", "a@b/c", "b", "b/c", "@b", "a@b@c", ""}) {
    const Result<JidValue> full = parse_address(text);
    const Result<JidValue> bare = parse_bare_address(text);
    if (!full) {
      ASSERT_FALSE(bare);
      EXPECT_EQ(bare.error(), full.error());
    } else if (full->is_bare()) {
      ASSERT_TRUE(bare);
      EXPECT_EQ(*bare, *full);
    } else {
      ASSERT_FALSE(bare);
      EXPECT_EQ(bare.error(), JidError::ResourceInBareJid);
    }
  }
}

// Inputs of megabytes end with the right outcome. Nothing is timed (the
// machines are noisy): a quadratic path over 4 MB takes hours, which shows
// as a test that never finishes; the benchmarks report the per-byte cost.
struct LargeRow {
  const char* what;
  std::string (*make)(std::size_t bytes);
  const char* expected;  // kind name or "ok"
};

class LargeInputTest : public ::testing::TestWithParam<LargeRow> {};

TEST_P(LargeInputTest, FinishesWithTheRightOutcome) {
  const LargeRow& row = GetParam();
  const Result<JidValue> r = parse_address(row.make(4 << 20));
  EXPECT_EQ(r ? std::string("ok") : std::string(name(r.error())), row.expected) << row.what;
}

std::string fill(std::string_view unit, std::size_t bytes) {
  return repeat(unit, bytes / unit.size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, LargeInputTest,
    ::testing::Values(
        LargeRow{"plain resource", [](std::size_t n) { return "a@b/" + fill("r", n); },
                 "ResourceTooLong"},
        LargeRow{"plain domain", [](std::size_t n) { return fill("d", n); }, "Idna"},
        LargeRow{"separators", [](std::size_t n) { return "b/" + fill("@/", n); },
                 "ResourceTooLong"},
        LargeRow{"all ats", [](std::size_t n) { return fill("@", n); }, "TooManyAts"},
        LargeRow{"mapped to nothing, localpart",
                 [](std::size_t n) { return fill(u8(0xAD), n) + "@b"; }, "NodeEmpty"},
        LargeRow{"mapped to nothing, domain",
                 [](std::size_t n) { return "a@" + fill(u8(0x200B), n) + "b"; }, "ok"},
        LargeRow{"mapped to nothing, resource",
                 [](std::size_t n) { return "a@b/r" + fill(u8(0xFEFF), n); }, "ok"},
        LargeRow{"combining marks, localpart",
                 [](std::size_t n) { return "a" + fill(u8(0x301) + u8(0x316), n) + "@b"; },
                 "NodeTooLong"},
        LargeRow{"combining marks, domain",
                 [](std::size_t n) { return "a" + fill(u8(0x301) + u8(0x316), n); }, "Idna"},
        LargeRow{"combining marks, resource",
                 [](std::size_t n) { return "b/a" + fill(u8(0x301) + u8(0x316), n); },
                 "ResourceTooLong"},
        LargeRow{"expanding ligatures",
                 [](std::size_t n) { return "b/" + fill(u8(0xFDFA), n); }, "ResourceTooLong"},
        LargeRow{"hangul jamo", [](std::size_t n) {
                   return fill(u8(0x1100) + u8(0x1161) + u8(0x11A8), n) + "@b";
                 }, "NodeTooLong"}),
    [](const auto& info) {
      std::string s = info.param.what;
      for (char& c : s) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return s;
    });

// The long-domain guard assumes that canonical composition joins at most four
// code points into one.
TEST(Invariants, CanonicalDecompositionsHaveAtMostFourCodePoints) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  ASSERT_TRUE(U_SUCCESS(status));
  icu::UnicodeString d;
  int longest = 0;
  for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
    if (nfd->getDecomposition(c, d)) longest = std::max(longest, d.countChar32());
  }
  EXPECT_LE(longest, 4);
}

}  // namespace
}  // namespace quorvel

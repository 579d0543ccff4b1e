// Properties checked over generated addresses: whatever the input, a parse
// either fails with a kind or yields a value whose positions slice its text
// into parts that are themselves prepared, and that parses back to itself
// unless case folding may change a part again (refold.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "prep/char_tables.h"
#include "prep/refold.h"
#include "test_support.h"
#include "unicode/normalize.h"
#include "unicode/utf8_codec.h"
#include "unicode_data.h"

namespace quorvel {
namespace {

using testing::repeat;
using testing::u8;

// Characters that exercise every step: separators, case pairs, B.1, B.2
// multi-character folds, fullwidth and ideographic dots, RandAL and L
// letters, joiners, combining marks, prohibited and unassigned code points,
// and characters newer than the case-folding table that normalise to
// capitals (U+2C7D, U+1D2C, U+1D35 in every Unicode version ICU has had
// since 5.1; U+1CCD6 from 16.0), which marks can compose with (U+00C1 from
// U+1D2C U+0301, U+0130 from U+1D35 U+0307).
std::vector<std::string> atoms() {
  std::vector<std::string> a = {"a", "B", "z", "0", "-", ".", "@", "/", "\\", " ", "_", "!",
                                "xn--", "\x01", "\x7f", std::string(1, '\0'), "#"};
  for (char32_t c : {0xADu, 0xDFu, 0xC9u, 0x130u, 0x3A3u, 0x3C2u, 0x301u, 0x5D0u, 0x627u,
                     0x660u, 0x200Cu, 0x200Du, 0x2121u, 0x3002u, 0xFF0Eu, 0xFF61u, 0xFF21u,
                     0xFB01u, 0x4E2Du, 0x1E9Eu, 0x1F600u, 0x20000u, 0x2F874u, 0x3000u, 0xE000u,
                     0xFE0Fu, 0x1CCD6u, 0x1100u, 0x1161u, 0x11A8u, 0x2C7Du, 0x1D2Cu, 0x1D35u,
                     0x307u}) {
    a.push_back(u8(c));
  }
  return a;
}

TEST(Invariants, GeneratedAddresses) {
  std::mt19937 rng(7);
  const auto pool = atoms();
  std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
  std::uniform_int_distribution<int> length(0, 10);
  int parsed = 0;
  int refolded = 0;
  for (int n = 0; n < 40000; ++n) {
    std::string text;
    const int k = length(rng);
    for (int i = 0; i < k; ++i) text += pool[pick(rng)];
    const Result<JidValue> r = parse_address(text);
    if (!r) continue;
    ++parsed;
    const JidValue& v = *r;
    const std::string_view t = v.text();
    ASSERT_TRUE(v.valid()) << t;

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

    // Each part prepares to itself and the text parses back to the value,
    // except where a localpart or domain holds a character that case
    // folding maps: only those parts may change, or fail (a longer fold).
    const std::optional<std::string_view> node = node_part(v);
    const std::string_view domain = domain_part(v);
    const std::string_view resource = resource_part(v).value_or("");
    const bool node_may_fold = node && may_fold_again(*node);
    const bool domain_may_fold = may_fold_again(domain);
    if (node && !node_may_fold) {
      const Result<PreparedText> p = prepare_node(*node);
      ASSERT_TRUE(p && p->unchanged()) << *node;
    }
    if (!domain_may_fold) {
      const Result<PreparedText> d = prepare_domain(domain);
      ASSERT_TRUE(d && d->unchanged()) << domain;
    }
    if (!resource.empty()) {
      const Result<PreparedText> p = prepare_resource(resource);
      ASSERT_TRUE(p && p->unchanged()) << resource;
    }
    const Result<JidValue> again = parse_address(t);
    if (!node_may_fold && !domain_may_fold) {
      ASSERT_TRUE(again) << t;
      ASSERT_EQ(*again, v) << t;
      ASSERT_EQ(again->localpart_end(), v.localpart_end());
      ASSERT_EQ(again->slash_position(), v.slash_position());
    } else {
      // Never refused: the text of every accepted value is accepted again.
      ASSERT_TRUE(again) << t;
      ASSERT_TRUE(node_may_fold || node_part(*again) == node) << t;
      ASSERT_TRUE(domain_may_fold || domain_part(*again) == domain) << t;
      ASSERT_EQ(resource_part(*again), resource_part(v)) << t;
      if (*again != v) ++refolded;
    }
  }
  // The generated texts do reach the values that parse back differently.
  EXPECT_GT(refolded, 0);
  EXPECT_GT(parsed, 2000);
}

// A localpart's preparation is accepted again whenever it was accepted,
// however the second preparation changes it: each character alone, after
// itself, and before U+0307 or U+0301 (which compose with the capitals
// normalisation makes), and in runs long enough for the second fold to
// reach the length limit.
TEST(Invariants, AcceptedLocalpartsPrepareAgain) {
  int unstable = 0;
  for (char32_t c = 1; c < 0x30000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const std::string one = u8(c);
    for (const std::string& text : {one, one + one, one + u8(0x307), one + u8(0x301)}) {
      // Resourceprep folds nothing: its result is always its own.
      if (const Result<PreparedText> resource = prepare_resource(text)) {
        const std::string resource_text = resource->str();
        const Result<PreparedText> again = prepare_resource(resource_text);
        ASSERT_TRUE(again && again->str() == resource_text) << text;
      }
      const Result<PreparedText> first = prepare_node(text);
      if (!first) continue;
      // Each result may be a view of its input: keep every input alive.
      const std::string first_text = first->str();
      const Result<PreparedText> second = prepare_node(first_text);
      ASSERT_TRUE(second) << text;
      const std::string second_text = second->str();
      if (second_text != first_text) {
        ++unstable;
        const Result<PreparedText> third = prepare_node(second_text);
        ASSERT_TRUE(third && third->str() == second_text) << text;
      }
    }
  }
  EXPECT_GE(unstable, 8);

  // U+1D35 U+0307 prepares to U+0130 (two bytes), which folds to "i" U+0307
  // (three): 341 fit both times, 342 only the first time.
  const std::string capital = u8(0x1D35) + u8(0x307);
  EXPECT_TRUE(prepare_node(repeat(capital, 341)));
  EXPECT_EQ(prepare_node(repeat(capital, 342)).error(), JidError::NodeTooLong);
  EXPECT_EQ(parse_address(repeat(capital, 511) + "@b").error(), JidError::NodeTooLong);
  // A run that reaches the limit only in the folded form is unaffected when
  // the fold does not lengthen it.
  EXPECT_TRUE(parse_address(std::string(1022, 'a') + u8(0x2C7D) + "@b"));
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

// A part without a character that case folding maps is its own preparation
// only if no normal form holds a character that mapping deletes (B.1).
TEST(Invariants, NoNormalFormHoldsACharacterMappedToNothing) {
  std::string normal;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    normal.clear();
    if (!unicode::to_nfkc(u8(c), normal)) continue;
    for (std::size_t i = 0; i < normal.size();) {
      const char32_t d = utf8::decode(normal, i);
      ASSERT_EQ(tables::flags(d) & tables::kMapToNothing, 0) << std::hex << static_cast<unsigned>(c);
    }
  }
}

// The rule the checks above rely on, on cases known in every Unicode
// version: a part holding a character with a B.2 entry may change when
// prepared again, and a part without one never does.
TEST(Invariants, MayFoldAgainNamesTheCharactersCaseFoldingMaps) {
  for (const std::string& s : {std::string("V"), std::string("aZ"), u8(0xC1), u8(0x130),
                               "x" + u8(0xDF), u8(0x2121), u8(0x390)}) {
    EXPECT_TRUE(may_fold_again(s)) << s;
  }
  for (const std::string& s : {std::string("v"), std::string("a-b.c"), u8(0xE1), u8(0x2C7D),
                               u8(0x1D2C), u8(0x1E9E), u8(0x4E2D), std::string("\xC3")}) {
    EXPECT_FALSE(may_fold_again(s)) << s;
  }
  // Normalisation makes such characters from ones the table does not know.
  for (const std::string& in : {u8(0x2C7D), u8(0x1D2C) + u8(0x301), u8(0x1D35) + u8(0x307)}) {
    const ProfileResult once = nodeprep(in);
    ASSERT_TRUE(once);
    // A result may be a view of its input: keep the text it reads alive.
    const std::string stored = once->str();
    EXPECT_TRUE(may_fold_again(stored));
    const ProfileResult twice = nodeprep(stored);
    ASSERT_TRUE(twice);
    EXPECT_NE(twice->str(), stored);
    EXPECT_FALSE(may_fold_again(twice->str()));
  }
}

// The IDNA check's early stop assumes that canonical composition joins at
// most four code points into one: the longest full canonical decomposition
// in the pinned data (Hangul syllables decompose into at most three jamo).
TEST(Invariants, CanonicalDecompositionsHaveAtMostFourCodePoints) {
  std::map<char32_t, std::vector<char32_t>> canonical;
  ASSERT_TRUE(testing::for_each_record(testing::data_path("unicode/ucd-17.0.0/UnicodeData.txt"),
                                       [&](const std::vector<std::string>& f) {
    if (f.size() < 6 || f[5].empty() || f[5][0] == '<') return;
    std::istringstream in(f[5]);
    std::vector<char32_t>& d = canonical[static_cast<char32_t>(std::stoul(f[0], nullptr, 16))];
    for (std::string word; in >> word;) d.push_back(static_cast<char32_t>(std::stoul(word, nullptr, 16)));
  }));
  ASSERT_GT(canonical.size(), 2000u);
  std::function<std::size_t(char32_t)> full_length = [&](char32_t c) -> std::size_t {
    const auto it = canonical.find(c);
    if (it == canonical.end()) return 1;
    std::size_t n = 0;
    for (char32_t d : it->second) n += full_length(d);
    return n;
  };
  std::size_t longest = 0;
  for (const auto& entry : canonical) longest = std::max(longest, full_length(entry.first));
  EXPECT_EQ(longest, 4u);
}

}  // namespace
}  // namespace quorvel

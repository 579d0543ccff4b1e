// The fast paths against the general path they stand in for: every input
// must give the same value (text and positions) or the same error kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "address/fast/ascii_address.h"
#include "address/fast/ascii_short.h"
#include "quorvel/precis.h"
#include "test_support.h"

namespace quorvel {
namespace {

using testing::describe;

#if defined(QUORVEL_HAVE_X86_SIMD)
// The AVX2 classifier compiled for AVX2, as the tests must call it.
__attribute__((target("avx2,bmi,bmi2"))) ascii::ShortMasks classify_avx2_for_tests(
    const char* text, std::size_t n) {
  return ascii::classify_avx2(text, n);
}
#endif
using testing::repeat;

std::string positions(const Result<JidValue>& r) {
  if (!r) return "-";
  return std::to_string(r->localpart_end()) + "," + std::to_string(r->slash_position());
}

// The variants of the short-text path this processor can run.
std::vector<ascii::Isa> runnable_variants() {
  std::vector<ascii::Isa> out = {ascii::Isa::Bytes};
#if defined(QUORVEL_HAVE_X86_SIMD)
  out.push_back(ascii::Isa::Sse2);
  if (ascii::has_avx2()) out.push_back(ascii::Isa::Avx2);
#endif
  return out;
}

const char* variant_name(ascii::Isa isa) {
  switch (isa) {
    case ascii::Isa::Bytes:
      return "bytes";
    case ascii::Isa::Sse2:
      return "sse2";
    case ascii::Isa::Avx2:
      return "avx2";
  }
  return "?";
}

// Under both standards: the stringprep parser's fast paths and the ones
// made for RFC 7622's domains, each against the general path of its own.
using Parser = Result<JidValue> (*)(std::string_view);
using VariantParser = Result<JidValue> (*)(std::string_view, ascii::Isa);
struct Route {
  const char* name;
  Parser general, best;
  VariantParser with;
};
constexpr Route kRoutes[] = {
    {"rfc6122", parse_address_general, parse_address, parse_address_with},
    {"rfc7622", precis::parse_address_general, precis::parse_address, precis::parse_address_with},
};

void expect_same(const std::string& input) {
  static const std::vector<ascii::Isa> variants = runnable_variants();
  for (const Route& route : kRoutes) {
    const Result<JidValue> general = route.general(input);
    const Result<JidValue> fast = route.best(input);
    ASSERT_EQ(describe(fast), describe(general)) << route.name << ", input: " << input;
    ASSERT_EQ(positions(fast), positions(general)) << route.name << ", input: " << input;
    for (ascii::Isa isa : variants) {
      const Result<JidValue> r = route.with(input, isa);
      ASSERT_EQ(describe(r), describe(general))
          << route.name << ", " << variant_name(isa) << ", input: " << input;
      ASSERT_EQ(positions(r), positions(general))
          << route.name << ", " << variant_name(isa) << ", input: " << input;
    }
  }
}

class FastPathEdges : public ::testing::TestWithParam<std::string> {};

TEST_P(FastPathEdges, AgreesWithGeneralPath) { expect_same(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Table, FastPathEdges,
    ::testing::Values(
        // Plain, folded, and each part missing or empty.
        "user@example.com/res", "User@Example.COM/Res", "example.com", "EXAMPLE.com",
        "a@b", "b/c", "@b", "a@", "a@b/", "/", "", "@", "a@/c", "b/c/d", "a@b/c@d",
        // Separators in odd places.
        "a@b@c", "a@b@c/d", "a/b@c", "@@", "a@b/@", "a@@b",
        // Domains the general path has to see: IP literals, trailing and
        // doubled dots, hyphens, Punycode, denied bytes.
        "a@192.168.0.1", "a@192.168.0.1/r", "a@256.1.1.1", "a@01.2.3.4", "a@[::1]/r", "a@[::1",
        "a@example.com./r", "a@example..com", "a@.example.com", "a@-a.com", "a@a-.com",
        "a@ab--c.com", "a@xn--mnchen-3ya.de", "a@XN--MNCHEN-3YA.de", "a@xn--a.com",
        "a@exa mple.com", "a@exa_mple.com", "a@exa%mple", "a@exa:mple", "a@ex\\ample",
        std::string("a@ex\x7f" "ample"), std::string("a@ex\x01" "ample"),
        // Localparts nodeprep refuses or folds.
        "a b@c", "a\"b@c", "a&b@c", "a'b@c", "a:b@c", "a<b@c", "a>b@c", std::string("a\x7f@c"),
        std::string("a\tb@c"), "AbC@c", "a~!#$%^*()_+=@c",
        // Resources: spaces kept, controls refused, case kept.
        "a@b/ spaced out ", "a@b/Tab\there", std::string("a@b/del\x7f"), "a@b/CaSe",
        "a@b/0123456789abcdef0123456789abcdef-longer-than-sixteen",
        std::string("a@b/0123456789abcdef\x1f"), std::string("a@b/0123456789abcdef0123\x7f"),
        // Length limits of each part.
        repeat("n", 1023) + "@b", repeat("n", 1024) + "@b", "a@b/" + repeat("r", 1023),
        "a@b/" + repeat("r", 1024), repeat("d", 63) + ".com", repeat("d", 64) + ".com",
        repeat("abcdefghi.", 25) + "com", repeat("abcdefghi.", 26) + "com",
        // Non-ASCII anywhere sends the text down the general path.
        "j\xc3\xbcrgen@example.com", "a@m\xc3\xbcnchen.de", "a@b/r\xc3\xa9sum\xc3\xa9",
        "a@example.com/0123456789abcdef\xc3\xa9", "A@B/\xc2\xad"));

// Every byte in every part, so no class of the one-pass table can drift
// from the rules of the profiles and the domain check.
TEST(FastPath, AgreesOnEveryByteInEveryPart) {
  for (int b = 0; b < 256; ++b) {
    const std::string c(1, static_cast<char>(b));
    for (const std::string& s : {"a" + c + "b@example.com/r", "a@ex" + c + "ample.com/r",
                                 "a@example.com/r" + c + "s", c + "@b", "a@" + c, "a@b/" + c,
                                 "a@b." + c + "c", "a@b" + c + ".c"}) {
      expect_same(s);
      if (HasFatalFailure()) return;
    }
  }
}

// Two separators at every pair of places of a text of every length the
// short path takes, among two-byte letters and ASCII: a text with a byte
// from 0x80 up leaves that path with the separators its registers found,
// which must split it as the general path's scan does (including the places
// past the 16- and 32-byte blocks, and bytes of a letter a separator cuts).
TEST(FastPath, AgreesOnSeparatorsAmongNonAsciiBytes) {
  const std::string unit = "\xd9\x85" "a";
  for (std::size_t n = 2; n <= ascii::kShortLayoutMax; ++n) {
    std::string base;
    while (base.size() < n) base += unit;
    base.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = i + 1; j <= n; ++j) {
        for (const char* pair : {"@/", "@@", "/@", "//"}) {
          std::string text = base;
          text[i] = pair[0];
          if (j < n) text[j] = pair[1];
          // A text the separators left all ASCII is the other path's.
          if (text.find('\xd9') == std::string::npos) text[n - 1] = '\xd9';
          expect_same(text);
          if (HasFatalFailure()) return;
        }
      }
    }
  }
}

// Random address-shaped texts of every length around the limits of the
// short path (16, 32, 63 bytes): labels of random lengths with hyphens and
// dots in every place, capitals, and now and then a byte that some part
// refuses.
TEST(FastPath, AgreesOnRandomAddressShapes) {
  std::mt19937 rng(1313);
  const std::string letters = "abcXYZ019-_";
  const std::string rare = ".-@/ #%:[\"'&<>\x7f\x01\xc3";
  auto pick = [&](const std::string& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
  };
  auto label = [&](std::size_t max) {
    std::string l;
    const std::size_t n = std::uniform_int_distribution<std::size_t>(0, max)(rng);
    for (std::size_t k = 0; k < n; ++k) l += pick(letters);
    return l;
  };
  for (int i = 0; i < 100000; ++i) {
    std::string s;
    if (rng() % 4 != 0) s += label(20) + "@";
    const std::size_t labels = 1 + rng() % 4;
    for (std::size_t k = 0; k < labels; ++k) s += (k ? "." : "") + label(rng() % 8 == 0 ? 70 : 12);
    if (rng() % 2 == 0) s += "/" + label(30);
    for (int k = rng() % 3; k > 0 && !s.empty(); --k) {
      s[std::uniform_int_distribution<std::size_t>(0, s.size() - 1)(rng)] = pick(rare);
    }
    expect_same(s);
    if (HasFatalFailure()) return;
  }
}

// The classifiers give the same masks as the byte table, for every length
// they take and bytes from the whole range.
TEST(FastPath, ClassifiersAgreeWithTheByteTable) {
  std::mt19937 rng(64);
  const std::string alphabet = "aZ09@/.-_ `{[\x7f\x80\xff\x00";
  for (int i = 0; i < 20000; ++i) {
    const std::size_t n = static_cast<std::size_t>(i % (ascii::kShortMax + 1));
    std::string s;
    for (std::size_t k = 0; k < n; ++k) {
      s += rng() % 2 ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()];
    }
    const ascii::ShortMasks expected = ascii::classify_bytes(s.data(), n);
#if defined(QUORVEL_HAVE_X86_SIMD)
    ASSERT_TRUE(ascii::classify_sse2(s.data(), n) == expected) << "sse2, " << n << " bytes";
    if (ascii::has_avx2()) {
      ASSERT_TRUE(classify_avx2_for_tests(s.data(), n) == expected) << "avx2, " << n << " bytes";
    }
#endif
  }
}

// Random texts over the bytes that matter to the fast path's decisions.
TEST(FastPath, AgreesOnRandomAsciiTexts) {
  const std::string alphabet = "aZ0-.@/ \t\x7f" "[]:xn_%'\"&<>\\\xc3\xa9" "A";
  std::mt19937 rng(20240607);
  std::uniform_int_distribution<std::size_t> length(0, 24);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (int i = 0; i < 200000; ++i) {
    std::string s;
    const std::size_t n = length(rng);
    for (std::size_t k = 0; k < n; ++k) s += alphabet[pick(rng)];
    expect_same(s);
    if (HasFatalFailure()) return;
  }
}

// The fast path answers only for valid plain ASCII, and then it answers
// for most real addresses.
TEST(FastPath, TakesTheCommonCases) {
  for (const char* s : {"user@example.com/res", "User@Example.COM/Res", "example.com",
                        "a@b/ x ", "host-1.example.org", "a@192.168.0.1"}) {
    EXPECT_TRUE(plain_ascii_layout(s).ok) << s;
  }
  for (const char* s : {"a@b@c", "a@[::1]", "a@b.", "a@xn--mnchen-3ya.de", "a b@c", "@b",
                        "a@b/", "j\xc3\xbcrgen@example.com"}) {
    EXPECT_FALSE(plain_ascii_layout(s).ok) << s;
  }
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// A plain resource is exactly one that resourceprep keeps as it is: valid,
// unchanged, of the same bytes. Random texts over the edges: lengths
// around 16 and 1023 bytes, controls, DEL, bytes of multi-byte characters.
TEST(FastPath, PlainResourceAgreesWithResourceprep) {
  std::mt19937 rng(1023);
  const std::string alphabet = std::string("aZ0 ~!/@\t\x7f\x1f\xc3\xa9\xc2\xad", 15);
  for (int i = 0; i < 50000; ++i) {
    std::size_t n = rng() % 40;
    if (i % 100 == 0) n = 1020 + rng() % 8;
    std::string s;
    for (std::size_t k = 0; k < n; ++k) {
      s += rng() % 8 == 0 ? alphabet[rng() % alphabet.size()] : static_cast<char>('a' + rng() % 26);
    }
    const bool plain = is_plain_resource(s);
    const Result<PreparedText> prepared = prepare_resource(s);
    const bool kept = prepared.ok() && prepared->unchanged() && prepared->str() == s;
    const bool ascii = std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
    // Plain implies kept; on ASCII text the two are the same question.
    ASSERT_TRUE(!plain || kept) << s;
    if (ascii) {
      ASSERT_EQ(plain, kept) << s;
    }
  }
}

TEST(FastPath, ReplacedResourceKeepsTheBarePart) {
  for (const char* text : {"a@b", "a@b/old", "b", "b/old"}) {
    const JidValue v = *parse_address(text);
    const JidValue r = replace_resource(v, Part(std::string_view("new")));
    EXPECT_EQ(bare_text(r), bare_text(v)) << text;
    EXPECT_EQ(resource_part(r), std::optional<std::string_view>("new")) << text;
    EXPECT_EQ(node_part(r), node_part(v)) << text;
    EXPECT_EQ(describe(parse_address(r.text())), "ok:" + std::string(r.text())) << text;
  }
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// parse_plain_short against parse_address (and its RFC 7622 twin): where it
// answers, the text and separators are the value's; where it declines, the
// text is either refused or not plain ASCII that stays as it is up to case.
// Every text of up to 4 bytes over an alphabet of the bytes that decide
// (separators, capitals, a dot, a hyphen, an underscore, a space, a high
// byte), and random texts around the 63-byte limit.
void expect_plain_short_agrees(std::string_view text) {
  using Parse = Result<JidValue> (*)(std::string_view);
  using Plain = std::optional<Separators> (*)(std::string_view, char*) noexcept;
  const std::pair<Parse, Plain> routes[] = {{&parse_address, &parse_plain_short},
                                             {&precis::parse_address, &precis::parse_plain_short}};
  for (const auto& [parse, plain] : routes) {
    char out[kPlainShortMax];
    const std::optional<Separators> fast = plain(text, out);
    if (!fast) continue;
    const Result<JidValue> slow = parse(text);
    ASSERT_TRUE(slow.ok()) << text;
    EXPECT_EQ(std::string_view(out, text.size()), slow.value().text()) << text;
    EXPECT_EQ(fast->localpart_end, slow.value().localpart_end()) << text;
    EXPECT_EQ(fast->slash_position, slow.value().slash_position()) << text;
  }
}

TEST(PlainShort, AgreesWithParseAddress) {
  const std::string alphabet = "aZ@/.-_ 9\xC3";
  std::string text;
  std::vector<std::size_t> digits;
  for (std::size_t length = 0; length <= 4; ++length) {
    digits.assign(length, 0);
    for (;;) {
      text.clear();
      for (std::size_t d : digits) text += alphabet[d];
      expect_plain_short_agrees(text);
      std::size_t i = 0;
      while (i < length && ++digits[i] == alphabet.size()) digits[i++] = 0;
      if (i == length) break;
    }
  }
  std::mt19937 random(7);
  const std::string bytes = "abcXYZ019@/.-_ ~!\x7F";
  for (int n = 0; n < 20000; ++n) {
    const std::size_t length = 58 + random() % 8;
    text.assign(length, 'a');
    for (char& c : text) c = bytes[random() % 12];  // mostly letters and digits
    for (int k = 0; k < 3; ++k) text[random() % length] = bytes[random() % bytes.size()];
    text[random() % length] = '@';
    expect_plain_short_agrees(text);
    expect_plain_short_agrees(text.substr(0, 63));
  }
  char out[kPlainShortMax];
  EXPECT_FALSE(parse_plain_short(std::string(64, 'a'), out));
}

}  // namespace
}  // namespace quorvel

// Addresses under RFC 7622: the examples of RFC 7622 section 3.5 and of
// RFC 8265, and rows of our own for each rule the profiles and the domain
// check apply. The differential test against the reference libraries is in
// the Python suite.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "precis/properties.h"
#include "quorvel/precis.h"
#include "unicode/idna_properties.h"
#include "unicode/normalize.h"
#include "test_support.h"

namespace quorvel::precis {
namespace {

using quorvel::testing::describe;
using quorvel::testing::u8;

std::string describe(const ProfileResult& r) {
  if (!r) {
    switch (r.error()) {
      case Failure::Disallowed: return "fail:Disallowed";
      case Failure::Context: return "fail:Context";
      case Failure::Bidi: return "fail:Bidi";
      case Failure::Empty: return "fail:Empty";
      case Failure::Unstable: return "fail:Unstable";
      case Failure::InvalidUtf8: return "fail:InvalidUtf8";
    }
  }
  return "ok:" + r->str();
}

struct Row {
  std::string input;
  std::string expected;  // "ok:<text>", "err:<JidError>" or "fail:<Failure>"
};

void PrintTo(const Row& row, std::ostream* os) { *os << quorvel::testing::quoted(row.input); }

class Addresses : public ::testing::TestWithParam<Row> {};

TEST_P(Addresses, Parse) {
  const Row& row = GetParam();
  const Result<JidValue> r = parse_address(row.input);
  ASSERT_EQ(describe(r), row.expected);
  // The ASCII shortcut and the part-by-part route agree.
  EXPECT_EQ(describe(parse_address_general(row.input)), row.expected);
  if (r) {
    // A stored value prepares to itself.
    EXPECT_EQ(describe(parse_address(r->text())), row.expected);
  }
}

// RFC 7622 section 3.5.1 (valid) and 3.5.2 (invalid), every row.
INSTANTIATE_TEST_SUITE_P(Rfc7622Examples, Addresses, ::testing::Values(
    Row{"juliet@example.com", "ok:juliet@example.com"},
    Row{"juliet@example.com/foo", "ok:juliet@example.com/foo"},
    Row{"juliet@example.com/foo bar", "ok:juliet@example.com/foo bar"},
    Row{"juliet@example.com/foo@bar", "ok:juliet@example.com/foo@bar"},
    Row{"foo\\20bar@example.com", "ok:foo\\20bar@example.com"},
    Row{"fussball@example.com", "ok:fussball@example.com"},
    Row{"fu\u00dfball@example.com", "ok:fu\u00dfball@example.com"},
    Row{"\u03c0@example.com", "ok:\u03c0@example.com"},
    Row{"\u03a3@example.com/foo", "ok:\u03c3@example.com/foo"},
    Row{"\u03c3@example.com/foo", "ok:\u03c3@example.com/foo"},
    Row{"\u03c2@example.com/foo", "ok:\u03c2@example.com/foo"},
    Row{"king@example.com/\u265a", "ok:king@example.com/\u265a"},
    Row{"example.com", "ok:example.com"},
    Row{"example.com/foobar", "ok:example.com/foobar"},
    Row{"a.example.com/b@example.net", "ok:a.example.com/b@example.net"},
    Row{"\"juliet\"@example.com", "err:NodeForbidden"},
    Row{"foo bar@example.com", "err:NodePrecis"},
    Row{"juliet@example.com/", "err:ResourceEmpty"},
    Row{"@example.com/", "err:NodeEmpty"},
    Row{"henry\u2163@example.com", "err:NodePrecis"},
    Row{"\u265a@example.com", "err:NodePrecis"},
    Row{"juliet@", "err:Idna"},
    Row{"/foobar", "err:Idna"}));

INSTANTIATE_TEST_SUITE_P(Rules, Addresses, ::testing::Values(
    // Case and width in the localpart, nothing of the kind in the resource.
    Row{"Juliet@Example.COM/Balcony", "ok:juliet@example.com/Balcony"},
    Row{"\uff2a\uff55\uff4c@example.com/\uff2a", "ok:jul@example.com/\uff2a"},
    Row{"\u0130@example.com", "ok:i\u0307@example.com"},
    Row{"\u1e9e@example.com", "ok:\u00df@example.com"},
    // Final sigma: lower-cased by its context, the small forms kept.
    Row{"\u039f\u0394\u03a5\u03a3\u03a3\u0395\u03a5\u03a3@example.com",
        "ok:\u03bf\u03b4\u03c5\u03c3\u03c3\u03b5\u03c5\u03c2@example.com"},
    Row{"\u03b1\u03a3\u0301@example.com", "ok:\u03b1\u03c2\u0301@example.com"},
    Row{"\u03b1\u03a3\u03b2@example.com", "ok:\u03b1\u03c3\u03b2@example.com"},
    // RFC 7622's own refusals, after width mapping too.
    Row{"a\uff20b@example.com", "err:NodeForbidden"},
    Row{"a\uff0fb@example.com", "err:NodeForbidden"},
    Row{"a&b@example.com", "err:NodeForbidden"},
    Row{"a<b@example.com", "err:NodeForbidden"},
    Row{"a:b@example.com", "err:NodeForbidden"},
    Row{"a'b@example.com", "err:NodeForbidden"},
    // Symbols and compatibility forms: the FreeformClass only.
    Row{"room@muc.example/Juliet \U0001f339", "ok:room@muc.example/Juliet \U0001f339"},
    Row{"\U0001f339@example.com", "err:NodePrecis"},
    Row{"\u2460@example.com", "err:NodePrecis"},
    Row{"a@example.com/\u2460", "ok:a@example.com/\u2460"},
    // Non-ASCII spaces become U+0020 in the resource; controls are refused.
    Row{"a@example.com/x\u3000y\u00a0z", "ok:a@example.com/x y z"},
    Row{"a@example.com/a\tb", "err:ResourcePrecis"},
    Row{"a@example.com/a\u200bb", "err:ResourcePrecis"},
    Row{"a@example.com/ ", "ok:a@example.com/ "},
    // NFC in both.
    Row{"e\u0301@example.com/e\u0301", "ok:\u00e9@example.com/\u00e9"},
    Row{"\u212b@example.com/\u212b", "ok:\u00e5@example.com/\u00c5"},
    // The Bidi Rule in the localpart, for a string with an RTL character.
    Row{"\u05e9\u05dc\u05d5\u05dd@example.com", "ok:\u05e9\u05dc\u05d5\u05dd@example.com"},
    Row{"a\u05e9@example.com", "err:NodePrecis"},
    Row{"\u05e91@example.com", "ok:\u05e91@example.com"},
    Row{"1\u05e9@example.com", "err:NodePrecis"},
    Row{"a@example.com/a\u05e9", "ok:a@example.com/a\u05e9"},
    // CONTEXTO and CONTEXTJ.
    Row{"l\u00b7l@example.com", "ok:l\u00b7l@example.com"},
    Row{"a\u00b7b@example.com", "err:NodePrecis"},
    Row{"\u0375\u03b1@example.com", "ok:\u0375\u03b1@example.com"},
    Row{"\u0375a@example.com", "err:NodePrecis"},
    Row{"\u05d0\u05f3@example.com", "ok:\u05d0\u05f3@example.com"},
    Row{"a\u05f3@example.com", "err:NodePrecis"},
    Row{"\u30a2\u30fb\u30a2@example.com", "ok:\u30a2\u30fb\u30a2@example.com"},
    Row{"a\u30fbb@example.com", "err:NodePrecis"},
    Row{"\u0628\u0661\u0662@example.com", "ok:\u0628\u0661\u0662@example.com"},
    Row{"\u0628\u0661\u06f2@example.com", "err:NodePrecis"},
    // Arabic-Indic digits are AN: right-to-left, and no way to begin.
    Row{"\u0661\u0662@example.com", "err:NodePrecis"},
    Row{"\u0915\u094d\u200d\u0937@example.com", "ok:\u0915\u094d\u200d\u0937@example.com"},
    Row{"a\u200db@example.com", "err:NodePrecis"},
    Row{"\u0628\u200c\u0628@example.com", "ok:\u0628\u200c\u0628@example.com"},
    // Lengths on the prepared parts.
    Row{std::string(1023, 'a') + "@example.com", "ok:" + std::string(1023, 'a') + "@example.com"},
    Row{std::string(1024, 'a') + "@example.com", "err:NodeTooLong"},
    Row{std::string(1021, 'A') + "\uff21@x", "ok:" + std::string(1022, 'a') + "@x"},
    Row{"a@x/" + std::string(1024, 'r'), "err:ResourceTooLong"},
    // The split.
    Row{"a@b@c", "err:TooManyAts"},
    Row{"a/b@c", "ok:a/b@c"},
    Row{"a@b/c/d", "ok:a@b/c/d"}));

INSTANTIATE_TEST_SUITE_P(Domains, Addresses, ::testing::Values(
    Row{"a@B\u00fccher.Example", "ok:a@b\u00fccher.example"},
    Row{"a@xn--bcher-kva.example", "ok:a@b\u00fccher.example"},
    Row{"a@XN--BCHER-KVA.example", "ok:a@b\u00fccher.example"},
    Row{"a@example.com.", "ok:a@example.com"},
    Row{"a@example.com..", "err:Idna"},
    Row{"a@.", "err:Idna"},
    Row{"a@ex_ample.com", "err:Idna"},
    Row{"a@-example.com", "err:Idna"},
    Row{"a@example-.com", "err:Idna"},
    Row{"a@ab--c.com", "err:Idna"},
    Row{"a@xn--a.com", "err:Idna"},
    Row{"a@192.0.2.1", "ok:a@192.0.2.1"},
    Row{"a@[2001:DB8::1]/r", "ok:a@[2001:DB8::1]/r"},
    Row{"a@\uff45\uff58\uff41\uff4d\uff50\uff4c\uff45.com", "ok:a@example.com"},
    Row{"a@example\u3002com", "ok:a@example.com"},
    // UTS #46 lets symbols through; IDNA2008 does not.
    Row{"a@\u2603.example", "err:DomainIdna2008"},
    Row{"a@xn--n3h.example", "err:DomainIdna2008"},
    Row{"a@\u00df.example", "ok:a@\u00df.example"},
    Row{"a@\u05d0\u05d1.example", "ok:a@\u05d0\u05d1.example"},
    Row{"a@\u05d0a.example", "err:Idna"},
    Row{"a@" + std::string(63, 'a') + ".com", "ok:a@" + std::string(63, 'a') + ".com"},
    Row{"a@" + std::string(64, 'a') + ".com", "err:Idna"},
    Row{"a@" + std::string(249, 'a') + ".com", "err:Idna"},
    // An over-long ASCII label beside a non-ASCII one (the one-pass route).
    Row{"a@" + std::string(64, '1') + ".b\u00fccher.example", "err:Idna"},
    Row{"a@" + std::string(63, '1') + ".b\u00fccher.example",
        "ok:a@" + std::string(63, '1') + ".b\u00fccher.example"},
    Row{"a@" + std::string(60, 'a') + "." + std::string(60, 'b') + "." + std::string(60, 'c') +
            "." + std::string(60, 'd') + ".co",
        "ok:a@" + std::string(60, 'a') + "." + std::string(60, 'b') + "." + std::string(60, 'c') +
            "." + std::string(60, 'd') + ".co"}));

struct ProfileRow {
  bool username;
  std::string input;
  std::string expected;
};

void PrintTo(const ProfileRow& row, std::ostream* os) {
  *os << (row.username ? "username " : "opaque ") << quorvel::testing::quoted(row.input);
}

class Profiles : public ::testing::TestWithParam<ProfileRow> {};

TEST_P(Profiles, Apply) {
  const ProfileRow& row = GetParam();
  EXPECT_EQ(describe(row.username ? username_case_mapped(row.input) : opaque_string(row.input)),
            row.expected);
}

// RFC 8265 sections 3.5 and 4.3: the examples for the two profiles alone.
INSTANTIATE_TEST_SUITE_P(Rfc8265Examples, Profiles, ::testing::Values(
    ProfileRow{true, "juliet@example.com", "ok:juliet@example.com"},
    ProfileRow{true, "fussball", "ok:fussball"},
    ProfileRow{true, "fu\u00dfball", "ok:fu\u00dfball"},
    ProfileRow{true, "\u03c0", "ok:\u03c0"},
    ProfileRow{true, "\u03a3", "ok:\u03c3"},
    ProfileRow{true, "\u03c3", "ok:\u03c3"},
    ProfileRow{true, "\u03c2", "ok:\u03c2"},
    ProfileRow{true, "\"foo bar\"", "fail:Disallowed"},
    ProfileRow{true, "", "fail:Empty"},
    ProfileRow{true, "henry\u2163", "fail:Disallowed"},
    ProfileRow{true, "\u265a", "fail:Disallowed"},
    ProfileRow{false, "correct horse battery staple", "ok:correct horse battery staple"},
    ProfileRow{false, "Correct Horse Battery Staple", "ok:Correct Horse Battery Staple"},
    ProfileRow{false, "\u03c0\u00df\u00e5", "ok:\u03c0\u00df\u00e5"},
    ProfileRow{false, "Jack of \u2666s", "ok:Jack of \u2666s"},
    ProfileRow{false, "foo\u1680bar", "ok:foo bar"},
    ProfileRow{false, "", "fail:Empty"},
    ProfileRow{false, "my cat is a \tby", "fail:Disallowed"},
    ProfileRow{true, "\xff", "fail:InvalidUtf8"},
    ProfileRow{false, "a\xc0\x80", "fail:InvalidUtf8"}));

// The shortcut for plain ASCII against the part-by-part route, over every
// address of up to four characters drawn from the bytes that matter: the
// separators, the characters either standard refuses, capitals, hyphens and
// dots (whose positions decide the hyphen rules), digits.
TEST(PrecisAsciiShortcut, AgreesWithTheGeneralRoute) {
  const std::string alphabet = "aA1-._@/ &:[]x";
  std::vector<std::string> texts = {""};
  for (int length = 1; length <= 4; ++length) {
    std::vector<std::string> next;
    for (const std::string& t : texts) {
      if (t.size() + 1 != static_cast<std::size_t>(length)) continue;
      for (char c : alphabet) next.push_back(t + c);
    }
    texts.insert(texts.end(), next.begin(), next.end());
  }
  for (const char* tail : {"", "@example.com", ".example/r", "@xn--bcher-kva.example", "@ab--c.de"}) {
    for (const std::string& t : texts) {
      const std::string text = t + tail;
      ASSERT_EQ(describe(parse_address(text)), describe(parse_address_general(text)))
          << quorvel::testing::quoted(text);
    }
  }
}

// Every code point alone, doubled and before a combining mark: the
// shortcuts (plain ASCII, text no rule maps, the one-pass domain) agree with
// the rules applied one after another, and whatever a profile or the domain
// check accepts, it accepts again unchanged (what pickling and str() rely
// on).
// Under the sanitizers every run takes many times as long: there a seventh
// of the code points is enough to find a memory error on the way.
#if defined(__SANITIZE_ADDRESS__)
constexpr char32_t kCodePointStride = 7;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr char32_t kCodePointStride = 7;
#else
constexpr char32_t kCodePointStride = 1;
#endif
#else
constexpr char32_t kCodePointStride = 1;
#endif

TEST(PrecisInvariants, EveryCodePointPreparesToItself) {
  int accepted = 0;
  for (char32_t c = 0; c < 0x110000; c += kCodePointStride) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const std::string one = u8(c);
    for (const std::string& text : {one, one + one, one + u8(0x0301), "a" + one}) {
      for (bool username : {true, false}) {
        const ProfileResult r = username ? username_case_mapped(text) : opaque_string(text);
        ASSERT_EQ(describe(r), describe(username ? username_case_mapped_general(text)
                                                 : opaque_string_general(text)))
            << std::hex << static_cast<unsigned>(c);
        if (!r) continue;
        const std::string first = r->str();
        const ProfileResult again = username ? username_case_mapped(first) : opaque_string(first);
        ASSERT_TRUE(again) << std::hex << static_cast<unsigned>(c);
        ASSERT_EQ(again->str(), first) << std::hex << static_cast<unsigned>(c);
        ++accepted;
      }
      const std::string domain = text + ".example";
      const Result<PreparedText> d = prepare_domain(domain);
      ASSERT_EQ(describe(d), describe(prepare_domain_general(domain)))
          << std::hex << static_cast<unsigned>(c);
      ASSERT_EQ(describe(prepare_domain("x" + text + "-y.Example")),
                describe(prepare_domain_general("x" + text + "-y.Example")))
          << std::hex << static_cast<unsigned>(c);
      if (!d) continue;
      const std::string stored = d->str();
      const Result<PreparedText> again = prepare_domain(stored);
      ASSERT_TRUE(again) << std::hex << static_cast<unsigned>(c);
      ASSERT_EQ(again->str(), stored) << std::hex << static_cast<unsigned>(c);
    }
  }
  EXPECT_GT(accepted, 100000 / static_cast<int>(kCodePointStride));
}

// Every ASCII byte beside non-ASCII letters of both directions, in each
// place of a label: the one pass judges such bytes from its own table, which
// must agree with the general route's rules (LDH, hyphen places, capitals,
// the Bidi Rule's view of digits and hyphens).
TEST(PrecisDomain, AsciiBytesAmongNonAsciiAgreeWithTheGeneralRoute) {
  const std::string letters[] = {"\u00fc", "\u0645", "\u05d0", "\u4f8b"};
  for (unsigned b = 0; b < 0x80; ++b) {
    const std::string a(1, static_cast<char>(b));
    for (const std::string& l : letters) {
      for (const std::string& label : {l + a, a + l, l + a + l, l + l + a + a + l, "ab" + a + a + l}) {
        // The last two make a Bidi domain name, where every label is held to
        // the Bidi Rule.
        for (const std::string& domain : {label, label + ".example", l + "." + label,
                                          label + "." + l + "1", "\u0645." + label,
                                          label + ".\u05d0\u05d1"}) {
          ASSERT_EQ(describe(prepare_domain(domain)), describe(prepare_domain_general(domain)))
              << quorvel::testing::quoted(domain);
        }
      }
    }
  }
}

// The profiles read the Bidi_Class and the NFC quick check from their own
// table, beside the derived values, so that one look-up serves every rule;
// both copies must say what the tables of the Bidi Rule and of the
// normaliser say, for every code point.
TEST(PrecisTable, CarriesTheBidiClassAndTheNfcQuickCheck) {
  for (char32_t c = 0; c < 0x110000; ++c) {
    const CodePointInfo ci = info(c);
    ASSERT_EQ(ci.bidi_class(), unicode::idna::properties(c).bidi_class())
        << std::hex << static_cast<unsigned>(c);
    ASSERT_EQ(ci.nfc_inert(), unicode::nfc_inert(c)) << std::hex << static_cast<unsigned>(c);
  }
}

// The refused characters of a localpart wherever they sit among non-ASCII
// bytes, which the check passes over eight at a time: every position of a
// word and of the tail, behind an odd number of ASCII bytes or none.
TEST(PrecisLocalpart, RefusesTheForbiddenCharactersAtEveryOffset) {
  // Left-to-right letters of two bytes, so that the Bidi Rule, judged first,
  // has nothing to say.
  const std::string letter = "\u043f";
  for (char forbidden : std::string_view("\"&'/:<>@")) {
    for (int before = 0; before <= 12; ++before) {
      for (const std::string lead : {"", "a"}) {
        std::string node = lead;
        for (int k = 0; k < before; ++k) node += letter;
        const std::string clean = node + letter + letter + letter + letter;
        node += forbidden;
        node += letter + letter + letter + letter;
        ASSERT_TRUE(prepare_node(clean).ok()) << clean;
        const auto r = prepare_node(node);
        ASSERT_FALSE(r.ok()) << node;
        ASSERT_EQ(r.error(), JidError::NodeForbidden) << node;
      }
    }
  }
}

// The one-pass bits summarise the derived value and the mapping flags: each
// must say exactly what the flags it stands for say, or a code point the
// profile maps or refuses would be kept as written.
TEST(PrecisTable, KeptBitsAgreeWithTheValuesTheyStandFor) {
  for (char32_t c = 0; c < 0x110000; ++c) {
    const CodePointInfo ci = info(c);
    const bool username = ci.precis() == Derived::Pvalid &&
                          !ci.has(generated::kLower | generated::kWidth);
    const bool opaque = (ci.precis() == Derived::Pvalid || ci.precis() == Derived::FreePval) &&
                        !ci.has(generated::kNonAsciiSpace);
    ASSERT_EQ(ci.has(generated::kKeptUsername), username) << std::hex << static_cast<unsigned>(c);
    ASSERT_EQ(ci.has(generated::kKeptOpaque), opaque) << std::hex << static_cast<unsigned>(c);
  }
}

}  // namespace
}  // namespace quorvel::precis

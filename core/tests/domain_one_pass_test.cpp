// The one-pass preparation of non-ASCII domains (domain_one_pass.h) against
// its slow twin, the UTS #46 check and nameprep one after the other
// (prepare_domain_general): every input must give the same bytes and the
// same unchanged flag, or the same error.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "domain/domain_one_pass.h"
#include "domain/prepare_domain.h"
#include "idna_test_file.h"
#include "quorvel/profiles.h"
#include "test_support.h"
#include "unicode/punycode.h"

namespace quorvel {
namespace {

using testing::describe;
using testing::repeat;
using testing::u8;

std::string described(const Result<PreparedText>& r) {
  return describe(r) + (r && r->unchanged() ? " (unchanged)" : "");
}

// Whether the one pass decided `domain` itself; and, either way, that both
// routes agree on it.
bool expect_same(const std::string& domain) {
  const Result<PreparedText> general = prepare_domain_general(domain);
  const Result<PreparedText> routed = prepare_domain(domain);
  EXPECT_EQ(described(routed), described(general)) << '"' << domain << '"';
  const bool dot = !domain.empty() && domain.back() == '.';
  std::string folded;
  return domain_one_pass::prepare(dot ? domain.substr(0, domain.size() - 1) : domain, folded) !=
         domain_one_pass::Outcome::Undecided;
}

// The sources and results of the conformance file: every rule of the IDNA
// check meets the one pass there. Most rows are made to fail; a few hundred
// texts are ones the pass takes.
TEST(DomainOnePass, AgreesOnConformanceInputs) {
  ASSERT_GT(testing::rows().size(), 6000u);
  int taken = 0;
  for (const testing::Row& r : testing::rows()) {
    for (const std::string& text : {r.source, r.to_unicode, r.to_ascii}) {
      taken += expect_same(text);
      expect_same(text + ".");
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(taken, 250);
}

// Every code point where a label starts, inside a left-to-right label and
// inside a right-to-left one, so that no entry of the generated table can
// drift from the rules of either route.
TEST(DomainOnePass, AgreesOnEveryCodePoint) {
  int taken = 0;
  for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const std::string s = u8(c);
    taken += expect_same("a" + s + "b.example");
    taken += expect_same(s + "x.example");
    taken += expect_same("\xd7\x90" + s + "\xd7\x91.\xd7\x92");  // U+05D0... (R)
    if (HasFailure()) return;
  }
  EXPECT_GT(taken, 80000);
}

// Random domains from pieces that each meet one rule: scripts of every
// direction, numbers of both kinds, marks, the two folded characters and
// those that are mapped, joiners, separators other than the full stop,
// hyphens, Punycode, denied and ill-formed bytes, and labels near the
// length limits.
TEST(DomainOnePass, AgreesOnGeneratedDomains) {
  const std::vector<std::string> atoms = {
      "a", "z", "Q", "0", "7", "-", "-", "-", ".", "_", " ", "%", "xn--",
      "\xc3\xbc",              // ü
      "\xc3\x9f",              // ß, folded to "ss"
      "\xcf\x82",              // ς, folded to σ
      "\xce\xa3",              // Σ, mapped
      "\xce\xb1",              // α
      "\xd0\xbf",              // п
      "\xe4\xbe\x8b",          // 例
      "\xd7\x90",              // א (R)
      "\xd9\x85",              // م (AL)
      "\xd9\xa3",              // ٣ (AN)
      "\xd9\x8b",              // U+064B, a mark (NSM)
      "\xcc\x81",              // U+0301, combines
      "\xe0\xa4\x95",          // क
      "\xe0\xa5\x8d",          // virama
      "\xe2\x80\x8d",          // ZWJ
      "\xe2\x80\x8c",          // ZWNJ
      "\xc2\xad",              // soft hyphen, mapped to nothing
      "\xe3\x80\x82",          // ideographic full stop
      "\xef\xbc\xa1",          // fullwidth A
      "\xe1\xba\x9e",          // capital sharp s
      "\xc8\xa1",              // U+0221, unassigned in Unicode 3.2
      "\xf0\xa0\x80\x80",      // U+20000
      "\xf0\x9f\x98\x80",      // U+1F600
      "\xe2\x85\xab",          // Roman numeral twelve, NFKC changes it
      "\xff", "\xc3",          // ill-formed
  };
  std::mt19937 rng(4646);
  std::uniform_int_distribution<std::size_t> pick(0, atoms.size() - 1);
  int taken = 0;
  for (int n = 0; n < 200000; ++n) {
    std::string domain;
    const int pieces = 1 + static_cast<int>(rng() % 10);
    for (int k = 0; k < pieces; ++k) {
      // Mostly letters that pass, so that the rarer pieces meet labels the
      // one pass would otherwise take.
      domain += rng() % 3 ? atoms[13 + rng() % 4] : atoms[pick(rng)];
    }
    switch (n % 16) {
      case 0:
        domain = repeat("\xc3\xbc", 55 + n % 9) + "." + domain;
        break;
      case 1:
        domain = repeat("\xe4\xbe\x8b", 8 + n % 8) + "." + domain;
        break;
      case 2:
        domain = repeat(repeat("a", 60) + ".", 3 + n % 2) + domain;
        break;
      case 3:
        domain += ".";
        break;
      case 4:
        // Folds that lengthen a label to the limits of its ASCII form.
        domain = repeat("\xc3\x9f", 26 + n % 10) + "." + domain;
        break;
      case 5:
        domain = repeat("\xcf\x82", 20 + n % 45) + domain;
        break;
      case 6:
        domain = repeat(repeat("\xc3\x9f", 30) + ".", 3 + n % 2) + domain;
        break;
      default:
        if (rng() % 2) domain += ".example";
        break;
    }
    taken += expect_same(domain);
    if (HasFailure()) return;
  }
  EXPECT_GT(taken, 20000);
}

// The usual non-ASCII domains take the one pass, with the result each
// should have; those it must leave to the general path do.
struct Taken {
  const char* domain;
  domain_one_pass::Outcome outcome;
};

class DomainOnePassTakes : public ::testing::TestWithParam<Taken> {};

TEST_P(DomainOnePassTakes, DecidesAsExpected) {
  const Taken& row = GetParam();
  std::string folded;
  EXPECT_EQ(domain_one_pass::prepare(row.domain, folded), row.outcome) << row.domain;
  expect_same(row.domain);
}

using enum domain_one_pass::Outcome;
INSTANTIATE_TEST_SUITE_P(
    Table, DomainOnePassTakes,
    ::testing::Values(
        Taken{"m\xc3\xbcnchen.example", Unchanged}, Taken{"M\xc3\xbcnchen.EXAMPLE", Lowered},
        Taken{"\xce\xb5\xce\xbb.example", Unchanged},
        Taken{"\xd0\xbf\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd1\x80.\xd1\x80\xd1\x84", Unchanged},
        Taken{"\xe4\xbe\x8b\xe5\xad\x90.\xe4\xb8\xad\xe5\x9b\xbd", Unchanged},
        Taken{"\xd9\x85\xd8\xab\xd8\xa7\xd9\x84\xd9\x85.\xd9\x85\xd9\x88\xd9\x82\xd8\xb9",
              Unchanged},
        Taken{"stra\xc3\x9f" "e.example", Folded}, Taken{"\xcf\x83\xce\xbf\xcf\x82.gr", Folded},
        Taken{"b\xc3\xbc" "cher-online.de", Unchanged},
        // The general path decides: a capital it maps, a label that folds
        // into the hyphen rule, a separator it maps, Punycode, an RTL label
        // among LTR ones, a mark first, a label too long for the bound.
        Taken{"M\xc3\x9cNCHEN.de", Undecided}, Taken{"\xc3\x9f--c.de", Undecided},
        Taken{"\xe4\xbe\x8b\xe3\x80\x82\xe4\xb8\xad", Undecided},
        Taken{"xn--mnchen-3ya.\xc3\xbc", Undecided}, Taken{"\xd7\x90.b\xc3\xbc", Undecided},
        Taken{"\xcc\x81" "a.\xc3\xbc", Undecided}, Taken{"\xc3\xbc\xc3\xbc--a.de", Undecided}));

// The pass's cheap Punycode bound never undercuts the exact bound it stands
// in front of, for every label that can pass.
TEST(DomainOnePass, QuickBoundIsAboveThePunycodeBound) {
  for (char32_t largest : {0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
    for (std::size_t characters = 1; characters <= 59; ++characters) {
      for (std::size_t basic = 0; basic < characters; ++basic) {
        ASSERT_GE(domain_one_pass::quick_length_bound_for_tests(characters, basic, largest),
                  unicode::punycode::encoded_length_bound(characters, basic, largest))
            << characters << " " << basic << " " << std::hex << static_cast<unsigned long>(largest);
      }
    }
  }
}

}  // namespace
}  // namespace quorvel

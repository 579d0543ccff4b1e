// The pieces of the RFC 7622 one-pass routes against their slow twins: the
// Bidi Rule read from the table's group bits against BidiRule and a literal
// reading of RFC 5893's six conditions, the short decoding step against
// utf8::decode and info(), and the one-pass profiles and domain against
// the general route over generated texts of the scripts that take them
// (right-to-left letters, both kinds of digits, marks, hyphens, capitals).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "precis/bidi_groups.h"
#include "precis/properties.h"
#include "quorvel/precis.h"
#include "unicode/bidi_rule.h"
#include "unicode/idna_properties.h"
#include "test_support.h"

namespace quorvel::precis {
namespace {

using unicode::idna::BidiClass;
using quorvel::testing::quoted;
using quorvel::testing::u8;

constexpr int kClasses = static_cast<int>(BidiClass::PDI) + 1;

// RFC 5893 section 2, condition by condition, on a label's classes.
bool literal_bidi_rule(const std::vector<BidiClass>& label) {
  using enum BidiClass;
  if (label.empty()) return true;
  auto in = [](BidiClass c, std::initializer_list<BidiClass> set) {
    for (BidiClass s : set) {
      if (s == c) return true;
    }
    return false;
  };
  // 1. The first character must be L, R or AL.
  const BidiClass first = label.front();
  if (!in(first, {L, R, AL})) return false;
  // The last character that is not NSM, if any.
  std::size_t end = label.size();
  while (end > 0 && label[end - 1] == NSM) --end;
  if (first == R || first == AL) {
    bool en = false;
    bool an = false;
    for (BidiClass c : label) {
      // 2. Only R, AL, AN, EN, ES, CS, ET, ON, BN and NSM.
      if (!in(c, {R, AL, AN, EN, ES, CS, ET, ON, BN, NSM})) return false;
      en |= c == EN;
      an |= c == AN;
    }
    // 3. The end, before trailing NSMs, is R, AL, EN or AN.
    if (end == 0 || !in(label[end - 1], {R, AL, EN, AN})) return false;
    // 4. Not both EN and AN.
    return !(en && an);
  }
  for (BidiClass c : label) {
    // 5. Only L, EN, ES, CS, ET, ON, BN and NSM.
    if (!in(c, {L, EN, ES, CS, ET, ON, BN, NSM})) return false;
  }
  // 6. The end, before trailing NSMs, is L or EN.
  return end != 0 && in(label[end - 1], {L, EN});
}

bool twin_bidi_rule(const std::vector<BidiClass>& label) {
  unicode::idna::BidiRule rule;
  for (BidiClass c : label) rule.add(c);
  return rule.passes();
}

// The groups' verdict from the sets a one-pass loop gathers.
bool group_bidi_rule(const std::vector<BidiClass>& label) {
  std::uint32_t seen = 0;
  std::uint32_t last = 0;
  for (BidiClass c : label) {
    const std::uint32_t g = bidi_groups::group_of(c);
    seen |= g;
    if (g != bidi_groups::kNsm) last = g;
  }
  const std::uint32_t first = label.empty() ? 0 : bidi_groups::group_of(label.front());
  return bidi_groups::passes(seen, first, last);
}

// Every sequence of up to four classes: all three readings agree.
TEST(PrecisBidiGroups, AgreeWithTheRuleOnEveryShortClassSequence) {
  std::vector<BidiClass> label;
  int checked = 0;
  int passed = 0;
  for (int length = 0; length <= 4; ++length) {
    int total = 1;
    for (int k = 0; k < length; ++k) total *= kClasses;
    for (int code = 0; code < total; ++code) {
      label.clear();
      for (int k = 0, rest = code; k < length; ++k, rest /= kClasses) {
        label.push_back(static_cast<BidiClass>(rest % kClasses));
      }
      const bool expected = literal_bidi_rule(label);
      ASSERT_EQ(twin_bidi_rule(label), expected) << "length " << length << " code " << code;
      ASSERT_EQ(group_bidi_rule(label), expected) << "length " << length << " code " << code;
      ++checked;
      passed += expected;
    }
  }
  EXPECT_GT(passed, 1000);
  EXPECT_GT(checked - passed, 1000);
}

// Longer sequences drawn mostly from the classes a passing label holds.
TEST(PrecisBidiGroups, AgreeWithTheRuleOnLongClassSequences) {
  using enum BidiClass;
  const BidiClass usual[] = {L, R, AL, EN, AN, ES, CS, ET, ON, BN, NSM};
  std::mt19937 rng(7622);
  std::vector<BidiClass> label;
  for (int n = 0; n < 200000; ++n) {
    label.clear();
    const int length = 5 + static_cast<int>(rng() % 12);
    for (int k = 0; k < length; ++k) {
      label.push_back(rng() % 16 ? usual[rng() % std::size(usual)]
                                 : static_cast<BidiClass>(rng() % kClasses));
    }
    const bool expected = literal_bidi_rule(label);
    ASSERT_EQ(twin_bidi_rule(label), expected);
    ASSERT_EQ(group_bidi_rule(label), expected);
  }
}

// The table's group bits are what group_of says of its Bidi_Class: exactly
// one group per code point, which the loops rely on (no value is 0).
TEST(PrecisBidiGroups, TableCarriesTheGroupOfEveryCodePoint) {
  for (char32_t c = 0; c < 0x110000; ++c) {
    const CodePointInfo ci = info(c);
    ASSERT_EQ(ci.bits & bidi_groups::kAll, bidi_groups::group_of(ci.bidi_class()))
        << std::hex << static_cast<unsigned>(c);
  }
}

// text_passes reads the last code point's group from the value the loop
// had, and looks back past trailing NSMs itself: held to the literal rule on
// texts of real characters.
TEST(PrecisBidiGroups, TextEndsAgreeWithTheRule) {
  const char32_t pieces[] = {U'a', U'\u0645', U'\u05d0', U'1', U'\u0663', U'-', U'\u0301',
                             U'\u064b', U'.', U'\u00a0', U'\u4f8b'};
  std::mt19937 rng(8265);
  for (int n = 0; n < 100000; ++n) {
    std::string text;
    std::vector<BidiClass> classes;
    std::uint32_t any = 0;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    const int length = 1 + static_cast<int>(rng() % 6);
    for (int k = 0; k < length; ++k) {
      const char32_t c = pieces[rng() % std::size(pieces)];
      text += u8(c);
      const CodePointInfo ci = info(c);
      classes.push_back(ci.bidi_class());
      if (k == 0) first = ci.bits;
      last = ci.bits;
      any |= ci.bits;
    }
    ASSERT_EQ(bidi_groups::text_passes(text, any, first, last), literal_bidi_rule(classes))
        << quoted(text);
  }
}

// The decoding step against utf8::decode and info(): every one- and
// two-byte lead with every second byte, in the middle and at the end of the
// text, and the longer forms and ill-formed bytes after it.
std::string stepped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c;
    CodePointInfo ci;
    const bool ok = next(text, i, c, ci);
    out += ok ? std::to_string(c) + ":" + std::to_string(ci.bits) : "bad";
    out += "@" + std::to_string(i) + " ";
  }
  return out;
}

std::string decoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = utf8::decode(text, i);
    out += c != utf8::kInvalid ? std::to_string(c) + ":" + std::to_string(info(c).bits) : "bad";
    out += "@" + std::to_string(i) + " ";
  }
  return out;
}

TEST(PrecisStep, AgreesWithDecodeOnEveryShortSequence) {
  for (unsigned b0 = 0; b0 < 0x100; ++b0) {
    const std::string lead(1, static_cast<char>(b0));
    ASSERT_EQ(stepped(lead), decoded(lead)) << quoted(lead);
    for (unsigned b1 = 0; b1 < 0x100; ++b1) {
      const std::string two = lead + static_cast<char>(b1);
      for (const std::string& text : {two, two + "a", two + "\xd9\x85", "\xd9" + two}) {
        ASSERT_EQ(stepped(text), decoded(text)) << quoted(text);
      }
    }
  }
  for (const char* text : {"\xe4\xbe\x8b", "\xf0\x9f\x98\x80", "\xe4\xbe", "\xed\xa0\x80",
                           "\xc0\x80", "\xf4\x90\x80\x80", "a\xe4\xbe\x8b\xd9\x85"}) {
    ASSERT_EQ(stepped(text), decoded(text)) << quoted(text);
  }
}

// The profiles' and the domain's one pass against the general route over
// generated texts of the characters they take, with the ones that send a
// text to the general route or refuse it mixed in.
std::string described(const ProfileResult& r) {
  if (!r) return "fail:" + std::to_string(static_cast<int>(r.error()));
  return "ok:" + r->str() + (r->unchanged() ? " (unchanged)" : "");
}

std::string described(const Result<PreparedText>& r) {
  if (!r) return "err:" + std::string(name(r.error()));
  return "ok:" + r->str() + (r->unchanged() ? " (unchanged)" : "");
}

const std::vector<std::string> kAtoms = {
    "\u0645", "\u0648", "\u0642", "\u0639",  // Arabic letters (AL)
    "\u05d0", "\u05d1",                      // Hebrew letters (R)
    "\u0663", "\u06f3",                      // Arabic-Indic digits (AN; EN for U+06F3)
    "1", "0",                                // EN
    "a", "Z", "\u00fc", "\u043f",            // L, a capital, two-byte L
    "\u4f8b",                                // a three-byte L
    "-", ".", "_", " ",                      // hyphen, dot, refused ASCII
    "\u064b", "\u0301", "\u05b0",            // marks (NSM)
    "\u200d", "\u00ad",                      // CONTEXTJ, mapped to nothing
    "\u0660",                                // AN digit zero (CONTEXTO rules)
    "\uff21",                                // fullwidth A (width mapping)
    "\xc3", "\xd9",                          // cut two-byte sequences
    "\xd9\x85\xcc\x81",                      // a letter and a combining mark
};

TEST(PrecisOnePass, ProfilesAgreeWithTheGeneralRouteOnGeneratedTexts) {
  std::mt19937 rng(5893);
  for (int n = 0; n < 150000; ++n) {
    std::string text;
    const int pieces = 1 + static_cast<int>(rng() % 8);
    for (int k = 0; k < pieces; ++k) {
      // Mostly right-to-left letters and digits, the usual Arabic name.
      text += rng() % 3 ? kAtoms[rng() % 10] : kAtoms[rng() % kAtoms.size()];
    }
    ASSERT_EQ(described(username_case_mapped(text)), described(username_case_mapped_general(text)))
        << quoted(text);
    ASSERT_EQ(described(opaque_string(text)), described(opaque_string_general(text)))
        << quoted(text);
  }
}

TEST(PrecisOnePass, DomainAgreesWithTheGeneralRouteOnGeneratedNames) {
  std::mt19937 rng(5890);
  int accepted = 0;
  for (int n = 0; n < 150000; ++n) {
    std::string domain;
    const int labels = 1 + static_cast<int>(rng() % 3);
    for (int l = 0; l < labels; ++l) {
      if (l > 0) domain += '.';
      // Now and then a long label, near where the Punycode bound decides.
      const int pieces = rng() % 10 ? 1 + static_cast<int>(rng() % 6) : 8 + static_cast<int>(rng() % 60);
      for (int k = 0; k < pieces; ++k) {
        domain += rng() % 3 ? kAtoms[rng() % 10] : kAtoms[rng() % kAtoms.size()];
      }
    }
    if (rng() % 8 == 0) domain += '.';
    const Result<PreparedText> fast = prepare_domain(domain);
    ASSERT_EQ(described(fast), described(prepare_domain_general(domain))) << quoted(domain);
    accepted += fast.ok();
  }
  EXPECT_GT(accepted, 10000);
}

}  // namespace
}  // namespace quorvel::precis

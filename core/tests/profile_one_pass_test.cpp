// The profiles' one pass for non-ASCII text they leave as written
// (kept_as_written in profiles.cpp) against their slow twins, the general
// steps alone (profile_general.h): every input must give the same bytes and
// the same unchanged flag, or the same failure.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "prep/profiles_twins.h"
#include "test_support.h"

namespace quorvel {
namespace {

using testing::repeat;
using testing::u8;

struct Twins {
  const char* name;
  ProfileResult (*routed)(std::string_view);
  ProfileResult (*general)(std::string_view);
};

const Twins kProfiles[] = {{"nodeprep", nodeprep, nodeprep_general},
                           {"nameprep", nameprep, nameprep_general},
                           {"resourceprep", resourceprep, resourceprep_general}};

std::string described(const ProfileResult& r) {
  if (!r) return "fail:" + std::to_string(static_cast<int>(r.error()));
  return "ok:" + r->str() + (r->unchanged() ? " (unchanged)" : "");
}

void expect_same(const std::string& text) {
  for (const Twins& t : kProfiles) {
    ASSERT_EQ(described(t.routed(text)), described(t.general(text)))
        << t.name << " on \"" << text << '"';
  }
}

// Every code point alone, among ASCII with a capital to fold, and between
// two right-to-left letters: no flag of the table can drift from the steps.
TEST(ProfileOnePass, AgreesOnEveryCodePoint) {
  for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const std::string s = u8(c);
    expect_same(s);
    expect_same("a" + s + "B");
    expect_same("\xd7\x90" + s + "\xd7\x91");  // U+05D0, U+05D1 (R)
    if (HasFatalFailure()) return;
  }
}

// Random texts from pieces that each meet one step: letters of both
// directions, numbers, marks, characters mapped to nothing or folded,
// compatibility characters, unassigned and newly assigned ones, the ASCII
// each profile refuses, and ill-formed bytes.
TEST(ProfileOnePass, AgreesOnGeneratedTexts) {
  const std::vector<std::string> atoms = {
      "a", "Z", "0", " ", "@", "/", "\"", "&", "\t", "\x7f", "-", ".",
      "\xc3\xbc",          // ü
      "\xe4\xbe\x8b",      // 例
      "\xd0\xbf",          // п
      "\xd7\x90",          // א (R)
      "\xd9\x85",          // م (AL)
      "\xd9\xa3",          // ٣ (AN)
      "\xcc\x81",          // U+0301, combines
      "\xc3\x9f",          // ß, folded
      "\xc3\x9c",          // Ü, folded
      "\xc2\xad",          // soft hyphen, mapped to nothing
      "\xe2\x80\x8d",      // ZWJ, mapped to nothing
      "\xc2\xa0",          // no-break space, prohibited
      "\xef\xbc\xa1",      // fullwidth A, NFKC changes it
      "\xe2\x85\xab",      // Roman numeral twelve
      "\xc8\xa1",          // U+0221, unassigned in Unicode 3.2
      "\xf0\x9f\x98\x80",  // U+1F600
      "\xee\x80\x80",      // U+E000, private use
      "\xff", "\xc3",      // ill-formed
  };
  std::mt19937 rng(3454);
  for (int n = 0; n < 100000; ++n) {
    std::string text;
    const int pieces = 1 + static_cast<int>(rng() % 8);
    for (int k = 0; k < pieces; ++k) {
      // Mostly pieces the one pass keeps, so the rarer ones meet texts it
      // would otherwise take.
      text += rng() % 3 ? atoms[12 + rng() % 3] : atoms[rng() % atoms.size()];
    }
    if (n % 100 == 0) text = repeat("\xc3\xbc", 500 + n % 30) + text;
    expect_same(text);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace quorvel

#include <gtest/gtest.h>

#include "test_support.h"

namespace quorvel {
namespace {

using testing::describe;
using testing::u8;

enum class Which { Node, Name, Resource };

ProfileResult run(Which which, std::string_view text) {
  switch (which) {
    case Which::Node:
      return nodeprep(text);
    case Which::Name:
      return nameprep(text);
    case Which::Resource:
      return resourceprep(text);
  }
  return ProfileFailure::Prohibited;
}

struct ProfileRow {
  Which which;
  std::string input;
  std::string expected;  // "ok:<text>" or "fail"
};

void PrintTo(const ProfileRow& row, std::ostream* os) {
  *os << "profile " << static_cast<int>(row.which) << " on " << testing::quoted(row.input);
}

class ProfileTest : public ::testing::TestWithParam<ProfileRow> {};

TEST_P(ProfileTest, Prepares) {
  const ProfileRow& row = GetParam();
  EXPECT_EQ(describe(run(row.which, row.input)), row.expected);
}

const std::string kHebrew = u8(0x05D0) + u8(0x05D1) + u8(0x05D2);

const ProfileRow kRows[] = {
    {Which::Node, "Juliet", "ok:juliet"},
    {Which::Node, "juliet", "ok:juliet"},
    {Which::Node, "ju liet", "fail"},
    {Which::Resource, "ju liet", "ok:ju liet"},
    {Which::Resource, "Home", "ok:Home"},
    {Which::Resource, u8(0xFB01), "ok:fi"},
    {Which::Node, u8(0xDF), "ok:ss"},
    {Which::Node, u8(0x130), "ok:i" + u8(0x307)},
    {Which::Node, u8(0x2121), "ok:tel"},
    {Which::Node, u8(0xFF21), "ok:a"},
    {Which::Node, u8(0x1E9E), "fail"},
    {Which::Name, u8(0x1E9E), "fail"},
    {Which::Resource, u8(0x1E9E), "fail"},
    {Which::Node, u8(0x2F874), "ok:" + u8(0x5F53)},
    {Which::Node, u8(0x2F868), "ok:" + u8(0x36FC)},
    {Which::Node, u8(0x2F91F), "ok:" + u8(0x243AB)},
    // Unicode 16.0 on every machine: a character of 16.0, and ones of 17.0.
    {Which::Node, u8(0x1CCD6), "ok:A"},
    {Which::Resource, u8(0x1CCD6), "ok:A"},
    {Which::Node, u8(0x1CCF0), "ok:0"},
    {Which::Node, u8(0xA7F1), "fail"},  // of 17.0, whose NFKC would be 'S'
    {Which::Resource, "a" + u8(0xA7F1), "fail"},
    {Which::Name, u8(0x16EA0), "fail"},  // a letter of 17.0 that NFKC keeps
    {Which::Node, u8(0xAD), "ok:"},
    {Which::Node, u8(0x200B), "ok:"},
    {Which::Node, "", "ok:"},
    {Which::Resource, "", "ok:"},
    // Characters encoded after Unicode 3.2 that NFKC leaves alone.
    {Which::Node, "a" + u8(0x1F600), "fail"},
    {Which::Resource, u8(0x1F600), "fail"},
    {Which::Node, u8(0x2A700), "fail"},
    {Which::Node, u8(0x20000), "ok:" + u8(0x20000)},
    // The bidirectional rule.
    {Which::Node, kHebrew, "ok:" + kHebrew},
    {Which::Node, kHebrew + "1", "fail"},
    {Which::Node, kHebrew + "a", "fail"},
    {Which::Node, "1" + kHebrew, "fail"},
    {Which::Resource, kHebrew + " " + kHebrew, "ok:" + kHebrew + " " + kHebrew},
    // Nameprep keeps every label separator but the ones NFKC turns into dots.
    {Which::Name, "a" + u8(0x3002) + "b", "ok:a" + u8(0x3002) + "b"},
    {Which::Name, "a" + u8(0xFF0E) + "b", "ok:a.b"},
    {Which::Name, "a" + u8(0xFF61) + "b", "ok:a" + u8(0x3002) + "b"},
    {Which::Name, u8(0x3C2), "ok:" + u8(0x3C3)},
    {Which::Name, "A b", "ok:a b"},
    {Which::Name, "a\x01", "ok:a\x01"},
    {Which::Node, "a\x01", "fail"},
    {Which::Resource, "a\x7F", "fail"},
    {Which::Node, std::string("a\0b", 3), "fail"},
    {Which::Resource, std::string("a\0b", 3), "fail"},
    // Non-ASCII spaces and controls are refused by every profile.
    {Which::Node, "a" + u8(0x3000), "fail"},  // NFKC makes it a space
    {Which::Resource, "a" + u8(0x3000), "ok:a "},
    {Which::Resource, "a" + u8(0x2028), "fail"},
    {Which::Name, "a" + u8(0x85), "fail"},
    {Which::Resource, "a" + u8(0xE000), "fail"},
    // Characters that map to nothing vanish before the other steps.
    {Which::Node, "a" + u8(0xFE0F) + "B", "ok:ab"},
    {Which::Resource, "A" + u8(0xFEFF) + "B", "ok:AB"},
};

INSTANTIATE_TEST_SUITE_P(Table, ProfileTest, ::testing::ValuesIn(kRows));

class NodeAsciiTest : public ::testing::TestWithParam<char> {};

TEST_P(NodeAsciiTest, EightCharactersOnlyTheLocalpartRefuses) {
  const std::string text = std::string("a") + GetParam() + "b";
  EXPECT_FALSE(nodeprep(text));
  const ProfileResult r = resourceprep(text);
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->unchanged());
}

INSTANTIATE_TEST_SUITE_P(Table, NodeAsciiTest,
                         ::testing::Values('"', '&', '\'', '/', ':', '<', '>', '@'));

TEST(Profiles, ReportUnchangedOnlyForTheInputItself) {
  // Already prepared text comes back as the input, ASCII or not.
  for (const std::string& s : {std::string("juliet"), std::string("a!b;c=d?e"),
                               u8(0xE9) + "t" + u8(0xE9), u8(0x4E2D) + u8(0x6587)}) {
    const ProfileResult r = nodeprep(s);
    ASSERT_TRUE(r) << s;
    EXPECT_TRUE(r->unchanged()) << s;
    EXPECT_EQ(r->view().data(), s.data()) << "no copy for " << s;
  }
  for (const std::string& s : {std::string("Juliet"), "e" + u8(0x301), u8(0xC9)}) {
    const ProfileResult r = nodeprep(s);
    ASSERT_TRUE(r) << s;
    EXPECT_FALSE(r->unchanged()) << s;
  }
}

TEST(Profiles, CapitalFromNewerCharacterIsNotStable) {
  const ProfileResult once = nodeprep(u8(0x1CCD6));
  ASSERT_TRUE(once);
  EXPECT_EQ(once->str(), "A");
  EXPECT_EQ(describe(nodeprep(once->str())), "ok:a");
}

TEST(Profiles, InvalidUtf8IsRefusedByEveryProfile) {
  for (const std::string& bad :
       {std::string("\xC3"), std::string("a\xC3("), std::string("\xED\xA0\x80"),
        std::string("\xF4\x90\x80\x80"), std::string("\xC0\xAF"), std::string("\xFF"),
        std::string("a\xE2\x82")}) {
    EXPECT_FALSE(nodeprep(bad));
    EXPECT_FALSE(nameprep(bad));
    EXPECT_FALSE(resourceprep(bad));
    EXPECT_EQ(describe(parse_address(bad + "@b")), "err:NodePrep");
    EXPECT_EQ(describe(parse_address("b/" + bad)), "err:ResourcePrep");
    EXPECT_EQ(describe(parse_address(bad)), "err:Idna");
  }
}


}  // namespace
}  // namespace quorvel

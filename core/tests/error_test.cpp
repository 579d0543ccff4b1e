#include <gtest/gtest.h>

#include "test_support.h"

namespace quorvel {
namespace {

struct KindRow {
  JidError kind;
  std::string_view name;
  std::string_view message;
  std::size_t bytes;
};

const KindRow kKinds[] = {
    {JidError::NodeEmpty, "NodeEmpty", "nodepart empty despite the presence of a @", 42},
    {JidError::ResourceEmpty, "ResourceEmpty", "resource empty despite the presence of a /", 42},
    {JidError::NodeTooLong, "NodeTooLong", "localpart longer than 1023 bytes", 32},
    {JidError::ResourceTooLong, "ResourceTooLong", "resource longer than 1023 bytes", 31},
    {JidError::NodePrep, "NodePrep", "localpart doesn\xE2\x80\x99t pass nodeprep validation", 44},
    {JidError::NamePrep, "NamePrep", "domain doesn\xE2\x80\x99t pass nameprep validation", 41},
    {JidError::ResourcePrep, "ResourcePrep",
     "resource doesn\xE2\x80\x99t pass resourceprep validation", 47},
    {JidError::ResourceMissingInFullJid, "ResourceMissingInFullJid",
     "no resource found in this full JID", 34},
    {JidError::ResourceInBareJid, "ResourceInBareJid", "resource found while parsing a bare JID", 39},
    {JidError::TooManyAts, "TooManyAts", "second @ found before parsing the resource", 42},
    {JidError::Idna, "Idna", "domain doesn\xE2\x80\x99t pass idna validation", 37},
};

class KindTest : public ::testing::TestWithParam<KindRow> {};

TEST_P(KindTest, NameAndMessageAreExact) {
  const KindRow& row = GetParam();
  EXPECT_EQ(name(row.kind), row.name);
  EXPECT_EQ(message(row.kind), row.message);
  EXPECT_EQ(message(row.kind).size(), row.bytes);
  EXPECT_NE(message(row.kind).back(), '.');
}

INSTANTIATE_TEST_SUITE_P(AllKinds, KindTest, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KindTest, OrderIsTheDeclaredOne) {
  for (std::size_t i = 0; i < std::size(kKinds); ++i) {
    EXPECT_EQ(static_cast<std::size_t>(kKinds[i].kind), i);
  }
}

}  // namespace
}  // namespace quorvel

#include <gtest/gtest.h>

#include "test_support.h"

namespace quorvel {
namespace {

using testing::describe;

struct UnescapeRow {
  std::string prepared;  // the localpart as prepare_node returns it
  std::string expected;
};
void PrintTo(const UnescapeRow& row, std::ostream* os) { *os << testing::quoted(row.prepared); }

class UnescapeTest : public ::testing::TestWithParam<UnescapeRow> {};

TEST_P(UnescapeTest, Unescapes) {
  EXPECT_EQ(describe(unescape_localpart(GetParam().prepared)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnescapeTest,
    ::testing::Values(UnescapeRow{"foo\\20bar", "ok:foo bar"}, UnescapeRow{"a\\40b", "ok:a@b"},
                      UnescapeRow{"a\\2fb", "ok:a/b"}, UnescapeRow{"\\5c", "ok:\\"},
                      UnescapeRow{"foo\\3a", "ok:foo:"}, UnescapeRow{"foo", "ok:foo"},
                      UnescapeRow{"foo\\21", "ok:foo\\21"}, UnescapeRow{"\\5c20", "ok:\\20"},
                      UnescapeRow{"\\\\5c", "ok:\\\\"},
                      UnescapeRow{"\\22\\26\\27\\3c\\3e", "ok:\"&'<>"},
                      // Only lower-case digits are recognised.
                      UnescapeRow{"a\\2Fb", "ok:a\\2Fb"},
                      // A backslash without a complete pair after it stays.
                      UnescapeRow{"ab\\", "ok:ab\\"}, UnescapeRow{"ab\\2", "ok:ab\\2"},
                      UnescapeRow{"\\", "ok:\\"},
                      // No space at either end of the result.
                      UnescapeRow{"\\20foo", "err:NodePrep"}, UnescapeRow{"foo\\20", "err:NodePrep"},
                      UnescapeRow{"\\20", "err:NodePrep"}, UnescapeRow{"a\\20b", "ok:a b"}));

TEST(Unescape, TextWithoutBackslashIsPassedThrough) {
  const std::string text = "plain.localpart";
  const Result<PreparedText> r = unescape_localpart(text);
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->unchanged());
  EXPECT_EQ(r->view().data(), text.data());
}

TEST(Unescape, AfterPreparationCapitalDigitsAreRecognised) {
  const Result<PreparedText> node = prepare_node("Foo\\3A");
  ASSERT_TRUE(node);
  EXPECT_EQ(describe(unescape_localpart(node->str())), "ok:foo:");
}

}  // namespace
}  // namespace quorvel

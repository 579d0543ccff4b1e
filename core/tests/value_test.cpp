#include <gtest/gtest.h>

#include "test_support.h"

namespace quorvel {
namespace {

JidValue parsed(std::string_view text) {
  Result<JidValue> r = parse_address(text);
  EXPECT_TRUE(r) << text;
  return std::move(r).value();
}

TEST(Readers, SliceByPositionsOnly) {
  const JidValue v = parsed("a@b/c@d/e");
  EXPECT_EQ(node_part(v), "a");
  EXPECT_EQ(domain_part(v), "b");
  EXPECT_EQ(resource_part(v), "c@d/e");
  EXPECT_EQ(bare_text(v), "a@b");
  const JidValue d = parsed("b");
  EXPECT_FALSE(node_part(d));
  EXPECT_FALSE(resource_part(d));
  EXPECT_EQ(domain_part(d), "b");
}

struct JoinRow {
  std::optional<std::string> node;
  std::string domain;
  std::optional<std::string> resource;
  std::string text;
  int localpart_end;
  int slash_position;
};

class JoinTest : public ::testing::TestWithParam<JoinRow> {};

TEST_P(JoinTest, JoinsWithSeparators) {
  const JoinRow& row = GetParam();
  std::optional<Part> node;
  if (row.node) node.emplace(std::string_view(*row.node));
  std::optional<Part> resource;
  if (row.resource) resource.emplace(std::string_view(*row.resource));
  const JidValue v = join_parts(node, Part(std::string_view(row.domain)), resource);
  EXPECT_EQ(v.text(), row.text);
  EXPECT_EQ(v.localpart_end(), row.localpart_end);
  EXPECT_EQ(v.slash_position(), row.slash_position);
  EXPECT_EQ(v, parsed(row.text));
}

INSTANTIATE_TEST_SUITE_P(Table, JoinTest,
                         ::testing::Values(JoinRow{std::nullopt, "b", "c", "b/c", 0, 1},
                                           JoinRow{"a", "b", std::nullopt, "a@b", 1, 0},
                                           JoinRow{"ab", "cd", "ef", "ab@cd/ef", 2, 5},
                                           JoinRow{std::nullopt, "b", std::nullopt, "b", 0, 0}));

TEST(Builders, PreparedPartsAreFoldedWhileCopied) {
  Result<PreparedText> node = prepare_node("JuLiEt");
  Result<PreparedText> domain = prepare_domain("Example.COM.");
  ASSERT_TRUE(node && domain);
  EXPECT_EQ(node->form(), PreparedText::Form::AsciiLowered);
  const JidValue v = join_parts(Part(*node), Part(*domain), std::nullopt);
  EXPECT_EQ(v.text(), "juliet@example.com");
}

TEST(Builders, AttachBareCopyAndStrip) {
  const JidValue bare = parsed("a@b");
  const JidValue full = attach_resource(bare, Part(std::string_view("r")));
  EXPECT_EQ(full.text(), "a@b/r");
  EXPECT_EQ(full.slash_position(), 3);
  EXPECT_EQ(full.localpart_end(), 1);

  JidValue stripped = parsed("a@b/c");
  const JidValue copied = bare_copy(stripped);
  strip_resource(stripped);
  EXPECT_EQ(stripped, copied);
  EXPECT_EQ(stripped.text(), "a@b");
  EXPECT_EQ(stripped.slash_position(), 0);
  EXPECT_EQ(stripped.localpart_end(), 1);

  JidValue already = parsed("a@b");
  strip_resource(already);
  EXPECT_EQ(already, bare_copy(parsed("a@b")));
}

TEST(Values, CopiesAreIndependent) {
  JidValue original = parsed("a@b/c");
  JidValue copy = original;
  strip_resource(original);
  EXPECT_EQ(copy.text(), "a@b/c");
  EXPECT_EQ(original.text(), "a@b");
  copy = original;
  EXPECT_EQ(copy, original);
}

TEST(Values, EqualityIsByteEqualityOfText) {
  EXPECT_EQ(parsed("A@B/C"), parsed("a@b/C"));
  EXPECT_FALSE(parsed("a@b/C") == parsed("a@b/c"));
  EXPECT_FALSE(parsed("a@b") == parsed("a@b/c"));
}


// valid() against hand-made positions: each row breaks one invariant of the
// diagram in jid_value.h, or keeps them all.
struct ShapeRow {
  std::string text;
  int localpart_end;
  int slash_position;
  bool valid;
};

class ShapeTest : public ::testing::TestWithParam<ShapeRow> {};

TEST_P(ShapeTest, ValidHoldsExactlyTheInvariants) {
  const ShapeRow& row = GetParam();
  const JidValue v(row.text, static_cast<std::uint16_t>(row.localpart_end),
                   static_cast<std::uint16_t>(row.slash_position));
  EXPECT_EQ(v.valid(), row.valid) << row.text << " " << row.localpart_end << " "
                                  << row.slash_position;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ShapeTest,
    ::testing::Values(
        ShapeRow{"example.com", 0, 0, true}, ShapeRow{"a@b", 1, 0, true},
        ShapeRow{"b/c", 0, 1, true}, ShapeRow{"a@b/c", 1, 3, true},
        ShapeRow{"a@b/c@d/e", 1, 3, true},
        ShapeRow{"", 0, 0, false},             // no domain
        ShapeRow{"a@b", 2, 0, false},          // localpart_end not on the "@"
        ShapeRow{"a@", 1, 0, false},           // empty domain
        ShapeRow{"a@/c", 1, 2, false},         // empty domain before the slash
        ShapeRow{"b/", 0, 1, false},           // empty resource
        ShapeRow{"b/c", 0, 2, false},          // slash_position not on the "/"
        ShapeRow{"a@b/c", 1, 9, false},        // past the end
        ShapeRow{"a@b", 7, 0, false},          // past the end
        ShapeRow{std::string(1023, 'n') + "@d", 1023, 0, true},
        ShapeRow{std::string(1024, 'n') + "@d", 1024, 0, false},
        ShapeRow{"d/" + std::string(1023, 'r'), 0, 1, true},
        ShapeRow{"d/" + std::string(1024, 'r'), 0, 1, false}));

TEST(Values, EveryBuilderAndParserKeepsTheInvariants) {
  for (std::string_view text : {"d", "n@d", "d/r", "n@d/r", "N@D/R", "n@d/r@s/t", "[::1]/x"}) {
    const Result<JidValue> r = parse_address(text);
    ASSERT_TRUE(r) << text;
    EXPECT_TRUE(r->valid()) << text;
    EXPECT_TRUE(bare_copy(*r).valid()) << text;
  }
}

}  // namespace
}  // namespace quorvel

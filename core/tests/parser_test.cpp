#include <gtest/gtest.h>

#include "test_support.h"

namespace quorvel {
namespace {

using testing::describe;
using testing::repeat;
using testing::u8;

struct ParseRow {
  std::string input;
  std::string expected;  // "ok:<text>" or "err:<Kind>"
  int localpart_end = -1;
  int slash_position = -1;
};

void PrintTo(const ParseRow& row, std::ostream* os) { *os << testing::quoted(row.input); }

class ParseTest : public ::testing::TestWithParam<ParseRow> {};

TEST_P(ParseTest, Parses) {
  const ParseRow& row = GetParam();
  const Result<JidValue> r = parse_address(row.input);
  ASSERT_EQ(describe(r), row.expected);
  if (r && row.localpart_end >= 0) {
    EXPECT_EQ(r->localpart_end(), row.localpart_end);
    EXPECT_EQ(r->slash_position(), row.slash_position);
  }
}

const ParseRow kParseRows[] = {
    // The split, and what each part keeps.
    {"b", "ok:b", 0, 0},
    {"a@b/c", "ok:a@b/c", 1, 3},
    {"A@B/C", "ok:a@b/C", 1, 3},
    {"b/c", "ok:b/c", 0, 1},
    {"a/b@c", "ok:a/b@c", 0, 1},
    {"a@b/c@d/e", "ok:a@b/c@d/e", 1, 3},
    {"User@Example.COM./Home", "ok:user@example.com/Home", 4, 16},
    // A second "@" before any "/" is refused before anything is prepared.
    {"a@b@c", "err:TooManyAts"},
    {"@@", "err:TooManyAts"},
    {"a@b@c/d", "err:TooManyAts"},
    {" @@", "err:TooManyAts"},
    // Emptiness, in preparation order.
    {"@b", "err:NodeEmpty"},
    {"b/", "err:ResourceEmpty"},
    {"a@b/", "err:ResourceEmpty"},
    {"@b/", "err:NodeEmpty"},
    {u8(0xAD) + "@b", "err:NodeEmpty"},
    {"a@b/" + u8(0xAD), "err:ResourceEmpty"},
    // An empty domain is judged by the domain check alone.
    {"", "err:Idna"},
    {"a@", "err:Idna"},
    {"/c", "err:Idna"},
    {"a@/c", "err:Idna"},
    // The first failing part decides.
    {"a b@c d/", "err:NodePrep"},
    {"a@c d/", "err:Idna"},
    {"a@b/\x01", "err:ResourcePrep"},
    // The trailing dot never reaches the text.
    {"b.", "ok:b", 0, 0},
    {"a@b.", "ok:a@b", 1, 0},
    {"a@b./c", "ok:a@b/c", 1, 3},
    {"b./c", "ok:b/c", 0, 1},
    {"b../c", "err:Idna"},
    // Preparation that changes parts rebuilds the text.
    {u8(0xFF21) + "@" + u8(0xFF22) + "/" + u8(0xFB01), "ok:a@b/fi", 1, 3},
    {"x@stra" + u8(0xDF) + "e.example", "ok:x@strasse.example", 1, 0},
    {"[::1]/r", "ok:[::1]/r", 0, 5},
    {"n@127.0.0.1", "ok:n@127.0.0.1", 1, 0},
};

INSTANTIATE_TEST_SUITE_P(Table, ParseTest, ::testing::ValuesIn(kParseRows));

struct LengthRow {
  std::string input;
  std::string expected;
};
void PrintTo(const LengthRow& row, std::ostream* os) { *os << row.input.size() << " bytes"; }

class LengthTest : public ::testing::TestWithParam<LengthRow> {};

TEST_P(LengthTest, CountsPreparedBytes) {
  const Result<JidValue> r = parse_address(GetParam().input);
  EXPECT_EQ(r ? std::string("ok") : describe(r), GetParam().expected);
}

const LengthRow kLengthRows[] = {
    {repeat("a", 1023) + "@b", "ok"},
    {repeat("a", 1024) + "@b", "err:NodeTooLong"},
    // Raw length does not count: soft hyphens vanish in preparation.
    {repeat("a", 1000) + repeat(u8(0xAD), 500) + "@b", "ok"},
    {"b/" + repeat("r", 1023), "ok"},
    {"b/" + repeat("r", 1024), "err:ResourceTooLong"},
    {"b/" + repeat("R", 1023) + repeat(u8(0x200B), 300), "ok"},
    // Bytes, not characters: 341 three-byte characters are 1023 bytes.
    {repeat(u8(0x4E2D), 341) + "@b", "ok"},
    {repeat(u8(0x4E2D), 342) + "@b", "err:NodeTooLong"},
    // A prohibited character is reported before the length.
    {repeat("a", 2000) + " @b", "err:NodePrep"},
};

INSTANTIATE_TEST_SUITE_P(Table, LengthTest, ::testing::ValuesIn(kLengthRows));

TEST(ParseBare, RefusesResourceAfterEveryOtherCheck) {
  EXPECT_EQ(describe(parse_bare_address("a@b/c")), "err:ResourceInBareJid");
  EXPECT_EQ(describe(parse_bare_address("a@b/")), "err:ResourceEmpty");
  EXPECT_EQ(describe(parse_bare_address("a@b@c")), "err:TooManyAts");
  const Result<JidValue> bare = parse_bare_address("A@B");
  ASSERT_TRUE(bare);
  EXPECT_EQ(*bare, *parse_address("a@b"));
  EXPECT_EQ(bare->localpart_end(), 1);
}

}  // namespace
}  // namespace quorvel

// escape_localpart against XEP-0106's own examples, its refusals, the
// round trip with unescape_localpart, and its printable-ASCII route against
// the general one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "escape/escape_twin.h"
#include "prep/char_tables.h"
#include "test_support.h"

namespace quorvel {
namespace {

using testing::u8;

std::string describe(const Result<std::string, EscapeError>& r) {
  if (!r) return "err:" + std::string(name(r.error()));
  return "ok:" + *r;
}

struct EscapeRow {
  std::string display;
  std::string expected;  // "ok:<localpart>" or "err:<kind>"
};
void PrintTo(const EscapeRow& row, std::ostream* os) { *os << testing::quoted(row.display); }

class EscapeTest : public ::testing::TestWithParam<EscapeRow> {};

TEST_P(EscapeTest, Escapes) {
  EXPECT_EQ(describe(escape_localpart(GetParam().display)), GetParam().expected);
  // Both routes give the same answer for every row, ASCII or not.
  EXPECT_EQ(describe(escape_localpart_general(GetParam().display)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EscapeTest,
    ::testing::Values(
        // XEP-0106 section 5.1; a backslash that starts no escape stays (4.3).
        EscapeRow{"space cadet", "ok:space\\20cadet"},
        EscapeRow{"call me \"ishmael\"", "ok:call\\20me\\20\\22ishmael\\22"},
        EscapeRow{"at&t guy", "ok:at\\26t\\20guy"}, EscapeRow{"d'artagnan", "ok:d\\27artagnan"},
        EscapeRow{"/.fanboy", "ok:\\2f.fanboy"}, EscapeRow{"::foo::", "ok:\\3a\\3afoo\\3a\\3a"},
        EscapeRow{"<foo>", "ok:\\3cfoo\\3e"}, EscapeRow{"user@host", "ok:user\\40host"},
        EscapeRow{"c:\\net", "ok:c\\3a\\net"}, EscapeRow{"c:\\\\net", "ok:c\\3a\\\\net"},
        EscapeRow{"c:\\cool stuff", "ok:c\\3a\\cool\\20stuff"},
        EscapeRow{"c:\\5commas", "ok:c\\3a\\5c5commas"},
        // A backslash before what reads as a code once prepared.
        EscapeRow{"a\\2Fb", "ok:a\\5c2fb"}, EscapeRow{"\\\\20", "ok:\\\\5c20"},
        EscapeRow{"\\", "ok:\\"}, EscapeRow{"a\\", "ok:a\\"}, EscapeRow{"\\2", "ok:\\2"},
        EscapeRow{"\\" + u8(0xAD) + "20", "ok:\\5c20"},   // B.1 vanishes first
        EscapeRow{u8(0xFF3C) + "20", "ok:\\5c20"},         // a fullwidth backslash
        EscapeRow{"\\" + u8(0xFF12) + u8(0xFF10), "ok:\\5c20"},
        EscapeRow{"\\3" + u8(0x1D402), "ok:\\5c3c"},       // NFKC gives a capital C
        // Mapped as Nodeprep maps, then escaped as what it maps to.
        EscapeRow{"D'Artagnan", "ok:d\\27artagnan"}, EscapeRow{"a" + u8(0xA0) + "b", "ok:a\\20b"},
        EscapeRow{"d" + u8(0xFF07) + "artagnan", "ok:d\\27artagnan"},
        EscapeRow{u8(0x2100), "ok:a\\2fc"},
        EscapeRow{u8(0xC4) + u8(0xDF) + "@x", "ok:" + u8(0xE4) + "ss\\40x"},
        EscapeRow{"<" + u8(0x338), "ok:" + u8(0x226E)},     // composes; nothing to escape
        EscapeRow{u8(0x345) + u8(0x300), "ok:" + u8(0x1F76)},  // folded, then composed
        EscapeRow{u8(0x37A) + "x", "err:NodePrep"},        // B.2 maps it to a space first
        EscapeRow{"x" + u8(0x37A), "ok:x\\20" + u8(0x3B9)},
        // Refused: nothing left, a space at an end, Nodeprep, length.
        EscapeRow{"", "err:NodeEmpty"}, EscapeRow{u8(0xAD) + u8(0x200B), "err:NodeEmpty"},
        EscapeRow{" a", "err:NodePrep"}, EscapeRow{"a ", "err:NodePrep"},
        EscapeRow{" ", "err:NodePrep"}, EscapeRow{u8(0xA0) + "a", "err:NodePrep"},
        EscapeRow{"a" + u8(0x3000), "err:NodePrep"}, EscapeRow{std::string("a\0b", 3), "err:NodePrep"},
        EscapeRow{"a\tb", "err:NodePrep"}, EscapeRow{"a\x7F", "err:NodePrep"},
        EscapeRow{u8(0x1F600), "err:NodePrep"}, EscapeRow{u8(0xE000), "err:NodePrep"},
        EscapeRow{u8(0x5D0) + "/" + u8(0x5D1), "err:NodePrep"},  // hex letters are L
        EscapeRow{std::string(1023, 'x'), "ok:" + std::string(1023, 'x')},
        EscapeRow{std::string(1024, 'x'), "err:NodeTooLong"},
        EscapeRow{" " + std::string(2000, 'x'), "err:NodeTooLong"},
        // A combining mark after an escape would change it.
        EscapeRow{":" + u8(0x301), "err:JoinsEscape"}, EscapeRow{"a/" + u8(0x307) + "b", "err:JoinsEscape"},
        EscapeRow{"a>" + u8(0x301), "err:JoinsEscape"},
        // Not UTF-8 (C++ callers only).
        EscapeRow{"a\xC3", "err:InvalidUtf8"}, EscapeRow{"\xED\xA0\x80", "err:InvalidUtf8"}));

TEST(Escape, LongestEscapedLocalpart) {
  EXPECT_EQ(describe(escape_localpart(std::string(341, '\''))),
            "ok:" + testing::repeat("\\27", 341));
  EXPECT_EQ(describe(escape_localpart(std::string(342, '\''))), "err:NodeTooLong");
}

TEST(Escape, CodePointNewerThanTheProfilesIsRefused) {
  // Whatever the built-in NFKC would make of it, Nodeprep calls it
  // unassigned.
  char32_t newer = 0;
  for (char32_t c = 0x80; c < 0x110000 && newer == 0; ++c) {
    if (c < 0xD800 || c > 0xDFFF) {
      if (tables::flags(c) & tables::kAssignedAfter16) newer = c;
    }
  }
  ASSERT_NE(newer, 0u);
  EXPECT_EQ(describe(escape_localpart("a" + u8(newer))), "err:NodePrep");
  EXPECT_FALSE(prepare_node("a" + u8(newer)).ok());
}

TEST(Escape, MessagesOfTheJidKindsAreTheCoreOnes) {
  EXPECT_EQ(message(EscapeError::NodeEmpty), message(JidError::NodeEmpty));
  EXPECT_EQ(message(EscapeError::NodePrep), message(JidError::NodePrep));
  EXPECT_EQ(message(EscapeError::NodeTooLong), message(JidError::NodeTooLong));
  EXPECT_EQ(message(EscapeError::JoinsEscape),
            "localpart cannot be escaped: a combining mark would join an escape sequence");
}

// Every text of up to four characters over the characters that matter to
// the rules (the ten, hex digits of both cases, a letter, a control, DEL):
// the ASCII route agrees with the general one, and what either accepts is a
// localpart that prepares to itself and unescapes to the lower-cased text.
TEST(Escape, AsciiRouteMatchesTheGeneralOneExhaustively) {
  const std::string alphabet = " \"&'/:<>@\\0235aAcCfFx\t\x7F";
  std::vector<std::string> texts = {""};
  std::size_t checked = 0;
  for (int length = 1; length <= 4; ++length) {
    std::vector<std::string> longer;
    for (const std::string& t : texts) {
      for (char c : alphabet) longer.push_back(t + c);
    }
    texts = std::move(longer);
    for (const std::string& t : texts) {
      const auto fast = escape_localpart(t);
      ASSERT_EQ(describe(fast), describe(escape_localpart_general(t))) << t;
      ++checked;
      if (!fast) continue;
      auto again = prepare_node(*fast);
      ASSERT_TRUE(again.ok()) << t;
      EXPECT_EQ(again->str(), *fast) << t;
      auto shown = unescape_localpart(*fast);
      ASSERT_TRUE(shown.ok()) << t;
      std::string lowered = t;
      for (char& c : lowered) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
      EXPECT_EQ(shown->str(), lowered) << t;
    }
  }
  EXPECT_GT(checked, 100000u);
}

}  // namespace
}  // namespace quorvel

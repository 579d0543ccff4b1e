// The decoder every preparation loop runs through, against a decoder
// written straight from the table of well-formed byte sequences (Unicode
// chapter 3, table 3-7), over every sequence of one to three bytes and
// four-byte ones around each boundary; and the encoder as its inverse.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "unicode/utf8_codec.h"

namespace quorvel {
namespace {

// Table 3-7: the allowed range of each byte of a well-formed sequence.
struct Row {
  unsigned char lo[4], hi[4];
  std::size_t length;
};
constexpr Row kWellFormed[] = {
    {{0x00}, {0x7F}, 1},
    {{0xC2, 0x80}, {0xDF, 0xBF}, 2},
    {{0xE0, 0xA0, 0x80}, {0xE0, 0xBF, 0xBF}, 3},
    {{0xE1, 0x80, 0x80}, {0xEC, 0xBF, 0xBF}, 3},
    {{0xED, 0x80, 0x80}, {0xED, 0x9F, 0xBF}, 3},
    {{0xEE, 0x80, 0x80}, {0xEF, 0xBF, 0xBF}, 3},
    {{0xF0, 0x90, 0x80, 0x80}, {0xF0, 0xBF, 0xBF, 0xBF}, 4},
    {{0xF1, 0x80, 0x80, 0x80}, {0xF3, 0xBF, 0xBF, 0xBF}, 4},
    {{0xF4, 0x80, 0x80, 0x80}, {0xF4, 0x8F, 0xBF, 0xBF}, 4},
};

// The code point at the start of `s` and its length, or (kInvalid, 1).
std::pair<char32_t, std::size_t> reference(const std::string& s) {
  for (const Row& row : kWellFormed) {
    if (s.size() < row.length) continue;
    bool fits = true;
    for (std::size_t k = 0; k < row.length; ++k) {
      const auto b = static_cast<unsigned char>(s[k]);
      fits &= b >= row.lo[k] && b <= row.hi[k];
    }
    if (!fits) continue;
    const auto b0 = static_cast<unsigned char>(s[0]);
    char32_t c = row.length == 1 ? b0 : b0 & (0xFF >> (row.length + 1));
    for (std::size_t k = 1; k < row.length; ++k) c = (c << 6) | (s[k] & 0x3F);
    return {c, row.length};
  }
  return {utf8::kInvalid, 1};
}

void expect_agrees(const std::string& s) {
  std::size_t i = 0;
  const char32_t c = utf8::decode(s, i);
  const auto [want, length] = reference(s);
  ASSERT_EQ(c, want) << "bytes " << testing::PrintToString(s);
  ASSERT_EQ(i, length) << "bytes " << testing::PrintToString(s);
}

TEST(Utf8Decode, AgreesOnEverySequenceOfUpToThreeBytes) {
  for (unsigned a = 0; a < 256; ++a) {
    expect_agrees(std::string(1, static_cast<char>(a)));
    for (unsigned b = 0; b < 256; ++b) {
      const std::string two = {static_cast<char>(a), static_cast<char>(b)};
      expect_agrees(two);
      // The third byte matters only after a lead byte of three or more.
      if (a < 0xE0) continue;
      for (unsigned c = 0; c < 256; ++c) expect_agrees(two + static_cast<char>(c));
      if (HasFatalFailure()) return;
    }
  }
}

TEST(Utf8Decode, AgreesOnFourByteSequencesAndTruncations) {
  std::mt19937 rng(17);
  const unsigned char edges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0xBF, 0xC0, 0xF0, 0xF4, 0xF5, 0xFF};
  auto pick = [&] {
    return static_cast<char>(rng() % 2 ? edges[rng() % sizeof edges] : rng() % 256);
  };
  for (int n = 0; n < 300000; ++n) {
    std::string s = {static_cast<char>(0xF0 + rng() % 16)};
    const std::size_t more = rng() % 5;
    for (std::size_t k = 0; k < more; ++k) s += pick();
    expect_agrees(s);
    if (HasFatalFailure()) return;
  }
}

// A decoder must stop at the end of its view, not at the end of the buffer
// behind it: a sequence cut by the view is ill-formed.
TEST(Utf8Decode, StopsAtTheEndOfTheView) {
  const std::string backing = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  for (const auto& [start, cut] : {std::pair{0, 1}, {2, 2}, {2, 1}, {5, 3}, {5, 2}, {5, 1}}) {
    std::size_t i = 0;
    const std::string_view view(backing.data() + start, static_cast<std::size_t>(cut));
    EXPECT_EQ(utf8::decode(view, i), utf8::kInvalid) << start << "," << cut;
    EXPECT_EQ(i, 1u);
  }
}

TEST(Utf8Encode, IsTheInverseOfDecodeOnEveryScalarValue) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    char buffer[4];
    const std::size_t n = utf8::encode(c, buffer);
    std::size_t i = 0;
    ASSERT_EQ(utf8::decode(std::string_view(buffer, n), i), c);
    ASSERT_EQ(i, n);
  }
}

}  // namespace
}  // namespace quorvel

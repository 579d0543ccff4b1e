// Punycode: the samples of RFC 3492 section 7.1 both ways, the ways a text
// can fail to be Punycode, and round trips of generated labels.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "unicode/punycode.h"

namespace quorvel {
namespace {

namespace punycode = unicode::punycode;

std::u32string from_hex(std::string_view hex) {
  std::u32string out;
  std::istringstream in{std::string(hex)};
  for (std::string word; in >> word;) out.push_back(static_cast<char32_t>(std::stoul(word, nullptr, 16)));
  return out;
}

std::optional<std::u32string> decode(std::string_view s) {
  std::u32string out(s.size(), U'\0');
  const auto n = punycode::decode(s, out);
  if (!n) return std::nullopt;
  out.resize(*n);
  return out;
}

std::optional<std::string> encode(const std::u32string& s) {
  std::string out(punycode::max_encoded_length(s.size()), '\0');
  const auto n = punycode::encode(s, out);
  if (!n) return std::nullopt;
  out.resize(*n);
  return out;
}

struct Sample {
  const char* name;
  const char* code_points;
  const char* encoded;
};
void PrintTo(const Sample& s, std::ostream* os) { *os << s.name; }

// RFC 3492 section 7.1. Some encodings carry the optional mixed-case
// annotation (capitals among the digits); an encoder writes small letters.
const Sample kSamples[] = {
    {"A Arabic (Egyptian)",
     "0644 064A 0647 0645 0627 0628 062A 0643 0644 0645 0648 0634 0639 0631 0628 064A 061F",
     "egbpdaj6bu4bxfgehfvwxn"},
    {"B Chinese (simplified)", "4ED6 4EEC 4E3A 4EC0 4E48 4E0D 8BF4 4E2D 6587",
     "ihqwcrb4cv8a8dqg056pqjye"},
    {"C Chinese (traditional)", "4ED6 5011 7232 4EC0 9EBD 4E0D 8AAA 4E2D 6587",
     "ihqwctvzc91f659drss3x8bo0yb"},
    {"D Czech",
     "0050 0072 006F 010D 0070 0072 006F 0073 0074 011B 006E 0065 006D 006C 0075 0076 00ED 010D "
     "0065 0073 006B 0079",
     "Proprostnemluvesky-uyb24dma41a"},
    {"E Hebrew",
     "05DC 05DE 05D4 05D4 05DD 05E4 05E9 05D5 05D8 05DC 05D0 05DE 05D3 05D1 05E8 05D9 05DD 05E2 "
     "05D1 05E8 05D9 05EA",
     "4dbcagdahymbxekheh6e0a7fei0b"},
    {"F Hindi (Devanagari)",
     "092F 0939 0932 094B 0917 0939 093F 0928 094D 0926 0940 0915 094D 092F 094B 0902 0928 0939 "
     "0940 0902 092C 094B 0932 0938 0915 0924 0947 0939 0948 0902",
     "i1baa7eci9glrd9b2ae1bj0hfcgg6iyaf8o0a1dig0cd"},
    {"G Japanese (kanji and hiragana)",
     "306A 305C 307F 3093 306A 65E5 672C 8A9E 3092 8A71 3057 3066 304F 308C 306A 3044 306E 304B",
     "n8jok5ay5dzabd5bym9f0cm5685rrjetr6pdxa"},
    {"H Korean (Hangul syllables)",
     "C138 ACC4 C758 BAA8 B4E0 C0AC B78C B4E4 C774 D55C AD6D C5B4 B97C C774 D574 D55C B2E4 BA74 "
     "C5BC B9C8 B098 C88B C744 AE4C",
     "989aomsvi5e83db1d2a355cv1e0vak1dwrv93d5xbh15a0dt30a5jpsd879ccm6fea98c"},
    {"I Russian (Cyrillic)",
     "043F 043E 0447 0435 043C 0443 0436 0435 043E 043D 0438 043D 0435 0433 043E 0432 043E 0440 "
     "044F 0442 043F 043E 0440 0443 0441 0441 043A 0438",
     "b1abfaaepdrnnbgefbaDotcwatmq2g4l"},
    {"J Spanish",
     "0050 006F 0072 0071 0075 00E9 006E 006F 0070 0075 0065 0064 0065 006E 0073 0069 006D 0070 "
     "006C 0065 006D 0065 006E 0074 0065 0068 0061 0062 006C 0061 0072 0065 006E 0045 0073 0070 "
     "0061 00F1 006F 006C",
     "PorqunopuedensimplementehablarenEspaol-fmd56a"},
    {"K Vietnamese",
     "0054 1EA1 0069 0073 0061 006F 0068 1ECD 006B 0068 00F4 006E 0067 0074 0068 1EC3 0063 0068 "
     "1EC9 006E 00F3 0069 0074 0069 1EBF 006E 0067 0056 0069 1EC7 0074",
     "TisaohkhngthchnitingVit-kjcr8268qyxafd2f1b9g"},
    {"L", "0033 5E74 0042 7D44 91D1 516B 5148 751F", "3B-ww4c5e180e575a65lsy2b"},
    {"M",
     "5B89 5BA4 5948 7F8E 6075 002D 0077 0069 0074 0068 002D 0053 0055 0050 0045 0052 002D 004D "
     "004F 004E 004B 0045 0059 0053",
     "-with-SUPER-MONKEYS-pc58ag80a8qai00g7n9n"},
    {"N",
     "0048 0065 006C 006C 006F 002D 0041 006E 006F 0074 0068 0065 0072 002D 0057 0061 0079 002D "
     "305D 308C 305E 308C 306E 5834 6240",
     "Hello-Another-Way--fc4qua05auwb3674vfr0b"},
    {"O", "3072 3068 3064 5C4B 6839 306E 4E0B 0032", "2-u9tlzr9756bt3uc0v"},
    {"P", "004D 0061 006A 0069 3067 004B 006F 0069 3059 308B 0035 79D2 524D",
     "MajiKoi5-783gue6qz075azm5e"},
    {"Q", "30D1 30D5 30A3 30FC 0064 0065 30EB 30F3 30D0", "de-jg4avhby1noc0d"},
    {"R", "305D 306E 30B9 30D4 30FC 30C9 3067", "d9juau41awczczp"},
    {"S", "002D 003E 0020 0024 0031 002E 0030 0030 0020 003C 002D", "-> $1.00 <--"},
};

class PunycodeSample : public ::testing::TestWithParam<Sample> {};

TEST_P(PunycodeSample, Decodes) {
  EXPECT_EQ(decode(GetParam().encoded), from_hex(GetParam().code_points));
}

TEST_P(PunycodeSample, Encodes) {
  // The basic code points stand as given; the digits after the last
  // delimiter lose any case annotation.
  std::string expected = GetParam().encoded;
  const std::size_t delimiter = expected.rfind('-');
  for (std::size_t i = delimiter == std::string::npos ? 0 : delimiter + 1; i < expected.size(); ++i) {
    expected[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(expected[i])));
  }
  EXPECT_EQ(encode(from_hex(GetParam().code_points)), expected);
}

INSTANTIATE_TEST_SUITE_P(Rfc3492, PunycodeSample, ::testing::ValuesIn(kSamples));

TEST(Punycode, RefusesWhatIsNotPunycode) {
  const std::string out_of_range = *encode({0x110000});
  const std::string surrogate = *encode({U'a', 0xD800});
  const std::vector<std::string> bad = {
      "-abc",          // a leading delimiter leaves "-" to read as a digit
      "ab_c",          // not a digit
      "b\xC3\xBC-kva", // a non-ASCII basic code point
      "a-b+",          // not a digit
      "9999999999a",   // a number past 32 bits
      "bb",            // the number does not end
      out_of_range,    // past U+10FFFF
      surrogate,       // a surrogate
  };
  for (const std::string& s : bad) EXPECT_EQ(decode(s), std::nullopt) << s;
  // Not an error for Punycode itself: deciding whether such labels are
  // acceptable is IDNA's business.
  EXPECT_EQ(decode(""), U"");
  EXPECT_EQ(decode("abc-"), U"abc");
  EXPECT_EQ(decode("a"), std::u32string(1, 0x80));
}

TEST(Punycode, StopsAtTheRoomGiven) {
  const std::u32string text = U"b\u00FCcher";
  char32_t small[5];
  EXPECT_EQ(punycode::decode("bcher-kva", small), std::nullopt);
  char32_t exact[6];
  EXPECT_EQ(punycode::decode("bcher-kva", exact), 6u);
  char narrow[8];
  EXPECT_EQ(punycode::encode(text, narrow), std::nullopt);
  char enough[9];
  EXPECT_EQ(punycode::encode(text, enough), 9u);
  // An encoding of code points near the top needs many digits, yet never
  // more than max_encoded_length promises.
  const std::u32string wide = {0x10FFFF, 0x80, 0x10FFFE, 0x81, 0x10FFFF};
  const auto encoded = encode(wide);
  ASSERT_TRUE(encoded);
  EXPECT_LE(encoded->size(), punycode::max_encoded_length(wide.size()));
  EXPECT_EQ(decode(*encoded), wide);
}

TEST(Punycode, RoundTripsGeneratedLabels) {
  std::mt19937 rng(3492);
  const std::vector<std::pair<char32_t, char32_t>> ranges = {
      {'a', 'z'}, {'0', '9'}, {'-', '-'}, {0x80, 0x2FF}, {0x370, 0x52F},
      {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3}, {0x10000, 0x10FFFF}};
  std::uniform_int_distribution<std::size_t> pick(0, ranges.size() - 1);
  std::uniform_int_distribution<int> length(0, 40);
  for (int n = 0; n < 5000; ++n) {
    std::u32string s;
    for (int k = length(rng); k > 0; --k) {
      const auto [lo, hi] = ranges[pick(rng)];
      char32_t c = std::uniform_int_distribution<char32_t>(lo, hi)(rng);
      if (c >= 0xD800 && c <= 0xDFFF) c = 0xE000;
      s.push_back(c);
    }
    const auto encoded = encode(s);
    ASSERT_TRUE(encoded);
    for (char c : *encoded) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
    ASSERT_EQ(decode(*encoded), s);
  }
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// The cheap length bound is never below the real length, for labels of
// every shape: basic only, one script, code points spread over all planes.
TEST(Punycode, LengthBoundHolds) {
  std::mt19937 rng(63);
  const std::vector<std::pair<char32_t, char32_t>> ranges = {
      {'a', 'z'}, {0x80, 0xFF}, {0x400, 0x4FF}, {0x4E00, 0x9FFF}, {0x80, 0x10FFFF}};
  std::uniform_int_distribution<std::size_t> pick(0, ranges.size() - 1);
  std::uniform_int_distribution<int> length(1, 70);
  std::size_t tight = 0;
  for (int n = 0; n < 20000; ++n) {
    std::u32string s;
    char32_t largest = 0;
    std::size_t basic = 0;
    const auto [lo, hi] = ranges[pick(rng)];
    for (int k = length(rng); k > 0; --k) {
      char32_t c = std::uniform_int_distribution<char32_t>(n % 3 == 0 ? 'a' : lo, hi)(rng);
      if (c >= 0xD800 && c <= 0xDFFF) c = 0xE000;
      s.push_back(c);
      largest = std::max(largest, c);
      basic += c < 0x80;
    }
    const auto encoded = encode(s);
    ASSERT_TRUE(encoded);
    const std::size_t bound = punycode::encoded_length_bound(s.size(), basic, largest);
    ASSERT_GE(bound, encoded->size()) << n;
    tight += bound <= 59 && encoded->size() <= 59;
  }
  EXPECT_GT(tight, 1000u);
  EXPECT_EQ(punycode::encoded_length_bound(3, 3, 'c'), 4u);  // "abc-"
}

// The digit count the bound uses, against dividing by ten, on both sides of
// every power of ten and of two, and on random values of every width.
TEST(Punycode, DecimalDigitsMatchRepeatedDivision) {
  auto by_division = [](std::uint64_t x) {
    std::size_t d = 0;
    for (; x > 0; x /= 10) ++d;
    return d;
  };
  std::vector<std::uint64_t> values = {1, UINT64_MAX};
  for (std::uint64_t p = 1; p <= UINT64_MAX / 10; p *= 10) {
    values.insert(values.end(), {p - 1, p, p + 1, p * 10 - 1});
  }
  for (int b = 1; b < 64; ++b) {
    const std::uint64_t p = std::uint64_t{1} << b;
    values.insert(values.end(), {p - 1, p, p + 1});
  }
  std::mt19937_64 rng(5891);
  for (int n = 0; n < 100000; ++n) values.push_back(rng() >> (n % 64) | 1);
  for (std::uint64_t x : values) {
    if (x == 0) continue;
    ASSERT_EQ(punycode::decimal_digits(x), by_division(x)) << x;
  }
}

}  // namespace
}  // namespace quorvel

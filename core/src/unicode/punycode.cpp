#include "unicode/punycode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>

namespace quorvel::unicode::punycode {
namespace {

// The Punycode parameters of RFC 3492 section 5.
constexpr std::uint32_t kBase = 36;
constexpr std::uint32_t kTMin = 1;
constexpr std::uint32_t kTMax = 26;
constexpr std::uint32_t kSkew = 38;
constexpr std::uint32_t kDamp = 700;
constexpr std::uint32_t kInitialBias = 72;
constexpr std::uint32_t kInitialN = 0x80;
constexpr char kDelimiter = '-';
constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();

// Bias adaptation, RFC 3492 section 6.1.
std::uint32_t adapt(std::uint32_t delta, std::uint32_t points, bool first) noexcept {
  delta = first ? delta / kDamp : delta / 2;
  delta += delta / points;
  std::uint32_t k = 0;
  while (delta > ((kBase - kTMin) * kTMax) / 2) {
    delta /= kBase - kTMin;
    k += kBase;
  }
  return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

std::uint32_t threshold(std::uint32_t k, std::uint32_t bias) noexcept {
  if (k <= bias) return kTMin;
  if (k >= bias + kTMax) return kTMax;
  return k - bias;
}

// The value of a digit, or kBase for a character that is none.
std::uint32_t digit_value(char c) noexcept {
  if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0') + 26;
  if (c >= 'a' && c <= 'z') return static_cast<std::uint32_t>(c - 'a');
  if (c >= 'A' && c <= 'Z') return static_cast<std::uint32_t>(c - 'A');
  return kBase;
}

char digit_char(std::uint32_t d) noexcept {
  return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26));
}

bool is_scalar_value(std::uint32_t c) noexcept {
  return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

}  // namespace

std::optional<std::size_t> decode(std::string_view in, std::span<char32_t> out) noexcept {
  // Basic code points stand before the last delimiter, if any.
  const std::size_t delimiter = in.rfind(kDelimiter);
  std::size_t length = 0;
  std::size_t pos = 0;
  if (delimiter != std::string_view::npos && delimiter > 0) {
    if (delimiter > out.size()) return std::nullopt;
    for (; length < delimiter; ++length) {
      const auto c = static_cast<unsigned char>(in[length]);
      if (c >= 0x80) return std::nullopt;
      out[length] = c;
    }
    pos = delimiter + 1;
  }

  std::uint32_t n = kInitialN;
  std::uint32_t i = 0;
  std::uint32_t bias = kInitialBias;
  while (pos < in.size()) {
    const std::uint32_t old_i = i;
    std::uint32_t w = 1;
    for (std::uint32_t k = kBase;; k += kBase) {
      if (pos >= in.size()) return std::nullopt;
      const std::uint32_t digit = digit_value(in[pos++]);
      if (digit >= kBase) return std::nullopt;
      if (digit > (kMax - i) / w) return std::nullopt;
      i += digit * w;
      const std::uint32_t t = threshold(k, bias);
      if (digit < t) break;
      if (w > kMax / (kBase - t)) return std::nullopt;
      w *= kBase - t;
    }
    const auto points = static_cast<std::uint32_t>(length + 1);
    bias = adapt(i - old_i, points, old_i == 0);
    if (i / points > kMax - n) return std::nullopt;
    n += i / points;
    i %= points;
    // n starts past ASCII and only grows, so an inserted code point is never
    // basic; it must still be one UTF-8 can carry.
    if (!is_scalar_value(n)) return std::nullopt;
    if (length == out.size()) return std::nullopt;
    std::copy_backward(out.begin() + i, out.begin() + static_cast<std::ptrdiff_t>(length),
                       out.begin() + static_cast<std::ptrdiff_t>(length) + 1);
    out[i] = n;
    ++length;
    ++i;
  }
  return length;
}

std::optional<std::size_t> encode(std::span<const char32_t> in, std::span<char> out) noexcept {
  std::size_t written = 0;
  auto put = [&](char c) {
    if (written == out.size()) return false;
    out[written++] = c;
    return true;
  };
  for (char32_t c : in) {
    if (c < kInitialN && !put(static_cast<char>(c))) return std::nullopt;
  }
  const auto basic = static_cast<std::uint32_t>(written);
  if (basic > 0 && !put(kDelimiter)) return std::nullopt;

  std::uint32_t n = kInitialN;
  std::uint32_t delta = 0;
  std::uint32_t bias = kInitialBias;
  auto handled = basic;
  while (handled < in.size()) {
    // The smallest code point not yet handled.
    std::uint32_t m = kMax;
    for (char32_t c : in) {
      if (c >= n && c < m) m = c;
    }
    if (m - n > (kMax - delta) / (handled + 1)) return std::nullopt;
    delta += (m - n) * (handled + 1);
    n = m;
    for (char32_t c : in) {
      if (c < n && ++delta == 0) return std::nullopt;
      if (c != n) continue;
      std::uint32_t q = delta;
      for (std::uint32_t k = kBase;; k += kBase) {
        const std::uint32_t t = threshold(k, bias);
        if (q < t) break;
        if (!put(digit_char(t + (q - t) % (kBase - t)))) return std::nullopt;
        q = (q - t) / (kBase - t);
      }
      if (!put(digit_char(q))) return std::nullopt;
      bias = adapt(delta, handled + 1, handled == basic);
      delta = 0;
      ++handled;
    }
    ++delta;
    ++n;
  }
  return written;
}

// The count of decimal digits of x >= 1, without a division per digit (the
// bound is taken for every non-ASCII label of the one-pass domain route):
// t = bit_width(x) * 1233 / 4096 is floor(log10(2^bit_width(x))), and x has
// t or t + 1 digits: one comparison with 10^t tells which.
std::size_t decimal_digits(std::uint64_t x) noexcept {
  static constexpr auto kPowers = [] {
    std::array<std::uint64_t, 20> p{};
    p[0] = 1;
    for (std::size_t k = 1; k < p.size(); ++k) p[k] = p[k - 1] * 10;
    return p;
  }();
  const unsigned t = (static_cast<unsigned>(std::bit_width(x)) * 1233u) >> 12;
  return t + (x >= kPowers[t] ? 1 : 0);
}

// Why the bound holds. With L code points, N of them inserted (not basic)
// and b basic, the encoding is the b basic ones, a delimiter when b > 0,
// and one number per inserted code point.
//
// A number q takes at most 2 + log10(q) digits (1 when q = 0): every digit
// but the last divides what is left by 36 - t >= 10 (t <= 26), and is only
// written while what is left is at least t >= 1.
//
// The numbers add up to at most S = largest * L + N * (L + 1): delta only
// grows by (m - n) * (h + 1) when n moves up to the next code point m
// (together at most largest * L), by one per smaller code point passed in
// each of the at most N rounds (N * L), and by one at the end of each round
// (N); it is reset when a number is written.
//
// Since log10 is concave, N numbers adding up to at most S + N (counting a
// 0 as 1) take at most N * (2 + log10((S + N) / N)) digits, and the count of
// decimal digits of ceil((S + N) / N) is at least that logarithm.
std::size_t encoded_length_bound(std::size_t characters, std::size_t basic,
                                 char32_t largest) noexcept {
  const std::size_t inserted = characters - basic;
  const std::size_t literal = basic + (basic > 0 ? 1 : 0);
  if (inserted == 0) return literal;
  const auto l = static_cast<std::uint64_t>(characters);
  const auto n = static_cast<std::uint64_t>(inserted);
  // No overflow for any label a 64-bit size can count to 2^32 characters;
  // past that the bound says "too long".
  if (l > 0xFFFFFFFFu) return std::numeric_limits<std::size_t>::max();
  const std::uint64_t sum = static_cast<std::uint64_t>(largest) * l + n * (l + 1);
  const std::uint64_t average = (sum + n + n - 1) / n;
  return literal + static_cast<std::size_t>(n) * (2 + decimal_digits(average));
}

}  // namespace quorvel::unicode::punycode

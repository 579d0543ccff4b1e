// Strict UTF-8 decoding and encoding for the preparation code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel::utf8 {

inline constexpr char32_t kInvalid = 0xFFFFFFFF;

namespace detail {

// Four-byte sequences and every ill-formed one: rare, so kept out of line
// to leave the inlined part small. The position goes in by value and the
// length comes back with the code point (both in registers): a position
// passed by reference to an out-of-line call would have to live in memory in
// every caller's loop.
struct Decoded {
  char32_t c;
  std::uint32_t length;
};

[[gnu::noinline]] inline Decoded decode_rare(std::string_view s, std::size_t i) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  const unsigned char b0 = p[i];
  auto cont = [&](std::size_t k) { return i + k < n && (p[i + k] & 0xC0) == 0x80; };
  if (b0 >= 0xF0 && b0 <= 0xF4 && cont(1) && cont(2) && cont(3)) {
    const char32_t c = (char32_t(b0 & 0x07) << 18) | (char32_t(p[i + 1] & 0x3F) << 12) |
                       (char32_t(p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F);
    if (c >= 0x10000 && c <= 0x10FFFF) return {c, 4};
  }
  return {kInvalid, 1};
}

}  // namespace detail

// Decodes one code point at s[i] and advances i. Returns kInvalid for any
// ill-formed sequence (overlong forms, surrogates, values past U+10FFFF,
// truncation); i then advances by one byte so that callers never loop.
// Every preparation loop runs through here once per code point, so the
// one-, two- and three-byte forms (all of the BMP) are decoded inline.
[[gnu::always_inline]] inline char32_t decode(std::string_view s, std::size_t& i) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char b0 = p[i];
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  const std::size_t left = s.size() - i;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (left >= 2 && (p[i + 1] & 0xC0) == 0x80) {
      const char32_t c = (char32_t(b0 & 0x1F) << 6) | (p[i + 1] & 0x3F);
      i += 2;
      return c;
    }
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (left >= 3 && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80) {
      const char32_t c = (char32_t(b0 & 0x0F) << 12) | (char32_t(p[i + 1] & 0x3F) << 6) |
                         (p[i + 2] & 0x3F);
      // Not overlong, not a surrogate.
      if (c >= 0x800 && (c - 0xD800) >= 0x800) {
        i += 3;
        return c;
      }
    }
  }
  const detail::Decoded d = detail::decode_rare(s, i);
  i += d.length;
  return d.c;
}

// Whether all of `s` is well-formed UTF-8.
inline bool is_well_formed(std::string_view s) noexcept {
  for (std::size_t i = 0; i < s.size();) {
    if (decode(s, i) == kInvalid) return false;
  }
  return true;
}

// The UTF-8 bytes of code point c (at most U+10FFFF, no surrogate) into
// out[0, 4); returns how many. The core's only encoder.
inline std::size_t encode(char32_t c, char* out) noexcept {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

inline void append(std::string& out, char32_t c) {
  char b[4];
  out.append(b, encode(c, b));
}

}  // namespace quorvel::utf8

// Byte scans on the hot path: finding the separators of an address and
// telling whether a text is plain ASCII. SSE2 where the target has it (every
// x86-64), a word-at-a-time twin elsewhere and in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "simd/isa.h"

namespace quorvel::scan {

namespace detail {
inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Non-zero in the high bit of every byte of w equal to b (exact, no false
// positives: the classic has-zero-byte test made carry-free).
inline std::uint64_t bytes_equal(std::uint64_t w, unsigned char b) noexcept {
  const std::uint64_t x = w ^ (kOnes * b);
  return ~(((x & ~kHighs) + ~kHighs) | x) & kHighs;
}

// The byte-at-a-time end of every find_separator variant: p[i, n).
inline std::size_t find_separator_bytes(const char* p, std::size_t i, std::size_t n) noexcept {
  for (; i < n; ++i) {
    if (p[i] == '@' || p[i] == '/') return i;
  }
  return std::string_view::npos;
}

}  // namespace detail

// Each scan comes as a portable twin (words: eight bytes at a time in a
// 64-bit integer, or a byte at a time) and an SSE2 kernel; the plain name is
// the one the core calls, fixed at compile time. The tests hold every
// variant to the same answers.

// Index of the first "@" or "/" at or after `from`, or npos.
inline std::size_t find_separator_words(std::string_view s, std::size_t from) noexcept {
  const char* p = s.data();
  const std::size_t n = s.size();
  std::size_t i = from;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    const std::uint64_t m = detail::bytes_equal(w, '@') | detail::bytes_equal(w, '/');
    if (m != 0) {
      for (std::size_t k = 0; k < 8; ++k) {
        if (p[i + k] == '@' || p[i + k] == '/') return i + k;
      }
    }
  }
  return detail::find_separator_bytes(p, i, n);
}

// True when every byte is below 0x80.
inline bool is_ascii_words(std::string_view s) noexcept {
  const char* p = s.data();
  const std::size_t n = s.size();
  std::size_t i = 0;
  std::uint64_t acc64 = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    acc64 |= w;
  }
  if (acc64 & detail::kHighs) return false;
  for (; i < n; ++i) {
    if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
  }
  return true;
}

// True when every byte is printable ASCII (0x20 to 0x7E): exactly the bytes
// that resourceprep keeps as they are on ASCII text.
inline bool is_printable_ascii_bytes(std::string_view s) noexcept {
  for (const char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b > 0x7E) return false;
  }
  return true;
}

#if defined(QUORVEL_HAVE_X86_SIMD)

inline std::size_t find_separator_sse2(std::string_view s, std::size_t from) noexcept {
  const char* p = s.data();
  const std::size_t n = s.size();
  std::size_t i = from;
  const __m128i at = _mm_set1_epi8('@');
  const __m128i slash = _mm_set1_epi8('/');
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const int mask =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, at), _mm_cmpeq_epi8(v, slash)));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
  return detail::find_separator_bytes(p, i, n);
}

inline bool is_ascii_sse2(std::string_view s) noexcept {
  const char* p = s.data();
  const std::size_t n = s.size();
  std::size_t i = 0;
  __m128i acc = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    acc = _mm_or_si128(acc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
  }
  if (_mm_movemask_epi8(acc) != 0) return false;
  return is_ascii_words(std::string_view(p + i, n - i));
}

inline bool is_printable_ascii_sse2(std::string_view s) noexcept {
  const char* p = s.data();
  const std::size_t n = s.size();
  std::size_t i = 0;
  // Signed compares: bytes from 0x80 up are negative and fail the first.
  const __m128i low = _mm_set1_epi8(0x1F);
  const __m128i high = _mm_set1_epi8(0x7F);
  __m128i ok = _mm_set1_epi8(-1);
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    ok = _mm_and_si128(ok, _mm_and_si128(_mm_cmpgt_epi8(v, low), _mm_cmplt_epi8(v, high)));
  }
  if (n >= 16 && i != n) {
    // The last sixteen bytes again, overlapping: never past the text.
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16));
    ok = _mm_and_si128(ok, _mm_and_si128(_mm_cmpgt_epi8(v, low), _mm_cmplt_epi8(v, high)));
    i = n;
  }
  if (_mm_movemask_epi8(ok) != 0xFFFF) return false;
  return is_printable_ascii_bytes(std::string_view(p + i, n - i));
}

inline std::size_t find_separator(std::string_view s, std::size_t from) noexcept {
  return find_separator_sse2(s, from);
}
inline bool is_ascii(std::string_view s) noexcept { return is_ascii_sse2(s); }
inline bool is_printable_ascii(std::string_view s) noexcept { return is_printable_ascii_sse2(s); }

#else

inline std::size_t find_separator(std::string_view s, std::size_t from) noexcept {
  return find_separator_words(s, from);
}
inline bool is_ascii(std::string_view s) noexcept { return is_ascii_words(s); }
inline bool is_printable_ascii(std::string_view s) noexcept { return is_printable_ascii_bytes(s); }

#endif

// Index of the first backslash at or after `from`, or npos.
inline std::size_t find_backslash(std::string_view s, std::size_t from) noexcept {
  if (from >= s.size()) return std::string_view::npos;
  const void* hit = std::memchr(s.data() + from, '\\', s.size() - from);
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s.data())
             : std::string_view::npos;
}

}  // namespace quorvel::scan

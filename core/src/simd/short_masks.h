// The byte classes of a short text (at most 64 bytes, nearly every real
// address) in one pass, as 64-bit masks: bit i of each mask describes byte
// i. The plain-ASCII fast path (ascii_address.cpp) answers every question it
// has from these masks with a handful of integer operations, instead of a
// branch per byte or per class.
//
// Three classifiers give the same masks: SSE2, the baseline of x86-64; AVX2,
// 32 bytes at a time with three-operand instructions, for processors that
// have it (the fast path is compiled once for each and picks at run time);
// and a byte table for other targets and for the tests. They are inline so
// that each is compiled into the code that uses it, with that code's target.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/isa.h"

namespace quorvel::ascii {

inline constexpr std::size_t kShortMax = 64;

struct ShortMasks {
  std::uint64_t separator;  // "@" or "/"
  std::uint64_t dot;        // "."
  std::uint64_t hyphen;     // "-"
  std::uint64_t capital;    // A-Z
  // Letters, digits and "@", "/", ".", "-", "_": bytes no part ever refuses
  // or changes beyond folding capitals. Any other byte ("odd": punctuation,
  // the space, controls, bytes >= 0x80) is rare in real addresses, and the
  // fast path judges each one on its own.
  std::uint64_t plain;
  // "_": plain for stringprep, which lets a domain hold it, but refused in a
  // domain by the STD3 rules of IDNA2008 that RFC 7622 applies.
  std::uint64_t underscore;

  friend bool operator==(const ShortMasks&, const ShortMasks&) = default;
};

// ---- byte at a time -----------------------------------------------------------

namespace detail {

enum ByteClass : std::uint8_t { kIsSep = 1, kIsDot = 2, kIsHyphen = 4, kIsCapital = 8, kIsPlain = 16,
                          kIsUnderscore = 32 };

inline constexpr std::array<std::uint8_t, 256> kByteClasses = [] {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t c = 0;
    const bool digit = b >= '0' && b <= '9';
    const bool upper = b >= 'A' && b <= 'Z';
    const bool lower = b >= 'a' && b <= 'z';
    if (b == '@' || b == '/') c |= kIsSep;
    if (b == '.') c |= kIsDot;
    if (b == '-') c |= kIsHyphen;
    if (upper) c |= kIsCapital;
    if (b == '_') c |= kIsUnderscore;
    if (digit || upper || lower || b == '@' || b == '/' || b == '.' || b == '-' || b == '_') {
      c |= kIsPlain;
    }
    t[static_cast<std::size_t>(b)] = c;
  }
  return t;
}();

}  // namespace detail

// text[0, n), n <= kShortMax. Every bit at or above n is zero.
inline ShortMasks classify_bytes(const char* text, std::size_t n) noexcept {
  ShortMasks m{};
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t c = detail::kByteClasses[static_cast<unsigned char>(text[i])];
    const std::uint64_t bit = std::uint64_t{1} << i;
    if (c & detail::kIsSep) m.separator |= bit;
    if (c & detail::kIsDot) m.dot |= bit;
    if (c & detail::kIsHyphen) m.hyphen |= bit;
    if (c & detail::kIsCapital) m.capital |= bit;
    if (c & detail::kIsPlain) m.plain |= bit;
    if (c & detail::kIsUnderscore) m.underscore |= bit;
  }
  return m;
}

#if defined(QUORVEL_HAVE_X86_SIMD)

namespace detail {

// Range tests on signed bytes: x in [lo, hi] exactly when x + (0x80 - lo),
// read as a signed byte, is below -128 + (hi - lo + 1). One add and one
// compare per range; bytes from 0x80 up fall outside every range.
constexpr char bias(int lo) { return static_cast<char>(0x80 - lo); }
constexpr char limit(int lo, int hi) { return static_cast<char>(-128 + (hi - lo + 1)); }

// The bytes the classifiers compare with, each repeated 32 times. They are
// read from memory through a pointer the compiler cannot see through:
// otherwise it folds the loads back into building each value in registers,
// two or three instructions apiece, which was most of the cost of
// classifying a block.
enum Constant : unsigned {
  kAt, kSlash, kDot, kHyphen, kUnderscore, kDigitBias, kDigitLimit, kUpperBias, kUpperLimit,
  kLowerBias, kLowerLimit, kConstantCount
};

struct alignas(32) ConstantTable {
  char bytes[kConstantCount][32];
};

inline constexpr char kConstantValues[kConstantCount] = {
    '@', '/', '.', '-', '_', bias('0'), limit('0', '9'), bias('A'), limit('A', 'Z'),
    bias('a'), limit('a', 'z')};

inline constexpr ConstantTable kConstants = [] {
  ConstantTable t{};
  for (unsigned c = 0; c < kConstantCount; ++c) {
    for (char& b : t.bytes[c]) b = kConstantValues[c];
  }
  return t;
}();

// What block16 and block32 compute for byte b, with the same wrapping add
// and signed compare, in constant arithmetic.
constexpr bool simd_equal(int b, Constant c) { return static_cast<char>(b) == kConstantValues[c]; }
constexpr bool simd_in_range(int b, Constant bias_of, Constant limit_of) {
  const auto sum = static_cast<signed char>(static_cast<unsigned char>(
      static_cast<unsigned char>(b) + static_cast<unsigned char>(kConstantValues[bias_of])));
  return sum < static_cast<signed char>(kConstantValues[limit_of]);
}
constexpr std::uint8_t simd_classes(int b) {
  const bool sep = simd_equal(b, kAt) || simd_equal(b, kSlash);
  const bool upper = simd_in_range(b, kUpperBias, kUpperLimit);
  const bool plain = simd_in_range(b, kDigitBias, kDigitLimit) || upper ||
                     simd_in_range(b, kLowerBias, kLowerLimit) || sep || simd_equal(b, kDot) ||
                     simd_equal(b, kHyphen) || simd_equal(b, kUnderscore);
  return static_cast<std::uint8_t>((sep ? kIsSep : 0) | (simd_equal(b, kDot) ? kIsDot : 0) |
                                   (simd_equal(b, kHyphen) ? kIsHyphen : 0) |
                                   (upper ? kIsCapital : 0) | (plain ? kIsPlain : 0) |
                                   (simd_equal(b, kUnderscore) ? kIsUnderscore : 0));
}
constexpr bool constants_encode_the_byte_table() {
  for (int b = 0; b < 256; ++b) {
    if (simd_classes(b) != kByteClasses[static_cast<std::size_t>(b)]) return false;
  }
  return true;
}
static_assert(constants_encode_the_byte_table(),
              "the SIMD classifiers' constants must give every byte the class of kByteClasses");

QUORVEL_ALWAYS_INLINE const ConstantTable* opaque_constants() noexcept {
  const ConstantTable* table = &kConstants;
  asm("" : "+r"(table));
  return table;
}

// The masks of one 16- or 32-byte block, before they are placed.
struct BlockMasks {
  std::uint32_t separator, dot, hyphen, capital, plain, underscore;
};

QUORVEL_ALWAYS_INLINE __m128i get16(const ConstantTable* t, Constant c) noexcept {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(t->bytes[c]));
}
QUORVEL_ALWAYS_INLINE __m128i in_range16(__m128i v, const ConstantTable* t, Constant bias,
                                         Constant limit) noexcept {
  return _mm_cmplt_epi8(_mm_add_epi8(v, get16(t, bias)), get16(t, limit));
}
QUORVEL_ALWAYS_INLINE __m128i eq16(__m128i v, const ConstantTable* t, Constant c) noexcept {
  return _mm_cmpeq_epi8(v, get16(t, c));
}
QUORVEL_ALWAYS_INLINE std::uint32_t bits16(__m128i x) noexcept {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(x));
}

QUORVEL_ALWAYS_INLINE BlockMasks block16(__m128i v, const ConstantTable* t) noexcept {
  const __m128i upper = in_range16(v, t, kUpperBias, kUpperLimit);
  const __m128i sep = _mm_or_si128(eq16(v, t, kAt), eq16(v, t, kSlash));
  const __m128i dot = eq16(v, t, kDot);
  const __m128i hyphen = eq16(v, t, kHyphen);
  const __m128i underscore = eq16(v, t, kUnderscore);
  const __m128i plain =
      _mm_or_si128(_mm_or_si128(_mm_or_si128(in_range16(v, t, kDigitBias, kDigitLimit), upper),
                                _mm_or_si128(in_range16(v, t, kLowerBias, kLowerLimit), sep)),
                   _mm_or_si128(_mm_or_si128(dot, hyphen), underscore));
  return {bits16(sep),   bits16(dot),   bits16(hyphen),
          bits16(upper), bits16(plain), bits16(underscore)};
}

QUORVEL_AVX2_INLINE __m256i get32(const ConstantTable* t, Constant c) noexcept {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(t->bytes[c]));
}
QUORVEL_AVX2_INLINE __m256i in_range32(__m256i v, const ConstantTable* t, Constant bias,
                                       Constant limit) noexcept {
  return _mm256_cmpgt_epi8(get32(t, limit), _mm256_add_epi8(v, get32(t, bias)));
}
QUORVEL_AVX2_INLINE __m256i eq32(__m256i v, const ConstantTable* t, Constant c) noexcept {
  return _mm256_cmpeq_epi8(v, get32(t, c));
}
QUORVEL_AVX2_INLINE std::uint32_t bits32(__m256i x) noexcept {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(x));
}

QUORVEL_AVX2_INLINE BlockMasks block32(__m256i v, const ConstantTable* t) noexcept {
  const __m256i upper = in_range32(v, t, kUpperBias, kUpperLimit);
  const __m256i sep = _mm256_or_si256(eq32(v, t, kAt), eq32(v, t, kSlash));
  const __m256i dot = eq32(v, t, kDot);
  const __m256i hyphen = eq32(v, t, kHyphen);
  const __m256i underscore = eq32(v, t, kUnderscore);
  const __m256i plain = _mm256_or_si256(
      _mm256_or_si256(_mm256_or_si256(in_range32(v, t, kDigitBias, kDigitLimit), upper),
                      _mm256_or_si256(in_range32(v, t, kLowerBias, kLowerLimit), sep)),
      _mm256_or_si256(_mm256_or_si256(dot, hyphen), underscore));
  return {bits32(sep),   bits32(dot),   bits32(hyphen),
          bits32(upper), bits32(plain), bits32(underscore)};
}

// Two blocks' masks as one: `high`'s bit k describes byte `shift` + k. A
// block read again over bytes already classified (the last block of a text
// whose size is no multiple of the block size) sets the same bits again, so
// OR-ing is right for overlapping blocks too.
QUORVEL_ALWAYS_INLINE std::uint64_t join(std::uint32_t low, std::uint32_t high,
                                          unsigned shift) noexcept {
  return std::uint64_t{low} | (std::uint64_t{high} << shift);
}

QUORVEL_ALWAYS_INLINE ShortMasks join(const BlockMasks& low, const BlockMasks& high,
                                      unsigned shift) noexcept {
  return {join(low.separator, high.separator, shift), join(low.dot, high.dot, shift),
          join(low.hyphen, high.hyphen, shift), join(low.capital, high.capital, shift),
          join(low.plain, high.plain, shift), join(low.underscore, high.underscore, shift)};
}

QUORVEL_ALWAYS_INLINE ShortMasks widen(const BlockMasks& b) noexcept {
  return {b.separator, b.dot, b.hyphen, b.capital, b.plain, b.underscore};
}

// A text shorter than sixteen bytes, copied into a zeroed block. The zero
// bytes past the text belong to no class, so the bits past n stay clear.
QUORVEL_ALWAYS_INLINE __m128i load_padded(const char* text, std::size_t n) noexcept {
  alignas(16) unsigned char bytes[16] = {};
  if (n != 0) std::memcpy(bytes, text, n);
  return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
}

QUORVEL_ALWAYS_INLINE __m128i load16(const char* p) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace detail

// ---- SSE2 ----------------------------------------------------------------------

// A short text in 16-byte blocks: one padded copy below 16 bytes; up to 32,
// the first and the last sixteen (overlapping unless n is 32); beyond, the
// first 32, the last sixteen, and sixteen from byte 32 when the text has
// them (the last sixteen once more when it does not). Never a byte outside
// the text.
struct Sse2Blocks {
  __m128i b[4];
};

QUORVEL_ALWAYS_INLINE std::size_t third_block(std::size_t n) noexcept {
  return n >= 48 ? 32 : n - 16;
}

QUORVEL_ALWAYS_INLINE Sse2Blocks load_sse2(const char* text, std::size_t n) noexcept {
  using namespace detail;
  Sse2Blocks s;
  if (n < 16) {
    s.b[0] = load_padded(text, n);
  } else if (n <= 32) {
    s.b[0] = load16(text);
    s.b[1] = load16(text + n - 16);
  } else {
    s.b[0] = load16(text);
    s.b[1] = load16(text + 16);
    s.b[2] = load16(text + third_block(n));
    s.b[3] = load16(text + n - 16);
  }
  return s;
}

QUORVEL_ALWAYS_INLINE ShortMasks classify(const Sse2Blocks& s, std::size_t n) noexcept {
  using namespace detail;
  const ConstantTable* t = opaque_constants();
  if (n < 16) return widen(block16(s.b[0], t));
  const unsigned tail = static_cast<unsigned>(n - 16);
  if (n <= 32) return join(block16(s.b[0], t), block16(s.b[1], t), tail);
  // The last two blocks start anywhere from byte 17 to 47: each goes to
  // its own place.
  ShortMasks m = join(block16(s.b[0], t), block16(s.b[1], t), 16);
  const BlockMasks third = block16(s.b[2], t);
  const BlockMasks last = block16(s.b[3], t);
  const unsigned third_at = static_cast<unsigned>(third_block(n));
  auto add = [tail, third_at](std::uint64_t& mask, std::uint32_t at_third, std::uint32_t at_tail) {
    mask |= (std::uint64_t{at_third} << third_at) | (std::uint64_t{at_tail} << tail);
  };
  add(m.separator, third.separator, last.separator);
  add(m.dot, third.dot, last.dot);
  add(m.hyphen, third.hyphen, last.hyphen);
  add(m.capital, third.capital, last.capital);
  add(m.plain, third.plain, last.plain);
  add(m.underscore, third.underscore, last.underscore);
  return m;
}

// Writes the n bytes of the text to dst from the registers.
QUORVEL_ALWAYS_INLINE void store(char* dst, const Sse2Blocks& s, const char* text,
                                 std::size_t n) noexcept {
  auto put = [dst](std::size_t at, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + at), v);
  };
  if (n < 16) {
    if (n != 0) std::memcpy(dst, text, n);
  } else if (n <= 32) {
    put(0, s.b[0]);
    put(n - 16, s.b[1]);
  } else {
    put(0, s.b[0]);
    put(16, s.b[1]);
    put(third_block(n), s.b[2]);
    put(n - 16, s.b[3]);
  }
}

QUORVEL_ALWAYS_INLINE ShortMasks classify_sse2(const char* text, std::size_t n) noexcept {
  return classify(load_sse2(text, n), n);
}

// Whether a byte of the text is 0x80 or above, from the loaded blocks (the
// padding is zeros and the overlapping blocks hold text bytes only).
QUORVEL_ALWAYS_INLINE bool any_high(const Sse2Blocks& s, std::size_t n) noexcept {
  __m128i v = s.b[0];
  if (n >= 16) v = _mm_or_si128(v, s.b[1]);
  if (n > 32) v = _mm_or_si128(v, _mm_or_si128(s.b[2], s.b[3]));
  return _mm_movemask_epi8(v) != 0;
}

// The separator mask alone ("@" and "/"), as classify() gives it, for a
// text the fast path leaves to the general path, which splits it by this.
QUORVEL_ALWAYS_INLINE std::uint64_t separators(const Sse2Blocks& s, std::size_t n) noexcept {
  using namespace detail;
  const ConstantTable* t = opaque_constants();
  auto sep = [t](__m128i v) {
    return bits16(_mm_or_si128(eq16(v, t, kAt), eq16(v, t, kSlash)));
  };
  if (n < 16) return sep(s.b[0]);
  const unsigned tail = static_cast<unsigned>(n - 16);
  if (n <= 32) return join(sep(s.b[0]), sep(s.b[1]), tail);
  return join(sep(s.b[0]), sep(s.b[1]), 16) |
         (std::uint64_t{sep(s.b[2])} << third_block(n)) | (std::uint64_t{sep(s.b[3])} << tail);
}

// ---- AVX2 ----------------------------------------------------------------------

// A short text in 32-byte registers: up to 32 bytes in one (from 16 to 31,
// the last sixteen moved into place behind the first sixteen with a
// shuffle, zeros after the text), up to 63 in two overlapping ones.
struct Avx2Blocks {
  __m256i v0, v1;
  __m128i low, high;  // the 16-byte loads behind v0 for texts of 16 to 32 bytes
};

namespace detail {

// Shuffle indices: reading 16 of them from offset s moves byte s + j of a
// block to place j, and zeroes the places past the block's end.
struct alignas(32) ShiftTable {
  unsigned char bytes[32];
};
inline constexpr ShiftTable kShift = [] {
  ShiftTable t{};
  for (int k = 0; k < 32; ++k) t.bytes[k] = k < 16 ? static_cast<unsigned char>(k) : 0x80;
  return t;
}();

}  // namespace detail

QUORVEL_AVX2_INLINE Avx2Blocks load_avx2(const char* text, std::size_t n) noexcept {
  using namespace detail;
  Avx2Blocks a;
  if (n < 16) {
    a.low = load_padded(text, n);
  } else if (n <= 32) {
    a.low = load16(text);
    a.high = load16(text + n - 16);
    // Byte 16 + j of the text is byte (32 - n) + j of `high`.
    const __m128i moved =
        _mm_shuffle_epi8(a.high, _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                     kShift.bytes + (32 - n))));
    a.v0 = _mm256_set_m128i(moved, a.low);
  } else {
    a.v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text));
    a.v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + n - 32));
  }
  return a;
}

QUORVEL_AVX2_INLINE ShortMasks classify(const Avx2Blocks& a, std::size_t n) noexcept {
  using namespace detail;
  const ConstantTable* t = opaque_constants();
  if (n < 16) return widen(block16(a.low, t));
  if (n <= 32) return widen(block32(a.v0, t));
  return join(block32(a.v0, t), block32(a.v1, t), static_cast<unsigned>(n - 32));
}

QUORVEL_AVX2_INLINE void store(char* dst, const Avx2Blocks& a, const char* text,
                               std::size_t n) noexcept {
  if (n < 16) {
    if (n != 0) std::memcpy(dst, text, n);
  } else if (n <= 32) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), a.low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16), a.high);
  } else {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), a.v0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + n - 32), a.v1);
  }
}

QUORVEL_AVX2_INLINE ShortMasks classify_avx2(const char* text, std::size_t n) noexcept {
  return classify(load_avx2(text, n), n);
}

QUORVEL_AVX2_INLINE bool any_high(const Avx2Blocks& a, std::size_t n) noexcept {
  if (n < 16) return _mm_movemask_epi8(a.low) != 0;
  if (n <= 32) return _mm256_movemask_epi8(a.v0) != 0;
  return _mm256_movemask_epi8(_mm256_or_si256(a.v0, a.v1)) != 0;
}

QUORVEL_AVX2_INLINE std::uint64_t separators(const Avx2Blocks& a, std::size_t n) noexcept {
  using namespace detail;
  const ConstantTable* t = opaque_constants();
  if (n < 16) return bits16(_mm_or_si128(eq16(a.low, t, kAt), eq16(a.low, t, kSlash)));
  const std::uint32_t first = bits32(_mm256_or_si256(eq32(a.v0, t, kAt), eq32(a.v0, t, kSlash)));
  if (n <= 32) return first;
  const std::uint32_t last = bits32(_mm256_or_si256(eq32(a.v1, t, kAt), eq32(a.v1, t, kSlash)));
  return join(first, last, static_cast<unsigned>(n - 32));
}

#endif  // QUORVEL_HAVE_X86_SIMD

}  // namespace quorvel::ascii

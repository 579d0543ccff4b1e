#include "text/uri_plain.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "simd/isa.h"  // has_avx2, and the x86 intrinsics where there are any

namespace quorvel::binding {
namespace {

// What an ASCII character is to a path of the plain shape (RFC 5122
// section 2.2): allowed as itself in every part (the unreserved characters
// and the localpart's sub-delimiters), in the domain and the resource only
// ("&" and "'"), in the resource only (":"), a separator, the start of an
// encoding or of the query, or refused anywhere (every byte beyond ASCII
// too: an IRI's characters go the general way).
enum Kind : std::uint8_t {
  kRefused, kPlain, kNotLocalpart, kResourceOnly, kAt, kSlash, kPercent, kQuery
};

constexpr std::array<std::uint8_t, 256> make_kinds() {
  std::array<std::uint8_t, 256> t{};
  auto set = [&t](std::string_view chars, Kind kind) {
    for (char c : chars) t[static_cast<unsigned char>(c)] = kind;
  };
  for (char c = 'a'; c <= 'z'; ++c) t[static_cast<unsigned char>(c)] = kPlain;
  for (char c = 'A'; c <= 'Z'; ++c) t[static_cast<unsigned char>(c)] = kPlain;
  for (char c = '0'; c <= '9'; ++c) t[static_cast<unsigned char>(c)] = kPlain;
  set("-._~!$()*+,;=", kPlain);
  set("&'", kNotLocalpart);
  set(":", kResourceOnly);
  set("@", kAt);
  set("/", kSlash);
  set("%", kPercent);
  set("?", kQuery);
  return t;
}

constexpr std::array<std::uint8_t, 256> kKinds = make_kinds();

Kind kind_of(char c) noexcept { return static_cast<Kind>(kKinds[static_cast<unsigned char>(c)]); }

constexpr bool alnum(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

constexpr int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

#if defined(QUORVEL_HAVE_X86_SIMD)
// The AVX2 route classifies sixteen or thirty-two bytes at a time by their
// two nibbles: class(b) = kLow[b & 15] & kHigh[b >> 4], each table a
// shuffle. Each bit of a class stands for a set of high nibbles times a set
// of low nibbles, so that between them the eight bits cover the plain
// bytes and the separators, and the two top bits are the separators alone:
//
//   bit 0  2_ x {1 4 8 9 A B C D E}   ! $ ( ) * + , - .
//   bit 1  3_ x {0-9 B D}             0-9 ; =
//   bit 2  4_ 6_ x {1-F}              A-O a-o
//   bit 3  5_ 7_ x {0-A}              P-Z p-z
//   bit 4  5_ x {F}                   _
//   bit 5  7_ x {E}                   ~
//   bit 6  2_ 3_ x {F}                / ?
//   bit 7  4_ x {0}                   @
//
// A byte from 0x80 up has a high nibble the table leaves at zero: no class.
struct NibbleSet {
  std::uint16_t high;  // bit h: high nibble h is in the set
  std::uint16_t low;   // bit l: low nibble l is in the set
};
constexpr NibbleSet kClassBits[8] = {
    {1 << 2, 0b0111'1111'0001'0010}, {1 << 3, 0b0010'1011'1111'1111},
    {1 << 4 | 1 << 6, 0xFFFE},       {1 << 5 | 1 << 7, 0b0000'0111'1111'1111},
    {1 << 5, 1 << 15},               {1 << 7, 1 << 14},
    {1 << 2 | 1 << 3, 1 << 15},      {1 << 4, 1 << 0},
};

struct alignas(32) NibbleTable {
  std::uint8_t bytes[32];  // the sixteen entries twice, one copy per 128-bit lane
};

constexpr NibbleTable nibble_table(bool high) {
  NibbleTable t{};
  for (int nibble = 0; nibble < 16; ++nibble) {
    std::uint8_t entry = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if (((high ? kClassBits[bit].high : kClassBits[bit].low) >> nibble) & 1) entry |= 1 << bit;
    }
    t.bytes[nibble] = t.bytes[nibble + 16] = entry;
  }
  return t;
}
constexpr NibbleTable kLow = nibble_table(false);
constexpr NibbleTable kHigh = nibble_table(true);

constexpr std::uint8_t nibble_class(unsigned char b) {
  return kLow.bytes[b & 15] & kHigh.bytes[b >> 4];
}

// The tables say exactly what the kind table says, for every byte.
constexpr bool nibble_classes_agree() {
  for (int b = 0; b < 256; ++b) {
    const Kind kind = static_cast<Kind>(kKinds[static_cast<std::size_t>(b)]);
    const std::uint8_t c = nibble_class(static_cast<unsigned char>(b));
    const bool usual = kind == kPlain || kind == kAt || kind == kSlash || kind == kQuery;
    if ((c != 0) != usual || ((c & 0x80) != 0) != (kind == kAt) ||
        ((c & 0x40) != 0) != (kind == kSlash || kind == kQuery)) {
      return false;
    }
  }
  return true;
}
static_assert(nibble_classes_agree());

// Bits, one a byte, of the bytes outside the plain bytes and separators
// ("odd"), and of each separator.
struct UsualMasks {
  std::uint64_t odd, at, slash_or_query, query;
};

QUORVEL_AVX2_INLINE std::uint64_t bits(__m128i m) noexcept {
  return static_cast<std::uint16_t>(_mm_movemask_epi8(m));
}
QUORVEL_AVX2_INLINE std::uint64_t bits(__m256i m) noexcept {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(m));
}

QUORVEL_AVX2_INLINE UsualMasks block_masks(__m128i v) noexcept {
  const __m128i nibbles = _mm_set1_epi8(0x0F);
  const __m128i low = _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(kLow.bytes)),
                                       _mm_and_si128(v, nibbles));
  const __m128i high = _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(kHigh.bytes)),
                                        _mm_and_si128(_mm_srli_epi16(v, 4), nibbles));
  const __m128i c = _mm_and_si128(low, high);
  // Bit 7 is the sign bit movemask reads; bit 6 is, once the class is
  // added to itself.
  return {bits(_mm_cmpeq_epi8(c, _mm_setzero_si128())), bits(c), bits(_mm_add_epi8(c, c)),
          bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('?')))};
}

QUORVEL_AVX2_INLINE UsualMasks block_masks(__m256i v) noexcept {
  const __m256i nibbles = _mm256_set1_epi8(0x0F);
  const __m256i low = _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(kLow.bytes)),
                                          _mm256_and_si256(v, nibbles));
  const __m256i high = _mm256_shuffle_epi8(
      _mm256_load_si256(reinterpret_cast<const __m256i*>(kHigh.bytes)),
      _mm256_and_si256(_mm256_srli_epi16(v, 4), nibbles));
  const __m256i c = _mm256_and_si256(low, high);
  return {bits(_mm256_cmpeq_epi8(c, _mm256_setzero_si256())), bits(c), bits(_mm256_add_epi8(c, c)),
          bits(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('?')))};
}

// The masks of n bytes, 16 <= n <= 64: the first block and the last one,
// which overlaps it (or the middle) and sets the same bits again there.
QUORVEL_AVX2_TARGET UsualMasks usual_masks(const char* p, std::size_t n) noexcept {
  UsualMasks first, last;
  std::size_t shift;
  if (n < 32) {
    first = block_masks(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    last = block_masks(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16)));
    shift = n - 16;
  } else {
    first = block_masks(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    last = block_masks(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + n - 32)));
    shift = n - 32;
  }
  return {first.odd | (last.odd << shift), first.at | (last.at << shift),
          first.slash_or_query | (last.slash_or_query << shift), first.query | (last.query << shift)};
}

// At most one bit set.
constexpr bool at_most_one(std::uint64_t bits) noexcept { return (bits & (bits - 1)) == 0; }
#endif

// The rules of the plain shape as a walk through the path, separator by
// separator. `next(i)` gives the index of the next byte from i on that is
// not plain (allowed as itself everywhere), or rest.size().
template <class Next>
bool split_with(std::string_view rest, PlainUri& out, Next next) noexcept {
  // The localpart allows a subset of what the domain does, so until an "@"
  // shows that there is a localpart the domain's set is the test, and an
  // "&" or "'" seen on the way rules the "@" out.
  enum class Part { LocalpartOrDomain, Domain, Resource };
  Part part = Part::LocalpartOrDomain;
  bool domain_only_seen = false;
  bool encoded = false;
  std::size_t path_end = rest.size();
  for (std::size_t i = next(0); i < rest.size(); i = next(i + 1)) {
    // The separators first, by how often they come.
    const Kind kind = kind_of(rest[i]);
    if (kind == kAt) {
      if (part != Part::LocalpartOrDomain || domain_only_seen) return false;
      part = Part::Domain;
    } else if (kind == kSlash) {
      if (part == Part::Resource) return false;
      part = Part::Resource;
    } else if (kind == kQuery) {
      // The Python parser reads a bare action as any query; an empty one,
      // a parameter or anything encoded goes its general way.
      const std::string_view action = rest.substr(i + 1);
      if (action.empty()) return false;
      for (char c : action) {
        if (!alnum(c)) return false;
      }
      out.action = action;
      path_end = i;
      break;
    } else if (kind == kPercent) {
      const int hi = i + 2 < rest.size() ? hex_value(rest[i + 1]) : -1;
      const int lo = hi >= 0 ? hex_value(rest[i + 2]) : -1;
      if (lo < 0) return false;
      // A decoded "@" or "/" would move where the address splits.
      const int decoded = (hi << 4) | lo;
      if (decoded == '@' || decoded == '/') return false;
      encoded = true;
      i += 2;  // hex digits: plain, so next() would pass them anyway
    } else if (kind == kNotLocalpart) {
      if (part == Part::LocalpartOrDomain) domain_only_seen = true;
    } else if (kind == kResourceOnly) {
      if (part != Part::Resource) return false;
    } else {
      return false;
    }
  }
  const std::string_view path = rest.substr(0, path_end);
  // An authority starts with "//", which no localpart or domain can.
  if (path.empty() || path.starts_with("//")) return false;
  out.path = path;
  out.encoded = encoded;
  return true;
}

bool starts_with_scheme(std::string_view uri) noexcept { return uri.starts_with("xmpp:"); }

}  // namespace

bool split_plain_uri_portable(std::string_view uri, PlainUri& out) noexcept {
  if (!starts_with_scheme(uri)) return false;
  const std::string_view rest = uri.substr(5);
  return split_with(rest, out, [rest](std::size_t from) {
    std::size_t i = from;
    while (i < rest.size() && kind_of(rest[i]) == kPlain) ++i;
    return i;
  });
}

bool split_plain_uri(std::string_view uri, PlainUri& out) noexcept {
#if defined(QUORVEL_HAVE_X86_SIMD)
  static const bool avx2 = ascii::has_avx2();
  const std::size_t n = uri.size() - std::min<std::size_t>(uri.size(), 5);
  if (!avx2 || n < 16 || n > 64 || !starts_with_scheme(uri)) return split_plain_uri_portable(uri, out);
  // The usual URI decided from the masks: at most one "@", then at most
  // one "/", and at most a "?" with a bare action after it; nothing else
  // outside the plain bytes but percent-encodings. The byte-at-a-time walk
  // instead has a loop between separators whose length depends on where
  // they are, and that was mispredicted at every separator. Anything else
  // goes to that walk, which decides it.
  const std::string_view rest = uri.substr(5);
  const UsualMasks m = usual_masks(rest.data(), n);
  const std::size_t path_end = m.query == 0 ? n : static_cast<std::size_t>(__builtin_ctzll(m.query));
  const std::uint64_t in_path = path_end == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << path_end) - 1;
  const std::uint64_t at = m.at & in_path;
  const std::uint64_t slash = m.slash_or_query & ~m.query & in_path;
  const bool usual = path_end != 0 && at_most_one(at) && at_most_one(slash) &&
                     (at == 0 || slash == 0 || at < slash);
  if (!usual) return split_plain_uri_portable(uri, out);
  // Percent-encodings (their hex digits are plain bytes) are the one odd
  // byte usual enough to take here, a branch each.
  bool encoded = false;
  for (std::uint64_t odd = m.odd & in_path; odd != 0; odd &= odd - 1) {
    const auto i = static_cast<std::size_t>(__builtin_ctzll(odd));
    const int hi = rest[i] == '%' && i + 2 < n ? hex_value(rest[i + 1]) : -1;
    const int lo = hi >= 0 ? hex_value(rest[i + 2]) : -1;
    const int decoded = lo < 0 ? -1 : (hi << 4) | lo;
    if (decoded < 0 || decoded == '@' || decoded == '/') return split_plain_uri_portable(uri, out);
    encoded = true;
  }
  const std::string_view action = path_end == n ? std::string_view() : rest.substr(path_end + 1);
  if (path_end != n) {
    if (action.empty()) return false;
    for (char c : action) {
      if (!alnum(c)) return false;
    }
  }
  out.path = rest.substr(0, path_end);
  out.action = action;
  out.encoded = encoded;
  return true;
#else
  return split_plain_uri_portable(uri, out);
#endif
}

std::size_t decode_plain_path(std::string_view path, char* out) noexcept {
  // Well-formed by now: every "%" starts two hex digits.
  std::size_t length = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '%') {
      out[length++] = static_cast<char>((hex_value(path[i + 1]) << 4) | hex_value(path[i + 2]));
      i += 2;
    } else {
      out[length++] = path[i];
    }
  }
  return length;
}

}  // namespace quorvel::binding

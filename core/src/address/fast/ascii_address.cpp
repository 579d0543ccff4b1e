// The plain-ASCII fast path for texts longer than the short path takes (64
// bytes and more, rare in practice): a scan segment by segment, sixteen bytes
// at a time; and the dispatch between the two paths for the tests.
#include "address/fast/ascii_address.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "address/fast/ascii_short.h"
#include "domain/idna_check.h"
#include "domain/limits.h"
#include "prep/profile_ascii.h"
#include "quorvel/address.h"
#include "simd/scan.h"

namespace quorvel {
namespace {

// Byte classes for the one-pass check. Anything that is not printable ASCII
// (controls, DEL, bytes of multi-byte characters) is "other": those texts
// belong to the general path, which also owns every error message.
enum ByteClass : std::uint8_t {
  kSeparator = 1 << 0,   // "@" or "/"
  kDot = 1 << 1,         // a label boundary inside the domain
  kOther = 1 << 2,       // not printable ASCII
  kCapital = 1 << 3,     // A-Z, folded in the localpart and the domain
  kNodeRefused = 1 << 4, // the space and the eight characters nodeprep refuses
  kDenied = 1 << 5,      // refused in a domain label
};

// What one scan up to the next separator found.
struct Segment {
  std::size_t end;         // index of the separator, or the text's size
  std::uint8_t classes;    // union of the classes of its bytes
  bool labels_ok;          // every label valid for a domain (when it is one)
};

// Judges one domain label, text[start, end): not empty, not too long for DNS,
// no hyphen at either end, and no "--" in the third and fourth places
// (Punycode labels included: those need ICU).
inline bool label_ok(const unsigned char* p, std::size_t start, std::size_t end) noexcept {
  const std::size_t length = end - start;
  return length != 0 && length <= dns::kMaxLabelBytes && p[start] != '-' && p[end - 1] != '-' &&
         !(length >= 4 && p[start + 2] == '-' && p[start + 3] == '-');
}

// The printable bytes the SSE2 scan compares with one by one, besides "@"
// and "/" (which end a segment before their classes count): refused by
// nodeprep and denied in a domain label, by nodeprep only, by the domain
// only. The static_assert below holds them to the two tables they encode.
template <char... Bytes>
struct ByteSet {
  static constexpr bool holds(int b) noexcept {
    return ((b == static_cast<unsigned char>(Bytes)) || ...);
  }
};
using RefusedByBoth = ByteSet<' ', ':', '<', '>'>;
using RefusedByNodeOnly = ByteSet<'"', '&', '\''>;
using DeniedInDomainOnly = ByteSet<'#', '%', '?', '[', '\\', ']', '^', '|'>;

constexpr bool byte_sets_encode_the_tables() {
  for (int b = 0x20; b < 0x7F; ++b) {
    if (b == '@' || b == '/') continue;
    const bool node = RefusedByBoth::holds(b) || RefusedByNodeOnly::holds(b);
    const bool domain = RefusedByBoth::holds(b) || DeniedInDomainOnly::holds(b);
    if (node != ((ascii::kNodeClasses[static_cast<std::size_t>(b)] & ascii::kRefuse) != 0)) {
      return false;
    }
    if (domain != idna::kDeniedBytes[static_cast<std::size_t>(b)]) return false;
  }
  return true;
}
static_assert(byte_sets_encode_the_tables(),
              "the SSE2 scan's byte sets must be nodeprep's and the deny set's printable bytes");

#if defined(QUORVEL_HAVE_X86_SIMD)

// Sixteen bytes classified at once, one bit per byte in each mask.
struct ChunkMasks {
  unsigned separator, dot, other, capital, node_refused, denied;
};

inline unsigned mask_of(__m128i m) noexcept {
  return static_cast<unsigned>(_mm_movemask_epi8(m));
}

// A byte repeated sixteen times, loaded from read-only data: building it in
// registers costs four instructions with SSE2 alone, and this is hot code.
template <char C>
struct Splat {
  alignas(16) static constexpr char bytes[16] = {C, C, C, C, C, C, C, C,
                                                 C, C, C, C, C, C, C, C};
};
template <char C>
inline __m128i splat() noexcept {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(Splat<C>::bytes));
}

// Every byte of the set compared with v, OR-ed.
template <char... Bytes>
inline __m128i equal_any(__m128i v, ByteSet<Bytes...>) noexcept {
  __m128i m = _mm_setzero_si128();
  ((m = _mm_or_si128(m, _mm_cmpeq_epi8(v, splat<Bytes>()))), ...);
  return m;
}

inline ChunkMasks classify16(const unsigned char* p) noexcept {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  auto eq = [&](__m128i c) { return _mm_cmpeq_epi8(v, c); };
  // Signed compares: bytes from 0x80 up are negative, so "below 0x20"
  // catches them with the controls.
  const __m128i other = _mm_or_si128(_mm_cmplt_epi8(v, splat<0x20>()), eq(splat<0x7f>()));
  const __m128i capital =
      _mm_and_si128(_mm_cmpgt_epi8(v, splat<'A' - 1>()), _mm_cmplt_epi8(v, splat<'Z' + 1>()));
  // "@" and "/" end a segment, so they never count as refused or denied.
  const __m128i both = equal_any(v, RefusedByBoth{});
  const __m128i node_only = equal_any(v, RefusedByNodeOnly{});
  const __m128i domain_only = equal_any(v, DeniedInDomainOnly{});
  return ChunkMasks{mask_of(_mm_or_si128(eq(splat<'@'>()), eq(splat<'/'>()))),
                    mask_of(eq(splat<'.'>())),
                    mask_of(other),
                    mask_of(capital),
                    mask_of(_mm_or_si128(both, node_only)),
                    mask_of(_mm_or_si128(both, domain_only))};
}

// Scans text[from, ...) up to the next "@" or "/", sixteen bytes at a time,
// checking the domain label rules at each dot on the way; whether the
// segment is a localpart or a domain is only known at its end.
Segment scan_segment_sse2(std::string_view text, std::size_t from) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::uint8_t classes = 0;
  bool labels_ok = true;
  std::size_t label_start = from;
  std::size_t i = from;
  alignas(16) unsigned char tail[16] = {};
  while (true) {
    const std::size_t remaining = n - i;
    unsigned length = 16;
    ChunkMasks m;
    if (remaining >= 16) {
      m = classify16(p + i);
    } else {
      // Never read past the text: the last sixteen bytes of a long enough
      // text are read again and their masks shifted, a short text is copied.
      length = static_cast<unsigned>(remaining);
      if (n >= 16) {
        m = classify16(p + n - 16);
        const unsigned shift = 16 - length;
        for (unsigned* mask : {&m.separator, &m.dot, &m.other, &m.capital, &m.node_refused, &m.denied}) {
          *mask >>= shift;
        }
      } else {
        if (length != 0) std::memcpy(tail, p + i, length);
        m = classify16(tail);
      }
    }
    const unsigned valid = (1u << length) - 1;
    const unsigned separators = m.separator & valid;
    const unsigned stop = separators ? static_cast<unsigned>(__builtin_ctz(separators)) : length;
    const unsigned keep = (1u << stop) - 1;
    if (m.other & keep) classes |= kOther;
    if (m.capital & keep) classes |= kCapital;
    if (m.node_refused & keep) classes |= kNodeRefused;
    if (m.denied & keep) classes |= kDenied;
    for (unsigned dots = m.dot & keep; dots != 0 && labels_ok; dots &= dots - 1) {
      const std::size_t dot = i + static_cast<unsigned>(__builtin_ctz(dots));
      labels_ok = label_ok(p, label_start, dot);
      label_start = dot + 1;
    }
    i += stop;
    if (separators != 0 || length < 16) break;
  }
  labels_ok = labels_ok && label_ok(p, label_start, i);
  return {i, classes, labels_ok};
}

#endif

// The classes of each byte, for the byte-at-a-time twin of the scan.
constexpr std::array<std::uint8_t, 256> kClasses = [] {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t c = 0;
    if (b < 0x20 || b >= 0x7F) c |= kOther;
    if (b >= 'A' && b <= 'Z') c |= kCapital;
    if (b == '@' || b == '/') c |= kSeparator;
    if (b == '.') c |= kDot;
    // Controls and DEL are "other" as well; "@" and "/" end a segment
    // before their classes count.
    if (idna::kDeniedBytes[static_cast<std::size_t>(b)]) c |= kDenied;
    if (ascii::kNodeClasses[static_cast<std::size_t>(b)] & ascii::kRefuse) c |= kNodeRefused;
    t[static_cast<std::size_t>(b)] = c;
  }
  return t;
}();

// Scans text[from, ...) up to the next "@" or "/", checking the domain label
// rules on the way; whether the segment is a localpart or a domain is only
// known at its end.
Segment scan_segment_bytes(std::string_view text, std::size_t from) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::uint8_t classes = 0;
  bool labels_ok = true;
  std::size_t label_start = from;
  std::size_t i = from;
  for (; i < n; ++i) {
    const std::uint8_t c = kClasses[p[i]];
    if (c & kSeparator) break;
    classes |= c;
    if (c & kDot) {
      labels_ok = labels_ok && label_ok(p, label_start, i);
      label_start = i + 1;
    }
  }
  labels_ok = labels_ok && label_ok(p, label_start, i);
  return {i, classes, labels_ok};
}

void lower_in_place(char* p, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] >= 'A' && p[i] <= 'Z') p[i] = static_cast<char>(p[i] + ('a' - 'A'));
  }
}


// One scan for the whole path, a template argument so that the call is
// direct and inlined as before.
template <Segment (*scan_segment)(std::string_view, std::size_t) noexcept>
PlainLayout long_layout(std::string_view text) noexcept {
  // On plain ASCII the three profiles only fold capitals or refuse, and the
  // domain check reduces to label rules and the deny set, so the separator
  // search and every check fit in one pass. IPv4 literals need no special
  // case: digits and dots pass these rules unchanged, as they pass the
  // literal test. Bracketed IPv6, trailing dots and Punycode fall through.
  PlainLayout out;
  const Segment first = scan_segment(text, 0);
  std::size_t at = std::string_view::npos;
  Segment domain = first;
  std::size_t domain_start = 0;
  if (first.end < text.size() && text[first.end] == '@') {
    at = first.end;
    if (at == 0 || at > kMaxPartBytes || (first.classes & (kOther | kNodeRefused))) return out;
    domain_start = at + 1;
    domain = scan_segment(text, domain_start);
    if (domain.end < text.size() && text[domain.end] == '@') return out;
  }
  const std::size_t domain_size = domain.end - domain_start;
  if (!domain.labels_ok || domain_size > dns::kMaxDomainBytes ||
      (domain.classes & (kOther | kDenied))) {
    return out;
  }

  const std::size_t slash = domain.end < text.size() ? domain.end : std::string_view::npos;
  if (slash != std::string_view::npos) {
    const std::string_view resource = text.substr(slash + 1);
    if (resource.empty() || resource.size() > kMaxPartBytes || !scan::is_printable_ascii(resource)) return out;
  }

  const bool fold_node = at != std::string_view::npos && (first.classes & kCapital);
  const bool fold_domain = (domain.classes & kCapital) != 0;
  out.localpart_end = static_cast<std::uint16_t>(at == std::string_view::npos ? 0 : at);
  out.slash_position = static_cast<std::uint16_t>(slash == std::string_view::npos ? 0 : slash);
  // The localpart and the domain; not the resource.
  out.fold_end = (fold_node || fold_domain) ? static_cast<std::uint16_t>(domain.end) : 0;
  out.ok = true;
  return out;
}

}  // namespace

PlainLayout long_plain_ascii_layout(std::string_view text, ascii::Isa isa) noexcept {
#if defined(QUORVEL_HAVE_X86_SIMD)
  // Sixteen bytes a step serve AVX2 processors too: texts this long are rare.
  if (isa != ascii::Isa::Bytes) return long_layout<scan_segment_sse2>(text);
#endif
  (void)isa;
  return long_layout<scan_segment_bytes>(text);
}

PlainLayout long_plain_ascii_layout(std::string_view text) noexcept {
#if defined(QUORVEL_HAVE_X86_SIMD)
  return long_layout<scan_segment_sse2>(text);
#else
  return long_layout<scan_segment_bytes>(text);
#endif
}

PlainLayout plain_ascii_layout(std::string_view text, ascii::Isa isa) noexcept {
  if (text.size() > ascii::kShortLayoutMax) return long_plain_ascii_layout(text, isa);
  return ascii::short_layout(text, isa);
}

JidValue build_plain(std::string_view text, const PlainLayout& layout) {
  if (layout.fold_end == 0) return JidValue(text, layout.localpart_end, layout.slash_position);
  auto buffer = JidValue::allocate(text.size());
  std::memcpy(buffer.get(), text.data(), text.size());
  lower_in_place(buffer.get(), layout.fold_end);
  return JidValue::adopt(std::move(buffer), static_cast<std::uint32_t>(text.size()),
                         layout.localpart_end, layout.slash_position);
}

namespace {

// Out of line, so that the short texts' route through parse_address_with
// costs what it did before the long route took a variant too.
[[gnu::noinline]] Result<JidValue> parse_long_with(std::string_view text, ascii::Isa isa) {
  const PlainLayout plain = long_plain_ascii_layout(text, isa);
  if (plain.ok) return build_plain(text, plain);
  return parse_address_general(text);
}

}  // namespace

Result<JidValue> parse_address_with(std::string_view text, ascii::Isa isa) {
  if (text.size() <= ascii::kShortLayoutMax) return ascii::short_parser(isa)(text);
  return parse_long_with(text, isa);
}

}  // namespace quorvel

#include "address/fast/ascii_short.h"

#include <cstdint>
#include <cstring>
#include <optional>

#include "address/fast/ascii_address.h"
#include "address/precis_split.h"
#include "domain/idna_check.h"
#include "domain/limits.h"
#include "prep/profile_ascii.h"
#include "quorvel/address.h"
#include "quorvel/precis.h"

namespace quorvel::ascii {
namespace {

// The low k bits set, k < 64.
QUORVEL_ALWAYS_INLINE std::uint64_t low_bits(std::size_t k) noexcept {
  return (std::uint64_t{1} << k) - 1;
}

QUORVEL_ALWAYS_INLINE unsigned lowest(std::uint64_t m) noexcept {
  return static_cast<unsigned>(__builtin_ctzll(m));
}

// The two standards an address is prepared by. On plain ASCII they differ
// only in the domain: RFC 7622's IDNA2008 check with the STD3 rules keeps
// letters, digits, hyphens and dots and nothing else (an IP literal, the
// one other ASCII domain it takes, is left to its general path), and its
// general path is another. Localparts and resources of plain ASCII are
// prepared alike by both: capitals folded in the localpart; space,
// controls and " & ' / : < > @ refused there by both; printable ASCII and
// space kept as they are in the resource.
//
// kHighExit: whether a byte from 0x80 up sends the text to the general path
// before the classification. Under RFC 7622 that path is long enough for
// the failed attempt to show, and its plain ASCII has room for the test;
// the stringprep path keeps its ASCII cost.
struct Stringprep {
  static constexpr bool kStd3Domain = false;
  static constexpr bool kHighExit = false;
  static Result<JidValue> general(std::string_view text) { return parse_address_general(text); }
};
struct Precis {
  static constexpr bool kStd3Domain = true;
  static constexpr bool kHighExit = true;
  static Result<JidValue> general(std::string_view text) {
    return precis::parse_address_general(text);
  }
  // A text with non-ASCII bytes, split by the separators found in the
  // registers that showed those bytes.
  static Result<JidValue> general(std::string_view text, std::uint64_t separators) {
    return precis::parse_address_general(text, separators);
  }
};

// Judges the few bytes outside the plain class one by one, by the part they
// are in: the localpart refuses what nodeprep refuses, the domain what the
// deny set holds (under the STD3 rules, every such byte), the resource only
// what is not printable. Bytes from 0x80 up leave the text to the general
// path wherever they are.
template <class Rules>
bool odd_bytes_ok(const unsigned char* p, std::uint64_t odd, std::size_t domain_start,
                  std::size_t domain_end) noexcept {
  for (; odd != 0; odd &= odd - 1) {
    const std::size_t i = lowest(odd);
    const unsigned char b = p[i];
    if (i < domain_start) {
      if (kNodeClasses[b] != kKeep) return false;
    } else if (i < domain_end) {
      if (Rules::kStd3Domain || b >= 0x80 || idna::kDeniedBytes[b]) return false;
    } else if (b < 0x20 || b > 0x7E) {
      return false;
    }
  }
  return true;
}

// The label rules of a domain text[start, end) from its dot and hyphen
// masks: no empty label (which also sends a trailing dot to the general
// path), no hyphen at either end of a label, and no hyphens in the third
// and fourth places. The last test also fires for some labels shorter than
// four bytes that are fine; those merely take the general path, which
// decides them the same way. No label of a text this short is too long.
static_assert(kShortLayoutMax <= dns::kMaxLabelBytes);
QUORVEL_ALWAYS_INLINE bool labels_ok(const ShortMasks& m, std::size_t start,
                                     std::size_t end) noexcept {
  const std::uint64_t range = low_bits(end) & ~low_bits(start);
  const std::uint64_t dots = m.dot & range;
  const std::uint64_t hyphens = m.hyphen & range;
  const std::uint64_t firsts = ((dots << 1) | (std::uint64_t{1} << start)) & range;
  const std::uint64_t lasts = ((dots >> 1) | (std::uint64_t{1} << (end - 1))) & range;
  const std::uint64_t bad =
      ((dots | hyphens) & (firsts | lasts)) | ((firsts << 2) & hyphens & (hyphens >> 1));
  return bad == 0;
}

template <class Rules>
QUORVEL_ALWAYS_INLINE PlainLayout layout(std::string_view text, const ShortMasks& m) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  PlainLayout out;

  // The separators: at most one "@" before the first "/". Positions here
  // are below 64, so 64 stands for "none".
  constexpr std::size_t none = 64;
  std::size_t at = none;
  std::size_t slash = none;
  if (m.separator != 0) {
    const std::size_t first = lowest(m.separator);
    if (p[first] == '@') {
      at = first;
      const std::uint64_t rest = m.separator & (m.separator - 1);
      if (rest != 0) {
        slash = lowest(rest);
        if (p[slash] == '@') return out;  // too many "@": the general path says so
      }
    } else {
      slash = first;
    }
  }
  const std::size_t domain_start = at == none ? 0 : at + 1;
  const std::size_t domain_end = slash == none ? n : slash;
  // Empty parts are errors, which the general path reports.
  if (at == 0 || domain_end == domain_start || domain_end + 1 == n) return out;

  const std::uint64_t odd = ~m.plain & low_bits(n);
  if (odd != 0 && !odd_bytes_ok<Rules>(p, odd, domain_start, domain_end)) return out;
  if (!labels_ok(m, domain_start, domain_end)) return out;
  if (Rules::kStd3Domain &&
      (m.underscore & low_bits(domain_end) & ~low_bits(domain_start)) != 0) {
    return out;
  }

  // Capitals fold in the localpart and the domain, never in the resource.
  out.capitals = m.capital & low_bits(domain_end);
  out.localpart_end = static_cast<std::uint16_t>(at == none ? 0 : at);
  out.slash_position = static_cast<std::uint16_t>(slash == none ? 0 : slash);
  out.ok = true;
  return out;
}

// The value from the bytes already copied into `buffer`: capitals folded.
QUORVEL_ALWAYS_INLINE JidValue adopt_folded(JidValue::Buffer buffer, std::size_t n,
                                            const PlainLayout& l) noexcept {
  for (std::uint64_t c = l.capitals; c != 0; c &= c - 1) buffer[lowest(c)] |= 0x20;
  return JidValue::adopt(std::move(buffer), static_cast<std::uint32_t>(n), l.localpart_end,
                         l.slash_position);
}

}  // namespace

namespace {

template <class Rules>
Result<JidValue> parse_short_bytes(std::string_view text) {
  const PlainLayout l = layout<Rules>(text, classify_bytes(text.data(), text.size()));
  if (!l.ok) return Rules::general(text);
  auto buffer = JidValue::allocate(text.size());
  if (!text.empty()) std::memcpy(buffer.get(), text.data(), text.size());
  return adopt_folded(std::move(buffer), text.size(), l);
}

#if defined(QUORVEL_HAVE_X86_SIMD)

// The copy into the value is written from the registers the classification
// read, so the text is read once.
template <class Rules>
Result<JidValue> parse_short_sse2(std::string_view text) {
  const Sse2Blocks blocks = load_sse2(text.data(), text.size());
  if constexpr (Rules::kHighExit) {
    if (any_high(blocks, text.size())) [[unlikely]] {
      return Rules::general(text, separators(blocks, text.size()));
    }
  }
  const PlainLayout l = layout<Rules>(text, classify(blocks, text.size()));
  if (!l.ok) return Rules::general(text);
  auto buffer = JidValue::allocate(text.size());
  store(buffer.get(), blocks, text.data(), text.size());
  return adopt_folded(std::move(buffer), text.size(), l);
}

// The same compiled for AVX2: 32 bytes at a time, and the BMI instructions
// for the mask arithmetic.
template <class Rules>
QUORVEL_AVX2_TARGET Result<JidValue> parse_short_avx2(std::string_view text) {
  const Avx2Blocks blocks = load_avx2(text.data(), text.size());
  if constexpr (Rules::kHighExit) {
    if (any_high(blocks, text.size())) [[unlikely]] {
      return Rules::general(text, separators(blocks, text.size()));
    }
  }
  const PlainLayout l = layout<Rules>(text, classify(blocks, text.size()));
  if (!l.ok) return Rules::general(text);
  auto buffer = JidValue::allocate(text.size());
  store(buffer.get(), blocks, text.data(), text.size());
  return adopt_folded(std::move(buffer), text.size(), l);
}

template <class Rules>
QUORVEL_AVX2_TARGET PlainLayout layout_avx2(std::string_view text) noexcept {
  return layout<Rules>(text, classify_avx2(text.data(), text.size()));
}

#endif

template <class Rules>
ShortParser parser_for(Isa isa) noexcept {
  switch (isa) {
#if defined(QUORVEL_HAVE_X86_SIMD)
    case Isa::Avx2:
      return parse_short_avx2<Rules>;
    case Isa::Sse2:
      return parse_short_sse2<Rules>;
#else
    case Isa::Avx2:
    case Isa::Sse2:
#endif
    case Isa::Bytes:
      break;
  }
  return parse_short_bytes<Rules>;
}

template <class Rules>
PlainLayout layout_for(std::string_view text, Isa isa) noexcept {
  switch (isa) {
#if defined(QUORVEL_HAVE_X86_SIMD)
    case Isa::Avx2:
      return layout_avx2<Rules>(text);
    case Isa::Sse2:
      return layout<Rules>(text, classify_sse2(text.data(), text.size()));
#else
    case Isa::Avx2:
    case Isa::Sse2:
#endif
    case Isa::Bytes:
      break;
  }
  return layout<Rules>(text, classify_bytes(text.data(), text.size()));
}

}  // namespace

PlainLayout short_layout(std::string_view text, Isa isa) noexcept { return layout_for<Stringprep>(text, isa); }

PlainLayout precis_short_layout(std::string_view text, Isa isa) noexcept { return layout_for<Precis>(text, isa); }

ShortParser short_parser(Isa isa) noexcept { return parser_for<Stringprep>(isa); }

ShortParser precis_short_parser(Isa isa) noexcept { return parser_for<Precis>(isa); }

}  // namespace quorvel::ascii

namespace quorvel {
namespace {

static_assert(kPlainShortMax == ascii::kShortLayoutMax);

template <class Rules>
std::optional<Separators> plain_short(std::string_view text, char* out) noexcept {
  static const ascii::Isa isa = ascii::best_isa();
  if (text.size() > kPlainShortMax) return std::nullopt;
  const PlainLayout l = ascii::layout_for<Rules>(text, isa);
  if (!l.ok) return std::nullopt;
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  for (std::uint64_t c = l.capitals; c != 0; c &= c - 1) out[ascii::lowest(c)] |= 0x20;
  return Separators{l.localpart_end, l.slash_position};
}

}  // namespace

std::optional<Separators> parse_plain_short(std::string_view text, char* out) noexcept {
  return plain_short<ascii::Stringprep>(text, out);
}

std::optional<Separators> precis::parse_plain_short(std::string_view text, char* out) noexcept {
  return plain_short<ascii::Precis>(text, out);
}

}  // namespace quorvel

#include "ascii_address.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "idna_check.h"
#include "profile_ascii.h"
#include "quorvel/address.h"
#include "scan.h"

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

constexpr std::array<std::uint8_t, 256> kClasses = [] {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t c = 0;
    if (b < 0x20 || b >= 0x7F) c |= kOther;
    if (b >= 'A' && b <= 'Z') c |= kCapital;
    if (b == '@' || b == '/') c |= kSeparator;
    if (b == '.') c |= kDot;
    t[static_cast<std::size_t>(b)] = c;
  }
  // The domain deny set; its controls and DEL are "other" already.
  for (unsigned char b : {' ', '#', '%', '/', ':', '<', '>', '?', '@', '[', '\\', ']', '^', '|'}) {
    t[b] |= kDenied;
  }
  for (unsigned char b : {' ', '"', '&', '\'', '/', ':', '<', '>', '@'}) t[b] |= kNodeRefused;
  return t;
}();

// What one scan up to the next separator found.
struct Segment {
  std::size_t end;         // index of the separator, or the text's size
  std::uint8_t classes;    // union of the classes of its bytes
  bool labels_ok;          // every label valid for a domain (when it is one)
};

// Scans text[from, ...) up to the next "@" or "/", checking the domain label
// rules on the way; whether the segment is a localpart or a domain is only
// known at its end. The byte loop has a single, rarely taken branch: dots
// are recorded without branching and the labels are judged afterwards.
Segment scan_segment(std::string_view text, std::size_t from) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  // A valid domain has at most 126 dots (127 labels in 253 bytes).
  constexpr std::size_t kMaxDots = 128;
  std::size_t dots[kMaxDots];
  std::size_t dot_count = 0;
  std::uint8_t classes = 0;
  std::size_t i = from;
  for (; i < n; ++i) {
    const std::uint8_t c = kClasses[p[i]];
    if (c & kSeparator) break;
    classes |= c;
    dots[dot_count & (kMaxDots - 1)] = i;
    dot_count += (c & kDot) >> 1;
  }
  if (dot_count >= kMaxDots) return {i, classes, false};

  bool labels_ok = true;
  std::size_t label_start = from;
  for (std::size_t k = 0; k <= dot_count; ++k) {
    const std::size_t end = k < dot_count ? dots[k] : i;
    const std::size_t length = end - label_start;
    // An empty or long label, a hyphen at either end, or "--" in the third
    // and fourth places (Punycode labels included: those need ICU).
    if (length == 0 || length > 63 || p[label_start] == '-' || p[end - 1] == '-' ||
        (length >= 4 && p[label_start + 2] == '-' && p[label_start + 3] == '-')) {
      labels_ok = false;
      break;
    }
    label_start = end + 1;
  }
  return {i, classes, labels_ok};
}

// True when every byte is printable ASCII (0x20 to 0x7E): exactly the bytes
// that resourceprep keeps as they are on ASCII text.
bool all_printable(std::string_view s) noexcept {
  const char* p = s.data();
  const std::size_t n = s.size();
  std::size_t i = 0;
#if defined(__SSE2__)
  // Signed compares: bytes from 0x80 up are negative and fail the first.
  const __m128i low = _mm_set1_epi8(0x1F);
  const __m128i high = _mm_set1_epi8(0x7F);
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i ok = _mm_and_si128(_mm_cmpgt_epi8(v, low), _mm_cmplt_epi8(v, high));
    if (_mm_movemask_epi8(ok) != 0xFFFF) return false;
  }
#endif
  for (; i < n; ++i) {
    const auto b = static_cast<unsigned char>(p[i]);
    if (b < 0x20 || b > 0x7E) return false;
  }
  return true;
}

void lower_in_place(char* p, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] >= 'A' && p[i] <= 'Z') p[i] = static_cast<char>(p[i] + ('a' - 'A'));
  }
}

}  // namespace

std::optional<JidValue> parse_plain_ascii(std::string_view text) {
  // On plain ASCII the three profiles only fold capitals or refuse, and the
  // domain check reduces to label rules and the deny set, so the separator
  // search and every check fit in one pass. IPv4 literals need no special
  // case: digits and dots pass these rules unchanged, as they pass the
  // literal test. Bracketed IPv6, trailing dots and Punycode fall through.
  const Segment first = scan_segment(text, 0);
  std::size_t at = std::string_view::npos;
  Segment domain = first;
  std::size_t domain_start = 0;
  if (first.end < text.size() && text[first.end] == '@') {
    at = first.end;
    if (at == 0 || at > kMaxPartBytes || (first.classes & (kOther | kNodeRefused))) {
      return std::nullopt;
    }
    domain_start = at + 1;
    domain = scan_segment(text, domain_start);
    if (domain.end < text.size() && text[domain.end] == '@') return std::nullopt;
  }
  const std::size_t domain_size = domain.end - domain_start;
  if (!domain.labels_ok || domain_size > 253 || (domain.classes & (kOther | kDenied))) {
    return std::nullopt;
  }

  const std::size_t slash = domain.end < text.size() ? domain.end : std::string_view::npos;
  if (slash != std::string_view::npos) {
    const std::string_view resource = text.substr(slash + 1);
    if (resource.empty() || resource.size() > kMaxPartBytes || !all_printable(resource)) {
      return std::nullopt;
    }
  }

  const bool fold_node = at != std::string_view::npos && (first.classes & kCapital);
  const bool fold_domain = (domain.classes & kCapital) != 0;
  const auto localpart_end = static_cast<std::uint16_t>(at == std::string_view::npos ? 0 : at);
  const auto slash_position =
      static_cast<std::uint16_t>(slash == std::string_view::npos ? 0 : slash);
  if (!fold_node && !fold_domain) return JidValue(text, localpart_end, slash_position);

  auto buffer = JidValue::allocate(text.size());
  std::memcpy(buffer.get(), text.data(), text.size());
  lower_in_place(buffer.get(), domain.end);  // the localpart and the domain; not the resource
  return JidValue::adopt(std::move(buffer), static_cast<std::uint32_t>(text.size()), localpart_end,
                         slash_position);
}

}  // namespace quorvel

#include "ascii_address.h"

#include "idna_check.h"
#include "ip_literal.h"
#include "profile_ascii.h"
#include "quorvel/address.h"
#include "scan.h"

namespace quorvel {
namespace {

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

bool has_capitals(std::string_view s) noexcept {
  for (char c : s) {
    if (c >= 'A' && c <= 'Z') return true;
  }
  return false;
}

void copy_lowered(char* dst, std::string_view src) noexcept {
  for (char c : src) *dst++ = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

}  // namespace

std::optional<JidValue> parse_plain_ascii(std::string_view text) {
  constexpr auto npos = std::string_view::npos;
  const std::size_t first = scan::find_separator(text, 0);
  std::size_t at = npos;
  std::size_t slash = npos;
  if (first != npos && text[first] == '@') {
    at = first;
    slash = scan::find_separator(text, at + 1);
    if (slash != npos && text[slash] == '@') return std::nullopt;
  } else {
    slash = first;
  }

  bool fold_node = false;
  if (at != npos) {
    const std::string_view node = text.substr(0, at);
    if (node.empty() || node.size() > kMaxPartBytes) return std::nullopt;
    switch (ascii::classify(node, ascii::kNodeClasses)) {
      case ascii::Outcome::Unchanged:
        break;
      case ascii::Outcome::Lowered:
        fold_node = true;
        break;
      default:
        return std::nullopt;
    }
  }

  const std::size_t domain_start = at == npos ? 0 : at + 1;
  const std::size_t domain_end = slash == npos ? text.size() : slash;
  const std::string_view domain = text.substr(domain_start, domain_end - domain_start);
  // IP literals and a trailing dot are rare; the general path has them.
  if (domain.empty() || domain.back() == '.' || domain.front() == '[' || ip::is_ipv4(domain)) {
    return std::nullopt;
  }
  if (!scan::is_ascii(domain) || idna::check_ascii(domain) != idna::Verdict::Pass) {
    return std::nullopt;
  }
  const bool fold_domain = has_capitals(domain);

  if (slash != npos) {
    const std::string_view resource = text.substr(slash + 1);
    if (resource.empty() || resource.size() > kMaxPartBytes || !all_printable(resource)) {
      return std::nullopt;
    }
  }

  const auto localpart_end = static_cast<std::uint16_t>(at == npos ? 0 : at);
  const auto slash_position = static_cast<std::uint16_t>(slash == npos ? 0 : slash);
  if (!fold_node && !fold_domain) return JidValue(text, localpart_end, slash_position);

  auto buffer = JidValue::allocate(text.size());
  std::memcpy(buffer.get(), text.data(), text.size());
  if (fold_node) copy_lowered(buffer.get(), text.substr(0, at));
  if (fold_domain) copy_lowered(buffer.get() + domain_start, domain);
  return JidValue::adopt(std::move(buffer), static_cast<std::uint32_t>(text.size()), localpart_end,
                         slash_position);
}

}  // namespace quorvel

// Parsing an RFC 7622 address. The split is the one of quorvel/address.h
// (RFC 7622 sections 3.1-3.2 give the same: the resourcepart is everything
// after the first "/", the localpart what precedes the first "@" before it);
// each part is prepared by its PRECIS profile or as an IDNA2008 name.
#include <array>
#include <cstdint>
#include <cstring>

#include "address/fast/ascii_address.h"
#include "address/fast/ascii_short.h"
#include "address/part_by_part.h"
#include "address/precis_split.h"
#include "domain/ip_literal.h"
#include "domain/precis_domain.h"
#include "quorvel/address.h"
#include "quorvel/precis.h"
#include "simd/scan.h"

namespace quorvel::precis {
namespace {

// RFC 7622 section 3.3.1: characters the IdentifierClass allows and a
// localpart may not hold, as they delimit addresses and URIs. Judged after
// preparation, since width mapping turns U+FF20 into "@".
constexpr std::array<bool, 256> kForbidden = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : std::string_view("\"&'/:<>@")) t[c] = true;
  return t;
}();

// Only ASCII bytes can be forbidden, so eight bytes that all have the top
// bit set (the middle of any non-ASCII script) are passed over at once.
bool holds_forbidden_character(std::string_view text) noexcept {
  constexpr std::uint64_t kTopBits = 0x8080808080808080u;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  bool found = false;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    if ((word & kTopBits) == kTopBits) continue;
    for (std::size_t k = 0; k < 8; ++k) found |= kForbidden[p[i + k]];
  }
  for (; i < n; ++i) found |= kForbidden[p[i]];
  return found;
}

bool holds_forbidden_character(const PreparedText& prepared) {
  if (prepared.has_view()) return holds_forbidden_character(prepared.view());
  return holds_forbidden_character(std::string_view(prepared.str()));
}

}  // namespace

Result<PreparedText> prepare_node(std::string_view text) {
  if (text.empty()) return JidError::NodeEmpty;
  ProfileResult r = username_case_mapped(text);
  if (!r) return r.error() == Failure::Unstable ? JidError::NodeUnstable : JidError::NodePrecis;
  if (holds_forbidden_character(*r)) return JidError::NodeForbidden;
  if (r->size() > kMaxPartBytes) return JidError::NodeTooLong;
  return std::move(r).value();
}

Result<PreparedText> prepare_domain(std::string_view text) { return idna2008_domain(text); }

Result<PreparedText> prepare_domain_general(std::string_view text) {
  return idna2008_domain_general(text);
}

Result<PreparedText> prepare_resource(std::string_view text) {
  if (text.empty()) return JidError::ResourceEmpty;
  ProfileResult r = opaque_string(text);
  if (!r) {
    return r.error() == Failure::Unstable ? JidError::ResourceUnstable : JidError::ResourcePrecis;
  }
  if (r->size() > kMaxPartBytes) return JidError::ResourceTooLong;
  return std::move(r).value();
}

namespace {

// Whether a domain the stringprep parser stored from ASCII is stored the same
// way here: an IP literal, or labels of small letters, digits and hyphens
// with no hyphen in both the third and fourth place. That parser already
// held the text to everything else the two share (lengths, empty labels,
// hyphens first or last, capitals folded); an "xn--" label is decoded here
// and kept there, and only STD3 refuses "_" and the like.
bool stored_alike(std::string_view domain) noexcept {
  std::size_t start = 0;
  for (std::size_t i = 0; i < domain.size(); ++i) {
    const char c = domain[i];
    if (c == '.') {
      start = i + 1;
      continue;
    }
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) {
      // A dotted quad passes as labels of digits.
      return ip::is_bracketed_ipv6(domain);
    }
    if (i == start + 3 && c == '-' && domain[i - 1] == '-') return false;
  }
  return true;
}

}  // namespace

// Plain ASCII, nearly every address met, is prepared alike by stringprep and
// PRECIS in the localpart (capitals folded; space, controls and
// " & ' / : < > @ refused by both) and in the resource (printable ASCII and
// space kept as they are), so the stringprep parser's fast paths serve here
// too: texts of up to 63 bytes through its mask-based path made for this
// profile's domains, longer ones through its scan, after which only the
// domain is looked at again. Anything they refuse, and any domain the two
// would store differently, takes the general route, which also gives the
// failure its own kind.
namespace {

Result<JidValue> parse_long(std::string_view text, ascii::Isa isa) {
  if (scan::is_ascii(text)) {
    Result<JidValue> r = quorvel::parse_address_with(text, isa);
    if (r && stored_alike(domain_part(*r))) return r;
  }
  return parse_address_general(text);
}

}  // namespace

Result<JidValue> parse_address(std::string_view text) {
  if (text.size() <= ascii::kShortLayoutMax) return ascii::best_precis_short_parser()(text);
  return parse_long(text, ascii::best_isa());
}

Result<JidValue> parse_address_with(std::string_view text, ascii::Isa isa) {
  if (text.size() <= ascii::kShortLayoutMax) return ascii::precis_short_parser(isa)(text);
  return parse_long(text, isa);
}

namespace {

struct Precis {
  static Result<PreparedText> node(std::string_view t) { return prepare_node(t); }
  static Result<PreparedText> domain(std::string_view t) { return prepare_domain(t); }
  static Result<PreparedText> resource(std::string_view t) { return prepare_resource(t); }
};

}  // namespace

Result<JidValue> parse_address_general(std::string_view text) {
  return parse_part_by_part<Precis>(text);
}

Result<JidValue> parse_address_general(std::string_view text, std::uint64_t separators) {
  return parse_part_by_part<Precis>(text, separators);
}

Result<JidValue> parse_bare_address(std::string_view text) {
  Result<JidValue> r = parse_address(text);
  if (!r) return r;
  if (!r->is_bare()) return JidError::ResourceInBareJid;
  return r;
}

}  // namespace quorvel::precis

#include "uri_plain.h"

#include <array>
#include <cstdint>

namespace quorvel::binding {
namespace {

// What an ASCII character is to a path of the plain shape (RFC 5122
// section 2.2): allowed as itself in every part (the unreserved characters
// and the localpart's sub-delimiters), in the domain and the resource only
// ("&" and "'"), in the resource only (":"), a separator, the start of an
// encoding, or refused anywhere (every byte beyond ASCII too: an IRI's
// characters go the general way). One look-up a byte, since most are plain.
enum Kind : std::uint8_t { kRefused, kPlain, kNotLocalpart, kResourceOnly, kAt, kSlash, kPercent };

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
  return t;
}

constexpr std::array<std::uint8_t, 256> kKinds = make_kinds();

constexpr bool alnum(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

constexpr int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The plain URI, its path decoded once it is known to be well-formed.
std::optional<PlainUri> finish(PlainUri& out) {
  if (out.encoded) {
    const std::string_view rest = out.path;
    // Well-formed by now: every "%" starts two hex digits.
    out.decoded.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == '%') {
        out.decoded.push_back(static_cast<char>((hex_value(rest[i + 1]) << 4) | hex_value(rest[i + 2])));
        i += 2;
      } else {
        out.decoded.push_back(rest[i]);
      }
    }
  }
  return std::move(out);
}

}  // namespace

std::optional<PlainUri> split_plain_uri(std::string_view uri) {
  constexpr std::string_view kScheme = "xmpp:";
  if (!uri.starts_with(kScheme)) return std::nullopt;
  std::string_view rest = uri.substr(kScheme.size());
  PlainUri out;
  if (const auto q = rest.find('?'); q != std::string_view::npos) {
    out.action = rest.substr(q + 1);
    rest = rest.substr(0, q);
    // The Python parser reads a bare action as any query; an empty one, a
    // parameter or anything encoded goes its general way.
    if (out.action.empty()) return std::nullopt;
    for (char c : out.action) {
      if (!alnum(c)) return std::nullopt;
    }
  }
  // An authority starts with "//", which no localpart or domain can.
  if (rest.empty() || rest.starts_with("//")) return std::nullopt;

  out.path = rest;
  // The localpart allows a subset of what the domain does, so until an "@"
  // shows that there is a localpart the domain's set is the test, and an
  // "&" or "'" seen on the way rules the "@" out.
  enum class Part { LocalpartOrDomain, Domain, Resource };
  Part part = Part::LocalpartOrDomain;
  bool domain_only_seen = false;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    // Runs of plain bytes in a loop of their own: a switch a byte costs an
    // indirect jump each, most of the time spent here.
    const auto kind_at = [&rest](std::size_t j) { return kKinds[static_cast<unsigned char>(rest[j])]; };
    while (kind_at(i) == kPlain) {
      if (++i == rest.size()) return finish(out);
    }
    switch (kind_at(i)) {
      case kNotLocalpart:
        if (part == Part::LocalpartOrDomain) domain_only_seen = true;
        break;
      case kResourceOnly:
        if (part != Part::Resource) return std::nullopt;
        break;
      case kAt:
        if (part != Part::LocalpartOrDomain || domain_only_seen) return std::nullopt;
        part = Part::Domain;
        break;
      case kSlash:
        if (part == Part::Resource) return std::nullopt;
        part = Part::Resource;
        break;
      case kPercent: {
        const int hi = i + 2 < rest.size() ? hex_value(rest[i + 1]) : -1;
        const int lo = hi >= 0 ? hex_value(rest[i + 2]) : -1;
        if (lo < 0) return std::nullopt;
        // A decoded "@" or "/" would move where the address splits.
        const int decoded = (hi << 4) | lo;
        if (decoded == '@' || decoded == '/') return std::nullopt;
        out.encoded = true;
        i += 2;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return finish(out);
}

}  // namespace quorvel::binding

#include "uri_plain.h"

#include <array>
#include <cstdint>

namespace quorvel::binding {
namespace {

// Which part of the path may hold an ASCII character as itself (RFC 5122
// section 2.2): unreserved characters everywhere, then the sub-delimiters
// each part allows. "%" starts an encoding and is handled apart.
enum : std::uint8_t { kNode = 1, kHost = 2, kResource = 4, kAlnum = 8 };

constexpr std::array<std::uint8_t, 128> make_classes() {
  std::array<std::uint8_t, 128> t{};
  auto add = [&t](std::string_view chars, std::uint8_t bits) {
    for (char c : chars) t[static_cast<unsigned char>(c)] |= bits;
  };
  for (char c = 'a'; c <= 'z'; ++c) t[static_cast<unsigned char>(c)] |= kNode | kHost | kResource | kAlnum;
  for (char c = 'A'; c <= 'Z'; ++c) t[static_cast<unsigned char>(c)] |= kNode | kHost | kResource | kAlnum;
  for (char c = '0'; c <= '9'; ++c) t[static_cast<unsigned char>(c)] |= kNode | kHost | kResource | kAlnum;
  add("-._~", kNode | kHost | kResource);
  add("!$()*+,;=", kNode | kHost | kResource);  // nodeallow: no & and '
  add("&'", kHost | kResource);
  add(":", kResource);
  return t;
}

constexpr std::array<std::uint8_t, 128> kClasses = make_classes();

constexpr int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool has(char c, std::uint8_t bits) noexcept {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x80 && (kClasses[u] & bits) != 0;
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
      if (!has(c, kAlnum)) return std::nullopt;
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
    const char c = rest[i];
    if (c == '%') {
      const int hi = i + 2 < rest.size() ? hex_value(rest[i + 1]) : -1;
      const int lo = hi >= 0 ? hex_value(rest[i + 2]) : -1;
      if (lo < 0) return std::nullopt;
      // A decoded "@" or "/" would move where the address splits.
      const int decoded = (hi << 4) | lo;
      if (decoded == '@' || decoded == '/') return std::nullopt;
      out.encoded = true;
      i += 2;
    } else if (c == '@') {
      if (part != Part::LocalpartOrDomain || domain_only_seen) return std::nullopt;
      part = Part::Domain;
    } else if (c == '/') {
      if (part == Part::Resource) return std::nullopt;
      part = Part::Resource;
    } else if (!has(c, part == Part::Resource ? kResource : kHost)) {
      return std::nullopt;
    } else if (part == Part::LocalpartOrDomain && !has(c, kNode)) {
      domain_only_seen = true;
    }
  }
  if (out.encoded) {
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
  return out;
}

}  // namespace quorvel::binding

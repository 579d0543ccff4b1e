// Invariant checks shared by the fuzz targets. A broken invariant prints what
// was seen and aborts, so that libFuzzer records the input as a crash.
#pragma once

#include <unicode/utf8.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "prep/refold.h"
#include "quorvel_core.h"

namespace quorvel::fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "invariant broken: %s\n  text (%zu bytes): ", what, text.size());
  for (unsigned char c : text.substr(0, 512)) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      std::fputc(c, stderr);
    } else {
      std::fprintf(stderr, "\\x%02x", c);
    }
  }
  std::fputc('\n', stderr);
  std::abort();
}

#define QUORVEL_CHECK(cond, text)                          \
  do {                                                     \
    if (!(cond)) ::quorvel::fuzz::fail(#cond, (text));     \
  } while (0)

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

inline bool valid_utf8(std::string_view s) {
  std::int32_t i = 0;
  const auto n = static_cast<std::int32_t>(s.size());
  if (static_cast<std::size_t>(n) != s.size()) return false;
  while (i < n) {
    UChar32 c;
    U8_NEXT(reinterpret_cast<const std::uint8_t*>(s.data()), i, n, c);
    if (c < 0) return false;
  }
  return true;
}

// The prepared output of a part. Checks that `unchanged` means byte-identical
// and that a successful result is well-formed UTF-8 when the input was.
inline std::string checked_output(const PreparedText& p, std::string_view input) {
  std::string out = p.str();
  QUORVEL_CHECK(p.size() == out.size(), input);
  if (p.unchanged()) QUORVEL_CHECK(out == input, input);
  if (valid_utf8(input)) QUORVEL_CHECK(valid_utf8(out), input);
  return out;
}

// `prepare` applied to its own output gives the output back, or, where the
// profile folds case and the output holds a character that case folding maps
// (refold.h), may change it; a changed output then settles after that round.
template <class Prepare>
void check_fixed_point(Prepare prepare, const std::string& out, bool folds,
                       std::string_view input) {
  auto again = prepare(out);
  // Byte equality, not the unchanged flag: a text can map and normalise
  // back to itself (U+0390 folds to three characters that NFKC recomposes).
  if (again.ok() && again->str() == out) return;
  QUORVEL_CHECK(folds && may_fold_again(out), input);
  if (!again.ok()) return;
  const std::string second = again->str();
  auto third = prepare(second);
  QUORVEL_CHECK(third.ok() && third->str() == second, input);
}

// Everything that must hold for a value made by parse_address, given the
// text it came from.
inline void check_value(const JidValue& v, std::string_view input) {
  const std::string_view t = text(v);
  QUORVEL_CHECK(v.valid(), input);
  QUORVEL_CHECK(v.localpart_end() <= t.size() && v.slash_position() <= t.size(), input);
  if (v.localpart_end() != 0) QUORVEL_CHECK(t[v.localpart_end()] == '@', input);
  if (v.slash_position() != 0) {
    QUORVEL_CHECK(t[v.slash_position()] == '/', input);
    QUORVEL_CHECK(v.slash_position() > v.localpart_end(), input);
  }

  // The positions slice the text into the parts, and only into them.
  const std::optional<std::string_view> node = node_part(v);
  const std::string_view domain = domain_part(v);
  const std::optional<std::string_view> resource = resource_part(v);
  std::string joined;
  if (node) joined.append(*node).push_back('@');
  joined.append(domain);
  if (resource) joined.append("/").append(*resource);
  QUORVEL_CHECK(joined == t, input);

  // Lengths within limits; no part is empty.
  QUORVEL_CHECK(!domain.empty(), input);
  QUORVEL_CHECK(domain.find_first_of("@/") == std::string_view::npos, input);
  if (node) {
    QUORVEL_CHECK(!node->empty() && node->size() <= kMaxPartBytes, input);
    QUORVEL_CHECK(node->find_first_of("@/") == std::string_view::npos, input);
  }
  if (resource) QUORVEL_CHECK(!resource->empty() && resource->size() <= kMaxPartBytes, input);
  if (valid_utf8(input)) QUORVEL_CHECK(valid_utf8(t), input);

  // The builders reproduce the value from its own parts.
  std::optional<Part> node_ref;
  if (node) node_ref.emplace(*node);
  std::optional<Part> resource_ref;
  if (resource) resource_ref.emplace(*resource);
  const JidValue rebuilt = join_parts(node_ref, Part(domain), resource_ref);
  QUORVEL_CHECK(rebuilt == v && rebuilt.localpart_end() == v.localpart_end() &&
                    rebuilt.slash_position() == v.slash_position(),
                input);
  JidValue stripped = v;
  strip_resource(stripped);
  const JidValue bare = bare_copy(v);
  QUORVEL_CHECK(stripped == bare && stripped.is_bare() && text(bare) == bare_text(v), input);
  if (resource) {
    const JidValue reattached = attach_resource(bare, Part(*resource));
    QUORVEL_CHECK(reattached == v && reattached.slash_position() == v.slash_position(), input);
  }

  // Each prepared part passes its own preparation again and gives itself
  // back, and the text parses back to the same value; only a localpart or
  // domain that holds a character case folding maps (refold.h) may change,
  // and never fail: the text of an accepted value (what pickling saves) is
  // always accepted again. A resource never changes.
  const bool node_may_fold = node && may_fold_again(*node);
  const bool domain_may_fold = may_fold_again(domain);
  if (node) {
    auto p = prepare_node(*node);
    QUORVEL_CHECK(p.ok() && (node_may_fold || p->str() == *node), input);
  }
  auto d = prepare_domain(domain);
  QUORVEL_CHECK(d.ok() && (domain_may_fold || d->str() == domain), input);
  if (resource) {
    auto p = prepare_resource(*resource);
    QUORVEL_CHECK(p.ok() && p->str() == *resource, input);
  }
  auto again = parse_address(t);
  QUORVEL_CHECK(again.ok(), input);
  QUORVEL_CHECK(node_may_fold || node_part(*again) == node, input);
  QUORVEL_CHECK(domain_may_fold || domain_part(*again) == domain, input);
  QUORVEL_CHECK(resource_part(*again) == resource, input);
  if (!node_may_fold && !domain_may_fold) {
    QUORVEL_CHECK(*again == v && again->localpart_end() == v.localpart_end() &&
                      again->slash_position() == v.slash_position(),
                  input);
  }
}

// The outcome parse_address must have, worked out part by part from the raw
// split: the first separator, then the one after an "@", then each part's own
// preparation in the order localpart, domain, resource.
inline std::optional<JidError> expected_parse_error(std::string_view t) {
  constexpr auto npos = std::string_view::npos;
  std::size_t at = npos;
  std::size_t slash = npos;
  const std::size_t first = t.find_first_of("@/");
  if (first != npos && t[first] == '@') {
    at = first;
    const std::size_t next = t.find_first_of("@/", at + 1);
    if (next != npos && t[next] == '@') return JidError::TooManyAts;
    slash = next;
  } else {
    slash = first;
  }
  if (at != npos) {
    auto r = prepare_node(t.substr(0, at));
    if (!r) return r.error();
  }
  const std::size_t ds = at == npos ? 0 : at + 1;
  const std::size_t de = slash == npos ? t.size() : slash;
  if (auto r = prepare_domain(t.substr(ds, de - ds)); !r) return r.error();
  if (slash != npos) {
    auto r = prepare_resource(t.substr(slash + 1));
    if (!r) return r.error();
  }
  return std::nullopt;
}

}  // namespace quorvel::fuzz

// The part-by-part parse both standards share: the split, each part
// prepared by the standard's own functions, then one buffer (or the input
// itself, when every part is its own preparation).
//
// A template over the standard's rules, so that each standard's parse calls
// its preparations directly (an indirect call per part showed in the
// instruction counts of the usual non-ASCII address).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "quorvel/address.h"
#include "quorvel/jid_value.h"
#include "quorvel/prepared_text.h"
#include "quorvel/result.h"
#include "simd/scan.h"

namespace quorvel {

// is_plain_resource, inline in the parse: a call per resource costs more
// than the scan of the usual short one.
[[gnu::always_inline]] inline bool plain_resource(std::string_view text) noexcept {
  return !text.empty() && text.size() <= kMaxPartBytes && scan::is_printable_ascii(text);
}

// Rules has static member functions node, domain and resource, each
// Result<PreparedText>(std::string_view). resource is not called for plain
// printable ASCII of 1 to 1023 bytes, which both resource profiles keep as
// it is. `at` and `slash` are the split's positions (npos where the text has
// no such separator). Inlined into the callers each standard has.
template <typename Rules>
[[gnu::always_inline]] inline Result<JidValue> parse_split_parts(std::string_view text,
                                                                 std::size_t at,
                                                                 std::size_t slash) {
  constexpr auto npos = std::string_view::npos;
  std::optional<PreparedText> node;
  if (at != npos) {
    Result<PreparedText> r = Rules::node(text.substr(0, at));
    if (!r) return r.error();
    node.emplace(std::move(r).value());
  }
  const std::size_t domain_start = at == npos ? 0 : at + 1;
  const std::size_t domain_end = slash == npos ? text.size() : slash;
  Result<PreparedText> domain = Rules::domain(text.substr(domain_start, domain_end - domain_start));
  if (!domain) return domain.error();
  std::optional<PreparedText> resource;
  if (slash != npos) {
    const std::string_view rest = text.substr(slash + 1);
    // The usual resource, plain printable ASCII, is kept as it is: no
    // profile (is_plain_resource is held to resourceprep and OpaqueString by
    // the tests: both keep every such byte).
    if (plain_resource(rest)) {
      resource.emplace(PreparedText::unchanged(rest));
    } else {
      Result<PreparedText> r = Rules::resource(rest);
      if (!r) return r.error();
      resource.emplace(std::move(r).value());
    }
  }

  const bool unchanged = (!node || node->unchanged()) && domain->unchanged() &&
                         (!resource || resource->unchanged());
  if (unchanged) {
    // The normalised text is the input: one copy, positions from the split.
    return JidValue(text, static_cast<std::uint16_t>(at == npos ? 0 : at),
                    static_cast<std::uint16_t>(slash == npos ? 0 : slash));
  }
  std::optional<Part> node_part;
  if (node) node_part.emplace(*node);
  std::optional<Part> resource_part;
  if (resource) resource_part.emplace(*resource);
  return join_parts(node_part, Part(*domain), resource_part);
}

// The split, then the parts. RFC 7622 sections 3.1-3.2 split as RFC 6122
// does: the resourcepart is what follows the first "/", the localpart what
// precedes the first "@" before it; a second "@" before any "/" would be in
// the domainpart.
template <typename Rules>
[[gnu::always_inline]] inline Result<JidValue> parse_part_by_part(std::string_view text) {
  constexpr auto npos = std::string_view::npos;
  const std::size_t first = scan::find_separator(text, 0);
  std::size_t at = npos;
  std::size_t slash = npos;
  if (first != npos && text[first] == '@') {
    at = first;
    const std::size_t next = scan::find_separator(text, at + 1);
    if (next != npos) {
      if (text[next] == '@') return JidError::TooManyAts;
      slash = next;
    }
  } else {
    slash = first;
  }
  return parse_split_parts<Rules>(text, at, slash);
}

// The same split read from a mask of the text's separators ("@" and "/";
// bit i for byte i) that the caller's classification already made, for a
// text of at most 64 bytes: the first two set bits are the two
// find_separator calls above.
template <typename Rules>
[[gnu::always_inline]] inline Result<JidValue> parse_part_by_part(std::string_view text,
                                                                  std::uint64_t separators) {
  constexpr auto npos = std::string_view::npos;
  std::size_t at = npos;
  std::size_t slash = npos;
  if (separators != 0) {
    const auto first = static_cast<std::size_t>(__builtin_ctzll(separators));
    if (text[first] == '@') {
      at = first;
      const std::uint64_t rest = separators & (separators - 1);
      if (rest != 0) {
        const auto next = static_cast<std::size_t>(__builtin_ctzll(rest));
        if (text[next] == '@') return JidError::TooManyAts;
        slash = next;
      }
    } else {
      slash = first;
    }
  }
  return parse_split_parts<Rules>(text, at, slash);
}

}  // namespace quorvel

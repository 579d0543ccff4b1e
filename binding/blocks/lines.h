// The lines of a block as the command-line tool reads them, and what it
// does with one: shared by the block route on the calling thread and its
// threaded twin (threaded_lines.h), so that both read and parse a line
// the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "quorvel/address.h"
#include "quorvel/precis.h"
#include "simd/scan.h"
#include "unicode/utf8_codec.h"

namespace quorvel::binding::blocks {

enum class Part { Full, Bare, Node, Domain, Resource };

inline std::string_view part_of(const JidValue& v, Part part) noexcept {
  switch (part) {
    case Part::Full:
      return v.text();
    case Part::Bare:
      return bare_text(v);
    case Part::Node:
      return node_part(v).value_or(std::string_view());
    case Part::Domain:
      return domain_part(v);
    case Part::Resource:
      return resource_part(v).value_or(std::string_view());
  }
  return v.text();
}

inline bool is_utf8(std::string_view s) noexcept {
  if (scan::is_ascii(s)) return true;
  for (std::size_t i = 0; i < s.size();) {
    if (utf8::decode(s, i) == utf8::kInvalid) return false;
  }
  return true;
}

// The lines the tool skips: empty ones and comments, a line that is "#"
// alone or starts with "# " (_sources.skipped, the per-line route's rule).
inline bool skipped(std::string_view line) noexcept {
  return line.empty() || line == "#" || line.substr(0, 2) == "# ";
}

// What the per-line route does with a line: j.full = text, or j.bare = text
// with bare_only, by RFC 6122 or RFC 7622.
inline Result<JidValue> parse_line(std::string_view line, bool bare_only, bool rfc7622) {
  return rfc7622 ? (bare_only ? precis::parse_bare_address(line) : precis::parse_address(line))
                 : (bare_only ? parse_bare_address(line) : parse_address(line));
}

// --compare: whether RFC 6122 and RFC 7622 treat a line differently (one
// accepts and the other refuses, or both accept as different text).
inline bool profiles_differ(std::string_view line) {
  const Result<JidValue> old = parse_address(line);
  const Result<JidValue> now = precis::parse_address(line);
  return !(old.ok() == now.ok() && (!old.ok() || old->text() == now->text()));
}

// The lines of a block one by one: each loses its "\n" or "\r\n", and
// `visit(line_number, line)` sees every line the tool does not skip.
// Returns the number of lines, skipped ones included.
template <class Visit>
std::uint64_t for_each_line(std::string_view data, std::uint64_t first_line, Visit visit) {
  std::uint64_t line_no = first_line;
  std::size_t pos = 0;
  while (pos < data.size()) {
    const std::size_t newline = data.find('\n', pos);
    const std::size_t end = newline == std::string_view::npos ? data.size() : newline;
    std::string_view line = data.substr(pos, end - pos);
    if (newline != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    pos = newline == std::string_view::npos ? data.size() : newline + 1;
    const std::uint64_t this_line = line_no++;
    if (!skipped(line)) visit(this_line, line);
  }
  return line_no - first_line;
}

}  // namespace quorvel::binding::blocks

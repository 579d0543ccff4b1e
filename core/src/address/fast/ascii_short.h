// The plain-ASCII fast path for texts of at most 63 bytes, from the masks of
// short_masks.h: one classification, then integer operations on the masks.
// One definition, compiled once per classifier.
#pragma once

#include <string_view>

#include "address/fast/plain_layout.h"
#include "quorvel/jid_value.h"
#include "quorvel/result.h"
#include "simd/short_masks.h"

namespace quorvel::ascii {

// Positions are bit numbers of 64-bit masks, so that every range mask is
// (1 << k) - 1 with k < 64 and needs no test for k == 64.
inline constexpr std::size_t kShortLayoutMax = 63;

// The layout of a text of at most kShortLayoutMax bytes, or !ok; `isa` must
// be one this processor runs (see best_isa).
PlainLayout short_layout(std::string_view text, Isa isa) noexcept;
// The same under RFC 7622's rules (precis_short_parser's fast path).
PlainLayout precis_short_layout(std::string_view text, Isa isa) noexcept;

// parse_address for a text of at most kShortLayoutMax bytes: the fast path,
// or the general path when the layout is not ok.
using ShortParser = Result<JidValue> (*)(std::string_view text);
ShortParser short_parser(Isa isa) noexcept;

// The same under RFC 7622: the general path it falls back on is that of
// quorvel/precis.h, and a domain takes the fast path only when it is
// letters, digits, hyphens and dots.
ShortParser precis_short_parser(Isa isa) noexcept;

// The parsers for the best variant this processor runs, picked once.
inline ShortParser best_short_parser() noexcept {
  static const ShortParser parser = short_parser(best_isa());
  return parser;
}
inline ShortParser best_precis_short_parser() noexcept {
  static const ShortParser parser = precis_short_parser(best_isa());
  return parser;
}

}  // namespace quorvel::ascii

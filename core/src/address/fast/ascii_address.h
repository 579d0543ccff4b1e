// The whole address in one pass for the common case: plain ASCII whose
// every part is valid as written or after folding capitals. Texts of up to
// 63 bytes go through the mask-based path of ascii_short.h, longer ones
// through a segment-by-segment scan.
#pragma once

#include <optional>
#include <string_view>

#include "address/fast/plain_layout.h"
#include "quorvel/jid_value.h"
#include "quorvel/result.h"
#include "simd/short_masks.h"

namespace quorvel {

// The layout of `text` when it is plain ASCII and valid without anything
// but ASCII folding (no IP literal, no trailing dot, no Punycode label);
// !ok for every other text, valid or not: the general path decides those,
// so errors and their order stay its business.
PlainLayout plain_ascii_layout(std::string_view text, ascii::Isa isa) noexcept;
inline PlainLayout plain_ascii_layout(std::string_view text) noexcept {
  return plain_ascii_layout(text, ascii::best_isa());
}

// Texts longer than the short path takes: a segment-by-segment scan, and
// the value from its layout (which must be ok; fold_end only, no capitals
// mask).
PlainLayout long_plain_ascii_layout(std::string_view text) noexcept;
// The same with a chosen scan (SSE2 for Sse2 and Avx2, or its byte-table
// twin), for the tests that hold every variant to the same answers.
PlainLayout long_plain_ascii_layout(std::string_view text, ascii::Isa isa) noexcept;
JidValue build_plain(std::string_view text, const PlainLayout& layout);

// parse_address with a chosen variant of the short-text path and of the
// long-text scan, for the tests that hold every variant this processor runs
// to the same answers.
Result<JidValue> parse_address_with(std::string_view text, ascii::Isa isa);

namespace precis {
// quorvel::precis::parse_address with a chosen variant, as above.
Result<JidValue> parse_address_with(std::string_view text, ascii::Isa isa);
}  // namespace precis

// The general path alone; parse_address tries the fast paths first. For the
// tests that prove they agree.
Result<JidValue> parse_address_general(std::string_view text);

}  // namespace quorvel

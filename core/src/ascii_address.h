// The whole address in one pass for the common case: plain ASCII whose
// every part is valid as written or after folding capitals.
#pragma once

#include <optional>
#include <string_view>

#include "quorvel/jid_value.h"
#include "quorvel/result.h"

namespace quorvel {

// The value parse_address gives `text`, when `text` is plain ASCII and
// valid without anything but ASCII folding (no IP literal, no trailing dot,
// no Punycode label). Absent for every other text, valid or not: the
// general path decides those, so errors and their order stay its business.
std::optional<JidValue> parse_plain_ascii(std::string_view text);

// The general path alone; parse_address tries the one above first. For the
// tests that prove the two agree.
Result<JidValue> parse_address_general(std::string_view text);

}  // namespace quorvel

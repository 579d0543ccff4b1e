// The RFC 7622 part-by-part parse for a caller that has classified the
// text's bytes already: the short-address path, which loads a text of up to
// 63 bytes into vector registers and finds that it holds non-ASCII bytes,
// hands over the mask of its separators instead of having them searched for
// again. Its twin is precis::parse_address_general (quorvel/precis.h).
#pragma once

#include <cstdint>
#include <string_view>

#include "quorvel/jid_value.h"
#include "quorvel/result.h"

namespace quorvel::precis {

// `separators` has bit i set exactly where byte i of `text` (at most 64
// bytes) is "@" or "/".
Result<JidValue> parse_address_general(std::string_view text, std::uint64_t separators);

}  // namespace quorvel::precis

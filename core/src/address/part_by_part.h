// The part-by-part parse both standards share: the split, each part
// prepared by the standard's own functions, then one buffer (or the input
// itself, when every part is its own preparation).
#pragma once

#include <string_view>

#include "quorvel/jid_value.h"
#include "quorvel/prepared_text.h"
#include "quorvel/result.h"

namespace quorvel {

struct PartRules {
  Result<PreparedText> (*node)(std::string_view);
  Result<PreparedText> (*domain)(std::string_view);
  // Not called for plain printable ASCII of 1 to 1023 bytes, which both
  // resource profiles keep as it is.
  Result<PreparedText> (*resource)(std::string_view);
};

Result<JidValue> parse_part_by_part(std::string_view text, const PartRules& rules);

}  // namespace quorvel

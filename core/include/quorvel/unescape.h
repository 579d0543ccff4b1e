// Undoing the escape sequences of an escaped localpart (XEP-0106).
#pragma once

#include <string_view>

#include "quorvel/jid_error.h"
#include "quorvel/prepared_text.h"
#include "quorvel/result.h"

namespace quorvel {

// `text` is a prepared localpart. Returns it unchanged when it holds no
// backslash; fails with NodePrep when the result starts or ends with a space.
Result<PreparedText> unescape_localpart(std::string_view text);

}  // namespace quorvel

// The general route of escape_localpart, which takes any text. The public
// function sends printable ASCII another way; the tests hold that way to
// this one.
#pragma once

#include <string>
#include <string_view>

#include "quorvel/escape.h"

namespace quorvel {

Result<std::string, EscapeError> escape_localpart_general(std::string_view text);

}  // namespace quorvel

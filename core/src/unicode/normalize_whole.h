// The slow twin of normalize.h, for tests: the whole text decomposed,
// ordered and composed in one piece, with no quick check and no segments.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::unicode {

// NFKC (compat) or NFC of valid UTF-8 `s`.
std::string normalize_whole(std::string_view s, bool compat);

}  // namespace quorvel::unicode

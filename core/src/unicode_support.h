// The Unicode services the profiles take from ICU: NFKC and bidi classes.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::unicode {

// True when `s` (valid UTF-8) is already in NFKC.
bool is_nfkc(std::string_view s);

// NFKC of `s` (valid UTF-8), appended to `out`. Linear in the input even for
// long runs of combining marks.
void append_nfkc(std::string_view s, std::string& out);

enum class BidiCategory : unsigned char { RandAL, L, Other };
BidiCategory bidi_category(char32_t c) noexcept;

}  // namespace quorvel::unicode

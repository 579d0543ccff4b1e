// NFKC for the profiles, through ICU (the bidi classes live in the
// character table).
#pragma once

#include <string>
#include <string_view>

namespace quorvel::unicode_icu {

// NFKC of `s` (valid UTF-8). Returns false, leaving `out` untouched, when
// `s` is already normalised; otherwise writes the normal form to `out`.
// Linear in the input even for long runs of combining marks.
bool to_nfkc(std::string_view s, std::string& out);

}  // namespace quorvel::unicode_icu

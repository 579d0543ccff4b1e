// Unicode normalisation (NFC and NFKC) on UTF-8.
//
// TEMPORARY: this branch carries a stand-in over ICU until the built-in
// normaliser lands on main with this same interface; then this header and
// normalize_icu_shim.cpp go.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::unicode {

// NFKC of `s`. Returns false, leaving `out` untouched, when `s` is already
// NFKC; otherwise writes the normal form to `out` and returns true.
bool to_nfkc(std::string_view s, std::string& out);

// The same for NFC.
bool to_nfc(std::string_view s, std::string& out);

// Whether `s` is NFC.
bool is_nfc(std::string_view s);

}  // namespace quorvel::unicode

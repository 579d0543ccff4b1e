// Unicode normalisation (NFC and NFKC) on UTF-8, with the data of Unicode
// 17.0 built into the library, so that every machine gives the same answer.
//
// Each function expects valid UTF-8. An ill-formed byte is never a reason to
// crash or to read out of bounds: it is kept as it is and ends any
// normalisation segment around it.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::unicode {

// NFKC of `s`. Returns false, leaving `out` untouched, when `s` is already
// NFKC; otherwise writes the normal form to `out` and returns true. Linear in
// the input, whatever it holds (long runs of combining marks included), and
// allocates nothing when `s` is already normalised.
bool to_nfkc(std::string_view s, std::string& out);

// The same for NFC.
bool to_nfc(std::string_view s, std::string& out);

// Whether `s` is NFC; never allocates unless `s` holds a segment of more than
// a few dozen code points that needs a closer look.
bool is_nfc(std::string_view s);

}  // namespace quorvel::unicode

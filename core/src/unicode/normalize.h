// Unicode normalisation (NFC and NFKC) on UTF-8, with the data of Unicode
// 17.0 built into the library, so that every machine gives the same answer.
//
// Each function expects valid UTF-8. An ill-formed byte is never a reason to
// crash or to read out of bounds: it is kept as it is and ends any
// normalisation segment around it.
#pragma once

#include <string>
#include <string_view>

#include "tables/normalization.h"

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

// Whether c has NFC_QC=Yes and combining class 0. A text of such code points
// alone is NFC, in any order (UAX #15's quick check answers Yes for it), so
// a loop that looks at every code point anyway can spare itself is_nfc.
// Nearly every letter of a modern script is such a code point.
inline bool nfc_inert(char32_t c) noexcept {
  if (c < generated::kNfcFirstInteresting) return true;
  const std::uint16_t p = generated::props_lookup(c);
  return (p & 0xFF) == 0 && (p & generated::kNfcCheck) == 0;
}

}  // namespace quorvel::unicode

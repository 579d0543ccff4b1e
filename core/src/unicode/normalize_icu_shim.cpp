// TEMPORARY stand-in for the built-in normaliser (see normalize.h). to_nfkc
// stays in unicode_support.cpp.
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>

#include <new>

#include "normalize.h"

namespace quorvel::unicode {
namespace {

const icu::Normalizer2& nfc() {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status) || n == nullptr) throw std::bad_alloc();
  return *n;
}

icu::StringPiece piece(std::string_view s) {
  return icu::StringPiece(s.data(), static_cast<int32_t>(s.size()));
}

}  // namespace

bool is_nfc(std::string_view s) {
  UErrorCode status = U_ZERO_ERROR;
  const bool yes = nfc().isNormalizedUTF8(piece(s), status);
  return U_SUCCESS(status) && yes;
}

bool to_nfc(std::string_view s, std::string& out) {
  if (is_nfc(s)) return false;
  std::string result;
  icu::StringByteSink<std::string> sink(&result, static_cast<int32_t>(s.size()));
  UErrorCode status = U_ZERO_ERROR;
  nfc().normalizeUTF8(0, piece(s), sink, nullptr, status);
  if (U_FAILURE(status)) throw std::bad_alloc();
  out = std::move(result);
  return true;
}

}  // namespace quorvel::unicode

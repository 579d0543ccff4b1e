// The built-in NFC and NFKC: no crash on any bytes, the "unchanged" contract,
// idempotence, and on valid UTF-8 of characters ICU's Unicode version has,
// ICU's own normal forms.
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include "checks.h"
#include "unicode/normalize.h"

using namespace quorvel;

namespace {

bool icu_has_all(std::string_view s) {
  UVersionInfo version;
  u_getUnicodeVersion(version);
  std::int32_t i = 0;
  const auto n = static_cast<std::int32_t>(s.size());
  while (i < n) {
    UChar32 c;
    U8_NEXT(reinterpret_cast<const std::uint8_t*>(s.data()), i, n, c);
    UVersionInfo age;
    u_charAge(c, age);
    if (age[0] == 0 && age[1] == 0) return false;
    if (std::lexicographical_compare(version, version + 4, age, age + 4)) return false;
  }
  return true;
}

std::string icu_normalize(const icu::Normalizer2& n, std::string_view s) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString out =
      n.normalize(icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size()))), status);
  std::string utf8;
  out.toUTF8String(utf8);
  return utf8;
}

// One form: returns its normal form of `input`, checking the contract.
template <class F>
std::string form(F to_form, std::string_view input) {
  std::string out = "\x01untouched";
  const bool changed = to_form(input, out);
  if (!changed) {
    QUORVEL_CHECK(out == "\x01untouched", input);
    return std::string(input);
  }
  QUORVEL_CHECK(out != input, input);
  std::string again;
  QUORVEL_CHECK(!to_form(out, again), input);  // a normal form is its own normal form
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  const std::string nfkc = form(unicode::to_nfkc, input);
  const std::string nfc = form(unicode::to_nfc, input);
  QUORVEL_CHECK(unicode::is_nfc(input) == (nfc == input), input);
  if (!fuzz::valid_utf8(input) || !icu_has_all(input)) return 0;
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* icu_nfkc = icu::Normalizer2::getNFKCInstance(status);
  const icu::Normalizer2* icu_nfc = icu::Normalizer2::getNFCInstance(status);
  QUORVEL_CHECK(U_SUCCESS(status), input);
  QUORVEL_CHECK(nfkc == icu_normalize(*icu_nfkc, input), input);
  QUORVEL_CHECK(nfc == icu_normalize(*icu_nfc, input), input);
  return 0;
}

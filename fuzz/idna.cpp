// The domain's UTS #46 check on any bytes: no crash, the verdict alone (with
// its shortcuts) agreeing with the full run, a passing domain's ASCII form
// passing again unchanged, and, where ICU is installed, ICU's verdict on
// every text of characters its Unicode version has, up to the listed
// differences.
#include "checks.h"
#include "domain/idna_check.h"
#include "unicode/to_ascii.h"

#if QUORVEL_HAVE_ICU
#include "idna_icu_oracle.h"
#include "unicode/utf8_codec.h"
#endif

using namespace quorvel;

namespace {

const unicode::idna::Options kCore{.denied = &idna::kDeniedBytes};

#if QUORVEL_HAVE_ICU
// Valid UTF-8 whose every character ICU's data has, with the same UTS #46
// status in ICU's table and in ours.
bool icu_can_judge(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const char32_t c = utf8::decode(s, i);
    if (c == utf8::kInvalid || !testing::icu_knows(c) || testing::changed_after_15(c)) return false;
  }
  return true;
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  std::string ascii;
  const std::uint32_t errors = unicode::idna::to_ascii(input, kCore, &ascii);
  const bool passes = errors == 0;
  QUORVEL_CHECK((unicode::idna::to_ascii(input, kCore) == 0) == passes, input);
  QUORVEL_CHECK(idna::check(input) == passes, input);
  std::string processed;
  unicode::idna::to_unicode(input, kCore, processed);

  if (passes) {
    QUORVEL_CHECK(!ascii.empty() && ascii.size() <= 253, input);
    for (unsigned char b : ascii) QUORVEL_CHECK(b < 0x80 && !idna::kDeniedBytes[b], input);
    std::string again;
    QUORVEL_CHECK(unicode::idna::to_ascii(ascii, kCore, &again) == 0 && again == ascii, input);
  }

#if QUORVEL_HAVE_ICU
  static const testing::IcuCheck icu;
  // Punycode labels carry characters the input does not show: the
  // processed text must pass the same test.
  if (icu_can_judge(input) && icu_can_judge(processed)) {
    std::string theirs;
    const bool icu_passes = icu.check(input, theirs);
    QUORVEL_CHECK(icu_passes == passes || testing::hyphen_positions_differ_in_utf16(input), input);
  }
#endif
  return 0;
}

// UTS #46 processing (section 4) with its ToASCII (4.2) and ToUnicode (4.3)
// operations, on UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "unicode/idna_options.h"

namespace quorvel::unicode::idna {

// ToASCII of `domain`. Returns the errors recorded (see Error), 0 when there
// are none. With `out`, every step runs and `out` receives the ASCII form,
// errors or not (the form conformance tests compare). Without it only the
// verdict is wanted: processing stops at the first error (the result then
// holds at least that one), and with VerifyDnsLength nothing is allocated
// unless the text needs normalising, and the time is linear in the input.
// Otherwise a Punycode label costs the square of its length, as its full
// decoding is wanted even where it is too long to pass.
std::uint32_t to_ascii(std::string_view domain, const Options& options, std::string* out = nullptr);

// ToUnicode of `domain` into `out`; options.verify_dns_length is not read.
// Returns the errors recorded, 0 when there are none.
std::uint32_t to_unicode(std::string_view domain, const Options& options, std::string& out);

}  // namespace quorvel::unicode::idna

// The UTS #46 ToASCII verdict on a domain, with the address core's options:
// non-transitional, CheckHyphens, CheckBidi, CheckJoiners, VerifyDnsLength,
// no root dot, and in place of the STD3 rules a deny set applied to every
// label after mapping.
#pragma once

#include <string_view>

namespace quorvel::idna {

enum class Verdict { Pass, Fail, NeedsIcu };

// The verdict for a plain-ASCII domain, decided without ICU. Labels that
// start with "xn--" (any case) need Punycode decoding and get NeedsIcu.
Verdict check_ascii(std::string_view domain) noexcept;

// The verdict through ICU; valid for any UTF-8 text.
bool check_icu(std::string_view domain);

// Dispatches between the two.
bool check(std::string_view domain);

// True for the bytes the deny set refuses in a mapped label.
bool is_denied(unsigned char b) noexcept;

}  // namespace quorvel::idna

// Recognising the IP-literal forms a domainpart may take.
#pragma once

#include <string_view>

namespace quorvel::ip {

// Exactly four decimal numbers 0-255 separated by "."; no leading zeros
// (except the single digit 0), nothing else, at most 15 bytes.
bool is_ipv4(std::string_view text) noexcept;

// "[" + an RFC 4291 section 2.2 address + "]", without zone index or prefix
// length; hexadecimal digits of either case; the last 32 bits may be a
// dotted quad as above.
bool is_bracketed_ipv6(std::string_view text) noexcept;

}  // namespace quorvel::ip

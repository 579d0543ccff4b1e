// The UTS #46 ToASCII verdict on a domain, with the address core's options:
// non-transitional, CheckHyphens, CheckBidi, CheckJoiners, VerifyDnsLength,
// no root dot, and in place of the STD3 rules a deny set applied to every
// label after mapping.
#pragma once

#include <array>
#include <string_view>

namespace quorvel::idna {

// The bytes a mapped label may not contain, in place of the STD3 rules: the
// controls, the space, DEL and the ASCII characters an address or a URL
// gives a meaning of their own.
inline constexpr std::array<bool, 256> kDeniedBytes = [] {
  std::array<bool, 256> t{};
  for (int b = 0; b <= 0x20; ++b) t[static_cast<std::size_t>(b)] = true;
  for (unsigned char b : {'\x7F', '#', '%', '/', ':', '<', '>', '?', '@', '[', '\\', ']', '^', '|'}) {
    t[b] = true;
  }
  return t;
}();

enum class Verdict { Pass, Fail, NeedsFullCheck };

// The verdict for a plain-ASCII domain, decided by a byte scan. Labels that
// start with "xn--" (any case) need Punycode decoding and get NeedsFullCheck.
Verdict check_ascii(std::string_view domain) noexcept;

// The verdict of the whole UTS #46 processing (the built-in tables, Unicode
// 17.0); valid for any text, and the slow twin of check_ascii.
bool check_full(std::string_view domain);

// Dispatches between the two.
bool check(std::string_view domain);

}  // namespace quorvel::idna

// Punycode (RFC 3492): the Bootstring encoding of a label's code points in
// the letters, digits and hyphen of ASCII, as IDNA writes after "xn--".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quorvel::unicode::punycode {

// Decodes `in` (the text after the "xn--" prefix) into `out`. Returns the
// number of code points written, or nothing when `in` is not Punycode: a
// non-ASCII byte, a character that is not a digit where one is due, a number
// past 32 bits, a result that is not a Unicode scalar value (a surrogate or
// past U+10FFFF), or more than out.size() code points.
// Decoding never yields more code points than `in` has bytes. Quadratic in
// the number of inserted code points: callers bound out.size() where that
// matters.
std::optional<std::size_t> decode(std::string_view in, std::span<char32_t> out) noexcept;

// Encodes `in` (code points, each at most U+10FFFF) into `out` as ASCII
// letters (small), digits and hyphens. Returns the number of bytes written,
// or nothing when a delta passes 32 bits or the result would not fit.
std::optional<std::size_t> encode(std::span<const char32_t> in, std::span<char> out) noexcept;

// A size of `out` that encode() never exceeds for n code points: a basic
// code point takes one byte, the delimiter one, and each inserted code point
// one number of at most 11 digits (each digit but the last divides what is
// left of a 32-bit delta by at least 10).
constexpr std::size_t max_encoded_length(std::size_t n) noexcept { return 11 * n + 1; }

// The count of decimal digits of x >= 1 (part of the bound below).
std::size_t decimal_digits(std::uint64_t x) noexcept;

// An upper bound on what encode() writes for `characters` code points,
// `basic` of them below U+0080 and none above `largest`, found without
// encoding: close enough to show that an everyday label fits the 63 bytes
// of DNS. Exact for labels of basic code points only.
std::size_t encoded_length_bound(std::size_t characters, std::size_t basic,
                                 char32_t largest) noexcept;

}  // namespace quorvel::unicode::punycode

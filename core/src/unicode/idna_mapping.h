// The UTS #46 mapping table: what the first processing step does to each code
// point. Tables are generated per version (tables/idna_mapping_*.h); the
// address core uses 17.0.0, the tests also 16.0.0, whose conformance file
// proves the code that reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tables/idna_mapping_layout.h"

namespace quorvel::unicode::idna {

enum class Status : std::uint8_t { Valid, Deviation, Ignored, Disallowed, Mapped };

// What the table says about one code point.
struct Mapping {
  Status status;
  // Set when the code point (or, for Mapped, its replacement) could make
  // a text that is not NFC; a text without such code points is NFC.
  bool nfc_attention;
  // The replacement's UTF-8 bytes; empty unless status is Mapped.
  std::string_view replacement;
};

namespace detail {

inline std::uint16_t raw(const MappingTable& t, char32_t c) noexcept {
  const std::size_t s = t.shift1 + t.shift2;
  const std::size_t middle = (static_cast<std::size_t>(t.top[c >> s]) << t.shift1) |
                             ((c >> t.shift2) & ((1u << t.shift1) - 1));
  return t.blocks[(static_cast<std::size_t>(t.middle[middle]) << t.shift2) |
                  (c & ((1u << t.shift2) - 1))];
}
}  // namespace detail

// c must be a code point (at most U+10FFFF).
inline Mapping lookup(const MappingTable& t, char32_t c) noexcept {
  const std::uint16_t v = detail::raw(t, c);
  const auto status = static_cast<Status>(v & detail::kStatusMask);
  if (status != Status::Mapped) return {status, (v & detail::kAttentionBit) != 0, {}};
  const std::uint32_t record = t.records[v >> detail::kRecordShift];
  const std::string_view replacement(
      reinterpret_cast<const char*>(t.pool) + (record >> detail::kRecordOffsetShift),
      record & detail::kRecordLengthMask);
  return {status, (record & detail::kRecordAttentionBit) != 0, replacement};
}

// Valid or deviation: what a label may hold under non-transitional
// processing. Cheaper than lookup() when only the status matters.
inline bool is_valid_nontransitional(const MappingTable& t, char32_t c) noexcept {
  const auto status = static_cast<Status>(detail::raw(t, c) & detail::kStatusMask);
  return status == Status::Valid || status == Status::Deviation;
}

// The table the address core uses.
const MappingTable& mapping_17_0_0() noexcept;

}  // namespace quorvel::unicode::idna

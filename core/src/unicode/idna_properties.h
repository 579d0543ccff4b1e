// The Unicode 17.0 character properties the UTS #46 validity criteria read,
// from the generated table.
#pragma once

#include <cstdint>

#include "tables/idna_properties.h"

namespace quorvel::unicode::idna {

using generated::BidiClass;
using generated::JoiningType;

struct CharProperties {
  std::uint16_t bits;

  constexpr BidiClass bidi_class() const noexcept {
    return static_cast<BidiClass>(bits & generated::kBidiMask);
  }
  constexpr JoiningType joining_type() const noexcept {
    return static_cast<JoiningType>((bits >> generated::kJoiningShift) & generated::kJoiningMask);
  }
  // General_Category Mn, Mc or Me.
  constexpr bool is_mark() const noexcept { return (bits & generated::kMarkBit) != 0; }
  // Canonical_Combining_Class 9 (Virama).
  constexpr bool is_virama() const noexcept { return (bits & generated::kViramaBit) != 0; }
};

constexpr CharProperties properties(char32_t c) noexcept { return {generated::property_bits(c)}; }

}  // namespace quorvel::unicode::idna

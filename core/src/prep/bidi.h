// The stringprep bidi rule (RFC 3454, section 6) on flags gathered over a
// text: a text with any RandALCat character holds no LCat character and both
// starts and ends with a RandALCat character. The profiles and the one-pass
// domain route keep their flags in different bits, so they name the two bits.
#pragma once

#include <type_traits>

namespace quorvel::prep {

template <typename Bits>
constexpr bool passes_bidi(Bits any, Bits first, Bits last, std::type_identity_t<Bits> rand_al,
                           std::type_identity_t<Bits> l) noexcept {
  return !(any & rand_al) || (!(any & l) && (first & rand_al) && (last & rand_al));
}

}  // namespace quorvel::prep

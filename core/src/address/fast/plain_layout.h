// What the plain-ASCII fast path finds out about a text: whether it is a
// valid address as written or after folding capitals, where its separators
// are and which bytes fold. The value is built from it in one copy.
#pragma once

#include <cstdint>

namespace quorvel {

struct PlainLayout {
  // Bit i set: byte i is a capital that folds (texts of up to 63 bytes).
  std::uint64_t capitals = 0;
  std::uint16_t localpart_end = 0;   // as JidValue keeps them
  std::uint16_t slash_position = 0;
  // Longer texts: every capital in [0, fold_end) folds.
  std::uint16_t fold_end = 0;
  // False: the text is left to the general path.
  bool ok = false;
};

}  // namespace quorvel

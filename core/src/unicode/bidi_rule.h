// The Bidi Rule of RFC 5893 section 2 for one label, fed the Bidi_Class of
// each character in order, so that a label is judged in the same pass that
// reads it.
#pragma once

#include <cstdint>

#include "idna_properties.h"

namespace quorvel::unicode::idna {

class BidiRule {
 public:
  void add(BidiClass c) noexcept {
    const std::uint32_t bit = 1u << static_cast<unsigned>(c);
    if (seen_ == 0) first_ = bit;
    seen_ |= bit;
    if (c != BidiClass::NSM) last_strong_or_other_ = bit;
  }

  // Whether the label holds a character of class R, AL or AN: a domain with
  // one such label is a Bidi domain name, and then every label must pass.
  bool has_rtl_character() const noexcept;

  // All six conditions, for the characters added so far taken as the whole
  // label. An empty label passes (there is nothing to judge).
  bool passes() const noexcept;

 private:
  std::uint32_t seen_ = 0;
  std::uint32_t first_ = 0;
  // The last character that is not NSM (condition 3 and 6 look past NSMs).
  std::uint32_t last_strong_or_other_ = 0;
};

}  // namespace quorvel::unicode::idna

// The Bidi Rule of RFC 5893 section 2 for one label, fed the Bidi_Class of
// each character in order, so that a label is judged in the same pass that
// reads it.
#pragma once

#include <cstdint>

#include "unicode/idna_properties.h"

namespace quorvel::unicode::idna {

// The rule on a label's character classes as sets (bit 1 << class): all the
// classes it holds, the class of its first character, and that of its last
// character that is not NSM (0 when there is none). BidiRule keeps these
// sets; a caller that gathers them itself asks here.
bool has_rtl_character(std::uint32_t seen) noexcept;
bool label_passes_bidi_rule(std::uint32_t seen, std::uint32_t first,
                            std::uint32_t last_strong_or_other) noexcept;

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
  bool has_rtl_character() const noexcept { return idna::has_rtl_character(seen_); }

  // All six conditions, for the characters added so far taken as the whole
  // label. An empty label passes (there is nothing to judge).
  bool passes() const noexcept {
    return label_passes_bidi_rule(seen_, first_, last_strong_or_other_);
  }

 private:
  std::uint32_t seen_ = 0;
  std::uint32_t first_ = 0;
  // The last character that is not NSM (condition 3 and 6 look past NSMs).
  std::uint32_t last_strong_or_other_ = 0;
};

}  // namespace quorvel::unicode::idna

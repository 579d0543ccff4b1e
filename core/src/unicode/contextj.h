// CONTEXTJ (RFC 5892 appendix A.1 and A.2): where U+200C ZERO WIDTH
// NON-JOINER and U+200D ZERO WIDTH JOINER may stand in a label. Fed one
// character at a time, so that the label is judged in the pass that reads it.
#pragma once

#include "unicode/idna_properties.h"

namespace quorvel::unicode::idna {

class JoinerRule {
 public:
  void add(char32_t c, CharProperties p) noexcept;

  // Whether every joiner added so far meets its rule, taking the characters
  // added so far as the whole label.
  bool passes() const noexcept { return !failed_ && !awaiting_right_side_; }

 private:
  bool failed_ = false;
  bool previous_is_virama_ = false;
  bool have_non_transparent_ = false;
  JoiningType last_non_transparent_ = JoiningType::U;
  // A ZERO WIDTH NON-JOINER that joined on its left and needs a right- or
  // dual-joining character after any transparent ones.
  bool awaiting_right_side_ = false;
};

}  // namespace quorvel::unicode::idna

#include "unicode/contextj.h"

namespace quorvel::unicode::idna {

namespace {
constexpr char32_t kZwnj = 0x200C;
constexpr char32_t kZwj = 0x200D;
}  // namespace

void JoinerRule::add(char32_t c, CharProperties p) noexcept {
  const JoiningType type = p.joining_type();
  if (awaiting_right_side_ && type != JoiningType::T) {
    awaiting_right_side_ = false;
    if (type != JoiningType::R && type != JoiningType::D) failed_ = true;
  }
  if (c == kZwnj || c == kZwj) {
    // Both are allowed right after a virama (A.1 and A.2, first rule).
    if (!previous_is_virama_) {
      // A.1, second rule: (L|D) T* ZWNJ T* (R|D); A.2 has no other rule.
      const bool left_joins = have_non_transparent_ && (last_non_transparent_ == JoiningType::L ||
                                                        last_non_transparent_ == JoiningType::D);
      if (c == kZwnj && left_joins) {
        awaiting_right_side_ = true;
      } else {
        failed_ = true;
      }
    }
  }
  previous_is_virama_ = p.is_virama();
  if (type != JoiningType::T) {
    have_non_transparent_ = true;
    last_non_transparent_ = type;
  }
}

}  // namespace quorvel::unicode::idna

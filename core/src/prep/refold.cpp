#include "prep/refold.h"

#include "prep/char_tables.h"
#include "unicode/utf8_codec.h"

namespace quorvel {

bool may_fold_again(std::string_view part) {
  for (std::size_t i = 0; i < part.size();) {
    const char32_t c = utf8::decode(part, i);
    if (c != utf8::kInvalid && (tables::flags(c) & tables::kCaseFold) != 0) return true;
  }
  return false;
}

}  // namespace quorvel

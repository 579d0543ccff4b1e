// The contextual rules of RFC 5892 appendix A, which PRECIS (RFC 8264
// section 9.2-9.3) and IDNA2008 share: CONTEXTJ for the two joiners,
// CONTEXTO for the eleven other code points whose validity depends on their
// neighbours or on the rest of the string.
#pragma once

#include <span>

namespace quorvel::precis {

// Whether every CONTEXTJ and CONTEXTO code point of `text` (a whole PRECIS
// string, or one label) meets its rule. Code points of other values are not
// judged here, only read as context.
bool passes_context_rules(std::span<const char32_t> text) noexcept;

// Whether `c` is one of the code points those rules are about.
constexpr bool is_contextual(char32_t c) noexcept {
  return c == 0x00B7 || c == 0x0375 || c == 0x05F3 || c == 0x05F4 || c == 0x30FB ||
         (c >= 0x0660 && c <= 0x0669) || (c >= 0x06F0 && c <= 0x06F9) || c == 0x200C ||
         c == 0x200D;
}

}  // namespace quorvel::precis

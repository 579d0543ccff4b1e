#include "precis/context_rules.h"

#include "precis/properties.h"
#include "unicode/contextj.h"
#include "unicode/idna_properties.h"

namespace quorvel::precis {
namespace {

bool has_flag(std::span<const char32_t> text, std::size_t i, std::uint16_t flag) noexcept {
  return i < text.size() && info(text[i]).has(flag);
}

bool any_in(std::span<const char32_t> text, char32_t low, char32_t high) noexcept {
  for (char32_t c : text) {
    if (c >= low && c <= high) return true;
  }
  return false;
}

bool any_with(std::span<const char32_t> text, std::uint16_t flag) noexcept {
  for (char32_t c : text) {
    if (info(c).has(flag)) return true;
  }
  return false;
}

// Appendix A.3-A.9, for the code point at i.
bool passes_contexto(std::span<const char32_t> text, std::size_t i) noexcept {
  const char32_t c = text[i];
  switch (c) {
    case 0x00B7:  // MIDDLE DOT: between two "l" (Catalan "l·l")
      return i > 0 && i + 1 < text.size() && text[i - 1] == 'l' && text[i + 1] == 'l';
    case 0x0375:  // GREEK LOWER NUMERAL SIGN: before a Greek character
      return has_flag(text, i + 1, generated::kGreek);
    case 0x05F3:  // HEBREW PUNCTUATION GERESH and GERSHAYIM: after a Hebrew one
    case 0x05F4:
      return i > 0 && has_flag(text, i - 1, generated::kHebrew);
    case 0x30FB:  // KATAKANA MIDDLE DOT: in a string with Hiragana, Katakana or Han
      return any_with(text, generated::kHiraganaKatakanaHan);
    default:
      break;
  }
  // The two sets of Arabic-Indic digits must not be mixed.
  if (c >= 0x0660 && c <= 0x0669) return !any_in(text, 0x06F0, 0x06F9);
  if (c >= 0x06F0 && c <= 0x06F9) return !any_in(text, 0x0660, 0x0669);
  return true;
}

}  // namespace

bool passes_context_rules(std::span<const char32_t> text) noexcept {
  bool joiners = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (!is_contextual(c)) continue;
    if (c == 0x200C || c == 0x200D) {
      joiners = true;
    } else if (!passes_contexto(text, i)) {
      return false;
    }
  }
  if (!joiners) return true;
  // The joiner rules read the joining type of every code point in order.
  unicode::idna::JoinerRule rule;
  for (char32_t c : text) rule.add(c, unicode::idna::properties(c));
  return rule.passes();
}

}  // namespace quorvel::precis

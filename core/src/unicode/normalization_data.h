// Look-ups over the generated normalisation tables, and the arithmetic that
// replaces tables for Hangul syllables.
#pragma once

#include <cstdint>
#include <span>

#include "tables/normalization.h"

namespace quorvel::unicode::nf {

namespace g = generated;

// A decomposed code point as the normaliser handles it: the code point in
// bits 0-20, kCombinesBack when it may be the second of a composition, the
// canonical combining class in bits 24-31. Decomposition tables store their
// elements this way, so the slow path reads each property once.
using Element = std::uint32_t;
inline constexpr Element kCodePointMask = 0x1FFFFF;
inline constexpr Element kCombinesBack = g::kElementCombinesBack;

constexpr char32_t code_point(Element e) noexcept { return e & kCodePointMask; }
constexpr std::uint8_t combining_class(Element e) noexcept {
  return static_cast<std::uint8_t>(e >> 24);
}

// The per-code-point word: combining class in bits 0-7, quick-check and
// boundary bits above (see tools/unicode/normalization.py).
constexpr std::uint16_t props(char32_t c) noexcept { return g::props_lookup(c); }

constexpr Element element(char32_t c, std::uint16_t p) noexcept {
  return static_cast<Element>(c) | (static_cast<Element>(p & 0xFF) << 24) |
         ((p & g::kCombinesBack) ? kCombinesBack : 0);
}

// Hangul (Unicode chapter 3.12): syllables are L V or L V T, in order.
namespace hangul {
inline constexpr char32_t kSBase = 0xAC00, kLBase = 0x1100, kVBase = 0x1161, kTBase = 0x11A7;
inline constexpr char32_t kLCount = 19, kVCount = 21, kTCount = 28;
inline constexpr char32_t kNCount = kVCount * kTCount, kSCount = kLCount * kNCount;

constexpr bool is_syllable(char32_t c) noexcept { return c - kSBase < kSCount; }
}  // namespace hangul

// The full decomposition of c (not a Hangul syllable) under the canonical or
// the compatibility mapping; empty when c decomposes to itself.
template <bool Compat>
std::span<const Element> decomposition(char32_t c) noexcept {
  const std::uint16_t at = Compat ? g::nfkd_index_lookup(c) : g::nfd_index_lookup(c);
  if (at == 0) return {};
  return {g::decomposition_pool + at + 1, g::decomposition_pool[at]};
}

// The primary composite of a starter and the code point that follows it
// unblocked, or 0 when there is none.
constexpr char32_t compose(char32_t first, char32_t second) noexcept {
  using namespace hangul;
  if (first - kLBase < kLCount && second - kVBase < kVCount) {
    return kSBase + ((first - kLBase) * kVCount + (second - kVBase)) * kTCount;
  }
  if (is_syllable(first) && (first - kSBase) % kTCount == 0 && second - kTBase - 1 < kTCount - 1) {
    return first + (second - kTBase);
  }
  const std::uint16_t list = g::composition_first_lookup(first);
  if (list == 0) return 0;
  for (std::uint16_t k = g::composition_bounds[list - 1]; k < g::composition_bounds[list]; ++k) {
    if (g::composition_pairs[2 * k] == second) return g::composition_pairs[2 * k + 1];
  }
  return 0;
}

}  // namespace quorvel::unicode::nf

// Per-code-point properties from the RFC 3454 tables, in a compact two-level
// table built once from libidn's exported tables.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quorvel::tables {

using Flags = std::uint16_t;

enum Flag : Flags {
  kMapToNothing = 1 << 0,  // B.1
  kCaseFold = 1 << 1,      // has an entry in B.2
  kAsciiSpace = 1 << 2,    // C.1.1
  kAsciiControl = 1 << 3,  // C.2.1
  kProhibited = 1 << 4,    // C.1.2, C.2.2, C.3 ... C.9 (prohibited by every profile)
  kUnassigned = 1 << 5,    // A.1
  kNodeExtra = 1 << 6,     // the eight ASCII characters only a localpart refuses
  kRandAL = 1 << 7,        // Bidi_Class R or AL in the Unicode library's data
  kLCat = 1 << 8,          // Bidi_Class L in the Unicode library's data
};

class CharTables {
 public:
  static const CharTables& get();

  Flags flags(char32_t c) const noexcept {
    if (c > 0x10FFFF) return 0;
    return blocks_[(static_cast<std::size_t>(index_[c >> kShift]) << kShift) | (c & kMask)];
  }

  // The B.2 mapping of c; empty when c has none.
  std::span<const char32_t> case_fold(char32_t c) const noexcept;

 private:
  CharTables();

  static constexpr unsigned kShift = 8;
  static constexpr char32_t kMask = (1u << kShift) - 1;

  std::vector<std::uint16_t> index_;
  std::vector<Flags> blocks_;

  struct Fold {
    char32_t from;
    std::uint32_t offset;
    std::uint32_t length;
  };
  std::vector<Fold> folds_;        // sorted by `from`
  std::vector<char32_t> fold_pool_;
};

}  // namespace quorvel::tables

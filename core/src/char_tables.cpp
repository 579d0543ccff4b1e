#include "char_tables.h"

#include <stringprep.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "profile_ascii.h"

namespace quorvel::tables {
namespace {

constexpr char32_t kCodePoints = 0x110000;

// libidn's tables end with an all-zero element; a single code point has
// `end` equal to `start` (older releases leave it 0).
template <class F>
void for_each_range(const Stringprep_table_element* table, F&& f) {
  for (const auto* e = table; !(e->start == 0 && e->end == 0 && e != table); ++e) {
    const char32_t first = e->start;
    const char32_t last = e->end < e->start ? e->start : e->end;
    f(first, last, *e);
    if (e->start == 0 && e->end == 0) break;  // a table whose first element is U+0000 alone
  }
}

void mark(std::vector<Flags>& flat, const Stringprep_table_element* table, Flags flag) {
  for_each_range(table, [&](char32_t first, char32_t last, const Stringprep_table_element&) {
    for (char32_t c = first; c <= last && c < kCodePoints; ++c) flat[c] |= flag;
  });
}

}  // namespace

const CharTables& CharTables::get() {
  // Built on first use; C++ guarantees a single, thread-safe initialisation.
  static const CharTables instance;
  return instance;
}

CharTables::CharTables() {
  std::vector<Flags> flat(kCodePoints, 0);
  mark(flat, stringprep_rfc3454_B_1, kMapToNothing);
  mark(flat, stringprep_rfc3454_B_2, kCaseFold);
  mark(flat, stringprep_rfc3454_C_1_1, kAsciiSpace);
  mark(flat, stringprep_rfc3454_C_2_1, kAsciiControl);
  for (const auto* t : {stringprep_rfc3454_C_1_2, stringprep_rfc3454_C_2_2,
                        stringprep_rfc3454_C_3, stringprep_rfc3454_C_4, stringprep_rfc3454_C_5,
                        stringprep_rfc3454_C_6, stringprep_rfc3454_C_7, stringprep_rfc3454_C_8,
                        stringprep_rfc3454_C_9}) {
    mark(flat, t, kProhibited);
  }
  mark(flat, stringprep_rfc3454_A_1, kUnassigned);
  // The bidirectional categories come from the Unicode library, copied here
  // once so that checking a text needs no property look-ups at all.
  for (char32_t c = 0; c < kCodePoints; ++c) {
    const UCharDirection d = u_charDirection(static_cast<UChar32>(c));
    if (d == U_RIGHT_TO_LEFT || d == U_RIGHT_TO_LEFT_ARABIC) flat[c] |= kRandAL;
    if (d == U_LEFT_TO_RIGHT) flat[c] |= kLCat;
  }
  for (char c : ascii::kNodeOnlyRefused) flat[static_cast<unsigned char>(c)] |= kNodeExtra;

  // Fold identical blocks together: most of the code space shares a handful.
  std::map<std::string, std::uint16_t> seen;
  index_.resize(kCodePoints >> kShift);
  constexpr std::size_t kBlockBytes = sizeof(Flags) << kShift;
  for (char32_t block = 0; block < (kCodePoints >> kShift); ++block) {
    const Flags* first = flat.data() + (static_cast<std::size_t>(block) << kShift);
    const std::string bytes(reinterpret_cast<const char*>(first), kBlockBytes);
    auto [it, inserted] = seen.try_emplace(bytes, static_cast<std::uint16_t>(seen.size()));
    if (inserted) blocks_.insert(blocks_.end(), first, first + (std::size_t{1} << kShift));
    index_[block] = it->second;
  }

  for_each_range(stringprep_rfc3454_B_2,
                 [&](char32_t first, char32_t, const Stringprep_table_element& e) {
                   std::uint32_t len = 0;
                   while (len < STRINGPREP_MAX_MAP_CHARS && e.map[len] != 0) ++len;
                   folds_.push_back(Fold{first, static_cast<std::uint32_t>(fold_pool_.size()), len});
                   fold_pool_.insert(fold_pool_.end(), e.map, e.map + len);
                 });
  std::sort(folds_.begin(), folds_.end(),
            [](const Fold& a, const Fold& b) { return a.from < b.from; });
}

std::span<const char32_t> CharTables::case_fold(char32_t c) const noexcept {
  auto it = std::lower_bound(folds_.begin(), folds_.end(), c,
                             [](const Fold& f, char32_t v) { return f.from < v; });
  if (it == folds_.end() || it->from != c) return {};
  return {fold_pool_.data() + it->offset, it->length};
}

}  // namespace quorvel::tables

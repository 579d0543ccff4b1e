// Groups of equal normalised JIDs over a column's chunk outputs: a dense id
// per row in order of first appearance, the distinct texts and how many
// rows each has. Plain C++ like the row loop, and only views into the chunk
// outputs are kept, so no row costs more than its hash table entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "batch/row_loop.h"

namespace quorvel::binding::batch {

inline constexpr std::int32_t kNoGroup = -1;

struct Grouping {
  std::vector<std::int32_t> ids;        // per row; kNoGroup for null and invalid rows
  std::vector<std::string_view> texts;  // per group, views into the chunk outputs
  std::vector<std::int64_t> counts;     // per group
};

// The table's hash, a type of the module's own: a hash table of only
// standard types would be instantiated with default visibility and
// exported from the module, where another module's copy could take its place.
struct TextHash {
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>()(s); }
};

// Throws std::length_error past 2**31 - 1 groups, which no id could number.
inline Grouping group_rows(const std::vector<ChunkOutput>& outputs) {
  Grouping g;
  std::size_t rows = 0;
  for (const ChunkOutput& c : outputs) rows += c.rows();
  g.ids.resize(rows, kNoGroup);
  std::unordered_map<std::string_view, std::int32_t, TextHash> seen;
  seen.reserve(rows / 4 + 16);
  for_each_row(outputs, [&](std::size_t row, const ChunkOutput& chunk, std::size_t k) {
    if (chunk.status[k] != kRowValid) return;
    const std::string_view text = chunk.text(k);
    auto [it, fresh] = seen.try_emplace(text, static_cast<std::int32_t>(g.texts.size()));
    if (fresh) {
      if (g.texts.size() >= 0x7FFFFFFFu) throw std::length_error("more groups than an int32 id can number");
      g.texts.push_back(text);
      g.counts.push_back(0);
    }
    g.ids[row] = it->second;
    ++g.counts[static_cast<std::size_t>(it->second)];
  });
  return g;
}

}  // namespace quorvel::binding::batch

// The block route's threaded twin, for quorvel-jid -j N: the lines of a
// block are parsed by the batch route's row loop machinery (contiguous
// chunks, one thread each, put back in line order), with the interpreter
// lock released. Each line's outcome is what the calling-thread route
// (normalise_block.cpp) works out for it; only the order of the work differs,
// never the order of the results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "batch/row_loop.h"
#include "blocks/lines.h"

namespace quorvel::binding::blocks {

// Fewer lines than this for a thread cost more in starting it than it saves.
inline constexpr std::size_t kMinLinesPerThread = 2048;

struct Line {
  std::uint64_t number;
  std::string_view text;  // a view into the block
};

// The lines of `data` that the tool reads (for_each_line); `lines` is set
// to the count of every line, skipped ones included.
std::vector<Line> block_lines(std::string_view data, std::uint64_t first_line, std::uint64_t& lines);

// Each line's status (batch::kRowValid, batch::kInvalidUtf8 for bytes that
// are not UTF-8, or the JidError) and, for a valid line, its `part` as text.
// Runs without the interpreter lock; the caller must hold it.
std::vector<batch::ChunkOutput> parse_lines(const std::vector<Line>& lines, Part part, bool bare_only,
                                            bool rfc7622, std::size_t threads);

// --compare: each line's status is kCompareSame, kCompareDiffers or
// batch::kInvalidUtf8. Runs without the interpreter lock, as parse_lines.
inline constexpr std::uint8_t kCompareSame = 0;
inline constexpr std::uint8_t kCompareDiffers = 1;
std::vector<batch::ChunkOutput> compare_lines(const std::vector<Line>& lines, std::size_t threads);

}  // namespace quorvel::binding::blocks

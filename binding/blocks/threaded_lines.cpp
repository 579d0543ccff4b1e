// The block route's lines over worker threads (threaded_lines.h).
#include "blocks/threaded_lines.h"

#include "support/unlocked.h"

namespace quorvel::binding::blocks {
namespace {

// Runs row(line, out) for every line, chunk by chunk on `threads` threads
// with the lock released; row appends to out.data and returns the status.
template <class Row>
std::vector<batch::ChunkOutput> over_chunks(const std::vector<Line>& lines, std::size_t threads, Row row) {
  const auto chunks = batch::plan_chunks(lines.size(), threads, kMinLinesPerThread);
  std::vector<batch::ChunkOutput> outputs(chunks.size());
  Unlocked released;
  batch::run_chunks(chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
    // A ChunkOutput of the thread's own, moved into place when done: the
    // outputs lie side by side, and sizes bumped every line by two threads
    // on one cache line would cost more than the parsing.
    batch::ChunkOutput out;
    out.begin_rows(end - begin, false);
    out.status.resize(end - begin);
    for (std::size_t k = 0; k < end - begin; ++k) {
      out.status[k] = row(lines[begin + k].text, out);
      out.end_row();
    }
    outputs[c] = std::move(out);
  });
  return outputs;
}

}  // namespace

std::vector<Line> block_lines(std::string_view data, std::uint64_t first_line, std::uint64_t& lines) {
  std::vector<Line> read;
  lines = for_each_line(data, first_line, [&](std::uint64_t n, std::string_view text) {
    read.push_back({n, text});
  });
  return read;
}

std::vector<batch::ChunkOutput> parse_lines(const std::vector<Line>& lines, Part part, bool bare_only,
                                            bool rfc7622, std::size_t threads) {
  return over_chunks(lines, threads, [&](std::string_view line, batch::ChunkOutput& out) -> std::uint8_t {
    if (!is_utf8(line)) return batch::kInvalidUtf8;
    const Result<JidValue> parsed = parse_line(line, bare_only, rfc7622);
    if (!parsed.ok()) return static_cast<std::uint8_t>(parsed.error());
    out.data += part_of(parsed.value(), part);
    return batch::kRowValid;
  });
}

std::vector<batch::ChunkOutput> compare_lines(const std::vector<Line>& lines, std::size_t threads) {
  return over_chunks(lines, threads, [](std::string_view line, batch::ChunkOutput&) -> std::uint8_t {
    if (!is_utf8(line)) return batch::kInvalidUtf8;
    return profiles_differ(line) ? kCompareDiffers : kCompareSame;
  });
}

}  // namespace quorvel::binding::blocks

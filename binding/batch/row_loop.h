// The batch route's row loop: every row of a column parsed as a JID would
// parse it, results written to buffers of the chunk that holds the row.
// Plain C++ without the interpreter, so that the loop runs with the lock
// released and on worker threads, and so that GoogleTest can hold it to the
// per-row route directly.
//
// A column is cut into contiguous chunks of at least kMinChunkRows rows;
// each chunk is worked by one thread into a ChunkOutput of its own, so the
// threads share nothing but the input (read only) and the core's constant
// tables. The chunks are put together afterwards in row order, so the
// output never depends on the number of threads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <climits>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "batch/pod_array.h"
#include "jid/address_rules.h"
#include "quorvel/jid_error.h"
#include "simd/scan.h"
#include "unicode/utf8_codec.h"

namespace quorvel::binding::batch {

// The status of a row: an error kind (0 .. kKindCount - 1), or one of these.
inline constexpr std::uint8_t kRowValid = 0xFF;
inline constexpr std::uint8_t kRowNull = 0xFE;
// Valid, and its normalised text is the input's bytes as they are, which
// are then not copied (only with Options::elide_unchanged).
inline constexpr std::uint8_t kRowAsWritten = 0xFD;
// The one kind only the batch route reports: bytes of an Arrow column (or a
// str holding a lone surrogate) that are not UTF-8. Numbered after the
// core's kinds so that those keep their numbers.
inline constexpr std::uint8_t kInvalidUtf8 = static_cast<std::uint8_t>(kJidErrorCount);
inline constexpr int kKindCount = kJidErrorCount + 1;

// Below this many rows per chunk a thread costs more than it saves.
inline constexpr std::size_t kMinChunkRows = 16384;

struct Options {
  Profile profile = Profile::Rfc6122;
  bool bare = false;
  // Arrow data may hold any bytes; a str's UTF-8 form is always well formed.
  bool check_utf8 = false;
  // Keep each row's separators (ChunkOutput::at and slash), which only the
  // parts columns read: without them a row costs four bytes less to write.
  bool separators = true;
  // A valid row whose text is its input's reports kRowAsWritten and adds
  // no text: for the list route, which gives such a row its input str, so
  // that the usual row's text is neither copied nor compared twice.
  bool elide_unchanged = false;
  // Start with 64-bit text offsets (ChunkOutput::wide), as a large_string
  // column takes them; otherwise they are 32-bit until the texts pass
  // 2 GiB.
  bool wide_offsets = false;
};

// One chunk's results. Row k of the chunk (k from 0) has status[k]; a valid
// row's text is data[begin_of(k), end_of(k)), every other row's text is
// empty. at[k] and slash[k] are the text's localpart_end and
// slash_position (JidValue's layout), 0 for any other row; both are empty
// when the separators were not kept (Options::separators).
//
// The text offsets are kept as an Arrow string column lays them out, one
// more than the rows and the first 0, in 32 bits, or 64 (`wide`) where the
// column that takes them has them so or the texts pass 2 GiB, so that a
// column of one chunk takes them as they are:
//
//   data     | a@b | c@d/r | e@f |
//   offsets  0     3       8     11
//   status   valid  valid   valid
class ChunkOutput {
 public:
  PodArray<char> data;  // handed to the text column as it is, where one chunk holds the column
  std::vector<std::uint8_t> status;
  std::vector<std::uint16_t> at;
  std::vector<std::uint16_t> slash;

  // Readies the offsets for `rows` rows (they grow past it if need be),
  // 64-bit from the start if `wide`. Called once, before the first end_row.
  void begin_rows(std::size_t rows, bool wide) {
    wide_ = wide;
    if (wide_) {
      offsets64_.reserve_for_output(rows + 1);
      offsets64_.push_back(0);
    } else {
      offsets32_.reserve_for_output(rows + 1);
      offsets32_.push_back(0);
    }
  }
  // The row just added (its status pushed or set, its text appended to
  // data) ends here.
  void end_row() {
    const std::size_t end = data.size();
    if (wide_) {
      offsets64_.push_back(static_cast<std::int64_t>(end));
    } else if (end <= static_cast<std::size_t>(INT32_MAX)) [[likely]] {
      offsets32_.push_back(static_cast<std::int32_t>(end));
    } else {
      widen();
      offsets64_.push_back(static_cast<std::int64_t>(end));
    }
  }

  bool wide() const noexcept { return wide_; }
  std::size_t rows() const noexcept { return status.size(); }
  std::uint64_t begin_of(std::size_t k) const noexcept {
    return wide_ ? static_cast<std::uint64_t>(offsets64_[k]) : static_cast<std::uint64_t>(offsets32_[k]);
  }
  std::uint64_t end_of(std::size_t k) const noexcept { return begin_of(k + 1); }
  std::string_view text(std::size_t k) const noexcept {
    const std::uint64_t b = begin_of(k);
    return std::string_view(data.data() + b, static_cast<std::size_t>(end_of(k) - b));
  }
  // The offsets, for a column of the same width to take (release_padded's
  // terms); the chunk keeps its rows' status but no longer its texts.
  PodArray<std::int32_t>& offsets32() noexcept { return offsets32_; }
  PodArray<std::int64_t>& offsets64() noexcept { return offsets64_; }

 private:
  // 32 bits no longer hold the texts' end: the offsets so far in 64, and
  // every row's after them. (A string column refuses such a chunk when it
  // is made; a large_string column or a list takes it.)
  void widen() {
    offsets64_.reserve(offsets32_.size() + (offsets32_.size() >> 2) + 16);
    for (std::size_t i = 0; i < offsets32_.size(); ++i) offsets64_.push_back(offsets32_[i]);
    offsets32_ = PodArray<std::int32_t>();
    wide_ = true;
  }

  bool wide_ = false;
  PodArray<std::int32_t> offsets32_;
  PodArray<std::int64_t> offsets64_;
};

inline bool is_utf8(std::string_view s) noexcept {
  return scan::is_ascii(s) || utf8::is_well_formed(s);
}

// What JID(text, bare=bare) does with a text: the whole address validated,
// then the resource dropped for a bare result.
inline Result<JidValue> parse_row(std::string_view text, const Options& options) {
  Result<JidValue> parsed = parse_with(options.profile, text);
  if (parsed.ok() && options.bare) strip_resource(parsed.value());
  return parsed;
}

// The core's allocation-free route for the usual row, short plain ASCII:
// the normalised text written to `out` (text.size() bytes), or nullopt for
// parse_row to decide. parse_row is its twin; the row-loop tests hold the
// two together.
inline std::optional<Separators> plain_short(Profile profile, std::string_view text, char* out) noexcept {
  return profile == Profile::Rfc6122 ? parse_plain_short(text, out) : precis::parse_plain_short(text, out);
}

// What each of the rows [begin, end) of `rows` comes to, handed to
// visit(k, status, text, at, slash) with k counted from begin: for a valid
// row the normalised text and its separators (JidValue's localpart_end and
// slash_position), for any other row an empty text and zeros. The text is
// a view into a value that lives only for the call. `rows` has
// `std::optional<std::string_view> get(std::size_t) const` (nullopt for a
// null row; a view for a row whose bytes are not UTF-8 is allowed only with
// check_utf8).
//
// scratch() gives room for kPlainShortMax bytes, where a short plain row's
// text is written: a visit that finds the text there (the row loop hands
// the free end of its data) keeps it without copying it.
template <class Rows, class Scratch, class Visit>
void for_each_parsed(const Rows& rows, std::size_t begin, std::size_t end, const Options& options,
                     Scratch&& scratch, Visit&& visit) {
  for (std::size_t k = 0; begin + k < end; ++k) {
    const std::optional<std::string_view> row = rows.get(begin + k);
    if (!row) {
      visit(k, kRowNull, std::string_view(), std::uint16_t{0}, std::uint16_t{0});
      continue;
    }
    if (row->empty()) {
      // The empty JID: valid, with empty text.
      visit(k, kRowValid, std::string_view(), std::uint16_t{0}, std::uint16_t{0});
      continue;
    }
    if (row->size() <= kPlainShortMax) {
      char* const folded = scratch();
      if (const std::optional<Separators> plain = plain_short(options.profile, *row, folded)) {
        // Plain ASCII, so UTF-8 too.
        std::size_t size = row->size();
        std::uint16_t slash = plain->slash_position;
        if (options.bare && slash != 0) {
          size = slash;
          slash = 0;
        }
        visit(k, kRowValid, std::string_view(folded, size), plain->localpart_end, slash);
        continue;
      }
    }
    if (options.check_utf8 && !is_utf8(*row)) {
      visit(k, kInvalidUtf8, std::string_view(), std::uint16_t{0}, std::uint16_t{0});
      continue;
    }
    const Result<JidValue> parsed = parse_row(*row, options);
    if (parsed.ok()) {
      visit(k, kRowValid, parsed.value().text(), parsed.value().localpart_end(), parsed.value().slash_position());
    } else {
      visit(k, static_cast<std::uint8_t>(parsed.error()), std::string_view(), std::uint16_t{0}, std::uint16_t{0});
    }
  }
}

// As above, the short plain rows written to a buffer of the loop's own.
template <class Rows, class Visit>
void for_each_parsed(const Rows& rows, std::size_t begin, std::size_t end, const Options& options,
                     Visit&& visit) {
  char folded[kPlainShortMax];
  for_each_parsed(rows, begin, end, options, [&]() noexcept { return folded; }, visit);
}

// The rows [begin, end) of `rows` into `into`, which must be empty. `rows`
// is as for_each_parsed reads it, with also `std::size_t bytes(begin, end)
// const`, the input bytes of those rows, from which the buffers are sized
// once.
template <class Rows>
void normalise_rows(const Rows& rows, std::size_t begin, std::size_t end, const Options& options,
                    ChunkOutput& into) {
  // Written in a ChunkOutput of the thread's own and moved to `into` when
  // done: the chunks' outputs lie side by side, and sizes bumped every row
  // on one cache line by two threads would cost more than the parsing.
  ChunkOutput out;
  const std::size_t n = end - begin;
  // Preparation seldom makes a text longer; a little slack keeps the usual
  // chunk to one allocation.
  const std::size_t bytes = rows.bytes(begin, end);
  out.data.reserve_for_output(bytes + bytes / 16 + kPlainShortMax);
  out.begin_rows(n, options.wide_offsets);
  out.status.resize(n);
  // A short plain row is written straight to the free end of the data,
  // where it stays: the usual row is copied once, from input to output.
  auto tail = [&out] {
    out.data.reserve(out.data.size() + kPlainShortMax);
    return out.data.data() + out.data.size();
  };
  auto append = [&out](std::string_view text) {
    if (text.data() == out.data.data() + out.data.size()) {
      out.data.grow_into_reserve(text.size());
    } else {
      out.data += text;
    }
  };
  if (!options.separators) {
    for_each_parsed(rows, begin, end, options, tail,
                    [&](std::size_t k, std::uint8_t status, std::string_view text, std::uint16_t, std::uint16_t) {
                      if (options.elide_unchanged && status == kRowValid && !text.empty() &&
                          text == *rows.get(begin + k)) {
                        status = kRowAsWritten;
                      } else {
                        append(text);
                      }
                      out.status[k] = status;
                      out.end_row();
                    });
    into = std::move(out);
    return;
  }
  out.at.resize(n);
  out.slash.resize(n);
  for_each_parsed(rows, begin, end, options, tail,
                  [&](std::size_t k, std::uint8_t status, std::string_view text, std::uint16_t at,
                      std::uint16_t slash) {
                    append(text);
                    out.status[k] = status;
                    out.at[k] = at;
                    out.slash[k] = slash;
                    out.end_row();
                  });
  into = std::move(out);
}

// Where each chunk of `rows` rows starts and ends: at most `threads` chunks
// of at least kMinChunkRows rows (`min_chunk` in the tests), and one chunk
// for anything smaller, so a small column stays on the calling thread.
inline std::vector<std::pair<std::size_t, std::size_t>> plan_chunks(
    std::size_t rows, std::size_t threads, std::size_t min_chunk = kMinChunkRows) {
  threads = std::max<std::size_t>(threads, 1);
  min_chunk = std::max<std::size_t>(min_chunk, 1);
  const std::size_t by_size = std::max<std::size_t>(rows / min_chunk, 1);
  const std::size_t count = std::min(threads, by_size);
  std::vector<std::pair<std::size_t, std::size_t>> chunks;
  chunks.reserve(count);
  for (std::size_t c = 0; c < count; ++c) {
    chunks.emplace_back(rows * c / count, rows * (c + 1) / count);
  }
  return chunks;
}

// Runs work(c, begin, end) for every chunk c, the first on the calling
// thread and each other on a thread of its own, and waits for all of them.
// The first exception any of them threw is rethrown after every thread has
// ended; a thread that cannot be started leaves its chunk to the caller.
template <class Work>
void run_chunks(const std::vector<std::pair<std::size_t, std::size_t>>& chunks, Work&& work) {
  std::vector<std::exception_ptr> failures(chunks.size());
  auto guarded = [&](std::size_t c) noexcept {
    try {
      work(c, chunks[c].first, chunks[c].second);
    } catch (...) {
      failures[c] = std::current_exception();
    }
  };
  std::vector<std::thread> workers;
  std::vector<std::size_t> left;
  workers.reserve(chunks.size());
  for (std::size_t c = 1; c < chunks.size(); ++c) {
    try {
      workers.emplace_back(guarded, c);
    } catch (...) {
      left.push_back(c);
    }
  }
  if (!chunks.empty()) guarded(0);
  for (std::size_t c : left) guarded(c);
  for (std::thread& t : workers) t.join();
  for (const std::exception_ptr& f : failures) {
    if (f) std::rethrow_exception(f);
  }
}

// The whole column, chunk by chunk.
template <class Rows>
std::vector<ChunkOutput> normalise_column(const Rows& rows, std::size_t count, const Options& options,
                                          std::size_t threads, std::size_t min_chunk = kMinChunkRows) {
  const auto chunks = plan_chunks(count, threads, min_chunk);
  std::vector<ChunkOutput> outputs(chunks.size());
  run_chunks(chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
    normalise_rows(rows, begin, end, options, outputs[c]);
  });
  return outputs;
}

// Walks the rows of a column's chunk outputs in row order:
// visit(row, chunk, k) with `k` the row's place in `chunk`.
template <class Visit>
void for_each_row(const std::vector<ChunkOutput>& outputs, Visit&& visit) {
  std::size_t row = 0;
  for (const ChunkOutput& chunk : outputs) {
    for (std::size_t k = 0; k < chunk.rows(); ++k) visit(row++, chunk, k);
  }
}

}  // namespace quorvel::binding::batch

// Groups of equal normalised JIDs over a column: a dense id per row in
// order of first appearance, the distinct texts and how many rows each has.
//
// Rows are grouped as they are parsed: a row's normalised text lives only
// until it has been looked up, so what a grouping holds is its distinct
// texts, one id per row and an open-addressing table of 8 bytes a slot,
// never a normalised copy of the whole column. With several threads each
// chunk is grouped on its own and the chunks' groups are merged afterwards
// in row order: a group first seen in chunk c is numbered after every group
// of the chunks before it, which is the order of first appearance over the
// whole column, whatever the number of threads.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "batch/pod_array.h"
#include "batch/row_loop.h"

namespace quorvel::binding::batch {

inline constexpr std::int32_t kNoGroup = -1;

// The table's slots: zeroed, and from 2 MiB up on Linux in huge pages
// where the system grants them. Lookups land on random slots, and with
// 4 KiB pages a table of millions of slots misses the TLB on nearly every
// one, which under a virtual machine's nested page tables costs more than
// the cache miss itself.
class SlotArray {
 public:
  SlotArray() noexcept = default;
  explicit SlotArray(std::size_t n) : size_(n) {
    if (n > SIZE_MAX / 8 / 2) throw std::bad_alloc();
    const std::size_t bytes = n * 8;
#if defined(__linux__)
    constexpr std::size_t kHuge = std::size_t{1} << 21;
    if (bytes >= kHuge) {
      void* p = nullptr;
      if (posix_memalign(&p, kHuge, (bytes + kHuge - 1) / kHuge * kHuge) != 0) throw std::bad_alloc();
      madvise(p, bytes, MADV_HUGEPAGE);  // advice: refused, it changes nothing
      data_ = static_cast<std::uint64_t*>(p);
    }
#endif
    if (data_ == nullptr) data_ = static_cast<std::uint64_t*>(std::malloc(bytes));
    if (data_ == nullptr) throw std::bad_alloc();
    std::memset(data_, 0, bytes);
  }
  SlotArray(SlotArray&& o) noexcept : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)) {}
  SlotArray& operator=(SlotArray&& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(size_, o.size_);
    return *this;
  }
  SlotArray(const SlotArray&) = delete;
  SlotArray& operator=(const SlotArray&) = delete;
  ~SlotArray() { std::free(data_); }

  std::size_t size() const noexcept { return size_; }
  std::uint64_t* data() const noexcept { return data_; }
  std::uint64_t& operator[](std::size_t i) const noexcept { return data_[i]; }

 private:
  std::uint64_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// The table's hash: 8-byte words, each folded in through a full 64-bit
// mix, from a seed. The ids do not depend on the hash, only the table's
// layout does; a seed that differs from table to table keeps a column of
// texts chosen to collide under one seed from collapsing every table into
// one long probe sequence.
inline std::uint64_t mix64(std::uint64_t x) noexcept {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9u;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBu;
  x ^= x >> 31;
  return x;
}

inline std::uint64_t text_hash(std::string_view s, std::uint64_t seed) noexcept {
  std::uint64_t h = seed ^ (s.size() * 0x9E3779B97F4A7C15u);
  const char* p = s.data();
  std::size_t n = s.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = mix64(h ^ w);
  }
  if (n != 0) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = mix64(h ^ w);
  }
  return mix64(h);
}

// The distinct texts of a grouping and the table that finds a text's id.
// A text is stored once, in order of id, in one byte array, with 32-bit
// offsets (Arrow's int32 offsets as they are, for a string column).
class Groups {
 public:
  static constexpr std::size_t kMaxGroups = 0x7FFFFFFF;  // what an int32 id can number

  Groups() noexcept
      : seed_(mix64(static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                    reinterpret_cast<std::uintptr_t>(this))) {}
  Groups(Groups&&) noexcept = default;
  Groups& operator=(Groups&&) noexcept = default;

  std::size_t size() const noexcept { return size_; }
  std::string_view text(std::size_t id) const noexcept {
    return {bytes_.data() + offsets_[id], static_cast<std::size_t>(offsets_[id + 1] - offsets_[id])};
  }
  std::string_view bytes() const noexcept { return {bytes_.data(), bytes_.size()}; }

  // The id of the group whose text is `text`; a new group when there is
  // none. Throws std::length_error past kMaxGroups groups or 4 GiB of
  // distinct text.
  std::uint32_t find_or_add(std::string_view text) { return find_or_add(text, hash(text)); }
  // The same with the text's hash() already taken.
  std::uint32_t find_or_add(std::string_view text, std::uint64_t h) {
    if ((size() + 1) * 4 > slots_.size() * 3) grow();
    const auto tag = static_cast<std::uint32_t>(h >> 32);
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) {
        const std::uint32_t id = add(text);
        slots_[i] = (std::uint64_t{tag} << 32) | (id + 1u);
        return id;
      }
      if (static_cast<std::uint32_t>(slot >> 32) == tag) {
        const auto id = static_cast<std::uint32_t>(slot) - 1u;
        if (this->text(id) == text) return id;
      }
    }
  }

  std::uint64_t hash(std::string_view text) const noexcept { return text_hash(text, seed_); }
  // Starts loading the slot where a lookup of `h` begins, so that a lookup
  // issued a few rows later finds it in the cache.
  void prefetch(std::uint64_t h) const noexcept {
#if defined(__GNUC__) || defined(__clang__)
    if (mask_ != 0) __builtin_prefetch(slots_.data() + (h & mask_));
#else
    (void)h;
#endif
  }

  // Lookups are over: the table goes, the texts stay.
  void drop_table() noexcept {
    slots_ = SlotArray();
    mask_ = 0;
  }
  // The texts' bytes and their size() + 1 offsets, handed over (see
  // PodArray::release_padded); the groups are left empty.
  PodArray<char>& bytes_array() noexcept { return bytes_; }
  PodArray<std::uint32_t>& offsets_array() noexcept {
    if (offsets_.size() == 0) offsets_.push_back(0);
    return offsets_;
  }

 private:
  std::uint32_t add(std::string_view text) {
    if (size() >= kMaxGroups) throw std::length_error("more groups than an int32 id can number");
    if (text.size() > UINT32_MAX - bytes_.size()) {
      throw std::length_error("the distinct texts pass 4 GiB, more than a grouping holds");
    }
    if (offsets_.size() == 0) offsets_.push_back(0);
    bytes_.append(text.data(), text.size());
    offsets_.push_back(static_cast<std::uint32_t>(bytes_.size()));
    return static_cast<std::uint32_t>(size_++);
  }

  // Twice the slots, each filled group put back where its hash leads; the
  // tag holds only the hash's upper half, so the texts are hashed again.
  void grow() {
    const std::size_t capacity = std::max<std::size_t>(slots_.size() * 2, 1024);
    SlotArray slots(capacity);
    const std::size_t mask = capacity - 1;
    for (std::size_t id = 0; id < size(); ++id) {
      const std::uint64_t h = text_hash(text(id), seed_);
      std::size_t i = h & mask;
      while (slots[i] != 0) i = (i + 1) & mask;
      slots[i] = (h >> 32 << 32) | (id + 1u);
    }
    slots_ = std::move(slots);
    mask_ = mask;
  }

  SlotArray slots_;  // (tag << 32) | (id + 1), 0 for an empty slot
  std::size_t mask_ = 0;
  PodArray<char> bytes_;
  PodArray<std::uint32_t> offsets_;  // text `id` is bytes_[offsets_[id], offsets_[id + 1])
  std::size_t size_ = 0;
  std::uint64_t seed_;
};

struct Grouping {
  PodArray<std::int32_t> ids;  // per row; kNoGroup for null and invalid rows
  Groups groups;
  PodArray<std::int64_t> counts;  // per group, once count_groups has run
};

// The rows of each group, counted from the ids once every row is in: a
// pass over the ids after the table is gone, rather than a counter touched
// at random beside each lookup and held all along.
inline void count_groups(Grouping& g) {
  g.counts.resize(g.groups.size(), 0);
  for (std::size_t i = 0; i < g.ids.size(); ++i) {
    if (g.ids[i] != kNoGroup) ++g.counts[static_cast<std::size_t>(g.ids[i])];
  }
}

// The rows [begin, end) of `rows` grouped into `groups`, the id of row
// begin + k written to ids[k]. A lookup in a table of millions of slots is
// a cache miss; so each row's slot is prefetched when its text is ready and
// the row is looked up kAhead valid rows later, in row order (which keeps
// the ids in order of first appearance), so that the misses overlap
// instead of queueing one behind the other.
template <class Rows>
void group_rows(const Rows& rows, std::size_t begin, std::size_t end, const Options& options, Groups& groups,
                std::int32_t* ids) {
  constexpr std::size_t kAhead = 8;
  struct Pending {
    std::string text;  // keeps its capacity from row to row
    std::uint64_t hash = 0;
    std::size_t k = 0;
  };
  std::array<Pending, kAhead> pending;
  std::size_t first = 0, waiting = 0;
  auto settle = [&] {
    Pending& p = pending[first];
    const std::uint32_t id = groups.find_or_add(p.text, p.hash);
    ids[p.k] = static_cast<std::int32_t>(id);
    first = (first + 1) % kAhead;
    --waiting;
  };
  for_each_parsed(rows, begin, end, options,
                  [&](std::size_t k, std::uint8_t status, std::string_view text, std::uint16_t, std::uint16_t) {
                    if (status != kRowValid) {
                      ids[k] = kNoGroup;
                      return;
                    }
                    if (waiting == kAhead) settle();
                    Pending& p = pending[(first + waiting) % kAhead];
                    p.text.assign(text);
                    p.hash = groups.hash(text);
                    p.k = k;
                    groups.prefetch(p.hash);
                    ++waiting;
                  });
  while (waiting != 0) settle();
}

// The `count` rows of `rows` grouped into `into`, after the rows it holds
// already (a stream's batches one after another), chunk by chunk as
// normalise_column cuts them. Throws std::length_error past
// Groups::kMaxGroups groups.
template <class Rows>
void group_column(const Rows& rows, std::size_t count, const Options& options, std::size_t threads, Grouping& into,
                  std::size_t min_chunk = kMinChunkRows) {
  const std::size_t first = into.ids.size();
  into.ids.resize(first + count, kNoGroup);
  std::int32_t* const ids = into.ids.data() + first;
  const auto chunks = plan_chunks(count, threads, min_chunk);
  // The first chunk goes straight into the column's groups; the others into
  // groups of their own, merged below.
  std::vector<Groups> own(chunks.empty() ? 0 : chunks.size() - 1);
  run_chunks(chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
    group_rows(rows, begin, end, options, c == 0 ? into.groups : own[c - 1], ids + begin);
  });
  std::vector<std::int32_t> renumber;
  for (std::size_t c = 1; c < chunks.size(); ++c) {
    Groups& g = own[c - 1];
    renumber.resize(g.size());
    for (std::size_t j = 0; j < g.size(); ++j) {
      const std::uint32_t id = into.groups.find_or_add(g.text(j));
      renumber[j] = static_cast<std::int32_t>(id);
    }
    g = Groups();
    for (std::size_t i = chunks[c].first; i < chunks[c].second; ++i) {
      if (ids[i] != kNoGroup) ids[i] = renumber[static_cast<std::size_t>(ids[i])];
    }
  }
}

// Rows already normalised (a dictionary column's, gathered from its
// entries) grouped into `into` after the rows it holds.
inline void group_outputs(const std::vector<ChunkOutput>& outputs, Grouping& into) {
  for_each_row(outputs, [&](std::size_t, const ChunkOutput& chunk, std::size_t k) {
    if (chunk.status[k] != kRowValid) {
      into.ids.push_back(kNoGroup);
      return;
    }
    const std::uint32_t id = into.groups.find_or_add(chunk.text(k));
    into.ids.push_back(static_cast<std::int32_t>(id));
  });
}

}  // namespace quorvel::binding::batch

// The groups of `quorvel-jid --dedupe`, kept compactly: one entry per
// distinct printed value, in the order first seen, with its count and up to
// eight distinct spellings (text, source, line) of the inputs that made it.
// The bytes of values and spellings live in large chunks, and a spelling
// that is its value byte for byte (the usual case) shares the value's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace quorvel::binding {

class GroupStore {
 public:
  // Spellings kept per group; the inputs spelled otherwise past these are
  // only counted (see Group::unlisted).
  static constexpr std::size_t kMaxSpellings = 8;

  struct Spelling {
    std::string_view text;
    std::uint32_t source;  // an index the caller gives meaning to
    std::uint32_t line;
  };

  // Counts one input with text `text` (from `source`, at `line`) towards
  // the group of `value`.
  void add(std::string_view value, std::uint32_t source, std::uint32_t line, std::string_view text);

  std::size_t size() const noexcept { return groups_.size(); }
  std::size_t duplicate_groups() const noexcept { return duplicates_; }

  std::string_view value(std::size_t group) const noexcept { return view(groups_[group].value); }
  std::uint32_t count(std::size_t group) const noexcept { return groups_[group].count; }
  std::uint32_t unlisted(std::size_t group) const noexcept { return groups_[group].unlisted; }
  std::vector<Spelling> spellings(std::size_t group) const;

 private:
  struct Ref {
    std::uint32_t chunk = 0;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
  };
  struct Group {
    Ref value;
    std::uint32_t hash;
    std::uint32_t count;
    std::uint32_t unlisted;
    std::uint32_t first_spelling;
    std::uint32_t last_spelling;
    std::uint32_t spelling_count;
  };
  struct StoredSpelling {
    Ref text;
    std::uint32_t source;
    std::uint32_t line;
    std::uint32_t next;  // index of the next spelling of the group, or kNone
  };
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;
  static constexpr std::size_t kChunkSize = std::size_t{1} << 20;

  std::string_view view(const Ref& r) const noexcept {
    // An empty text has no chunk (there may be none yet).
    if (r.size == 0) return {};
    return {chunks_[r.chunk].get() + r.offset, r.size};
  }
  Ref keep(std::string_view bytes);
  std::uint32_t find_or_insert(std::string_view value, std::uint64_t hash);
  void grow_index();

  std::vector<std::unique_ptr<char[]>> chunks_;
  std::size_t chunk_used_ = kChunkSize;  // of the last ordinary chunk
  std::uint32_t ordinary_chunk_ = 0;
  std::vector<Group> groups_;
  std::vector<StoredSpelling> spellings_;
  // Open addressing: group index + 1, 0 for an empty slot.
  std::vector<std::uint32_t> index_;
  std::size_t duplicates_ = 0;
};

}  // namespace quorvel::binding

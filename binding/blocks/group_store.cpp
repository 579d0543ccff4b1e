#include "blocks/group_store.h"

#include <cstring>
#include <functional>
#include <stdexcept>

namespace quorvel::binding {

GroupStore::Ref GroupStore::keep(std::string_view bytes) {
  if (bytes.empty()) return Ref{};
  if (bytes.size() > 0xFFFFFFFFu || chunks_.size() >= 0xFFFFFFFFu) {
    throw std::length_error("--dedupe input too large");
  }
  // A text of more than a quarter chunk gets a chunk of its own, so that no
  // chunk is left mostly empty.
  if (bytes.size() > kChunkSize / 4) {
    auto own = std::make_unique<char[]>(bytes.size());
    std::memcpy(own.get(), bytes.data(), bytes.size());
    chunks_.push_back(std::move(own));
    return {static_cast<std::uint32_t>(chunks_.size() - 1), 0, static_cast<std::uint32_t>(bytes.size())};
  }
  if (chunk_used_ + bytes.size() > kChunkSize) {
    chunks_.push_back(std::make_unique<char[]>(kChunkSize));
    ordinary_chunk_ = static_cast<std::uint32_t>(chunks_.size() - 1);
    chunk_used_ = 0;
  }
  Ref r{ordinary_chunk_, static_cast<std::uint32_t>(chunk_used_), static_cast<std::uint32_t>(bytes.size())};
  std::memcpy(chunks_[ordinary_chunk_].get() + chunk_used_, bytes.data(), bytes.size());
  chunk_used_ += bytes.size();
  return r;
}

void GroupStore::grow_index() {
  std::vector<std::uint32_t> bigger(index_.empty() ? 1024 : index_.size() * 2, 0);
  const std::size_t mask = bigger.size() - 1;
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    std::size_t slot = groups_[g].hash & mask;
    while (bigger[slot] != 0) slot = (slot + 1) & mask;
    bigger[slot] = static_cast<std::uint32_t>(g + 1);
  }
  index_ = std::move(bigger);
}

std::uint32_t GroupStore::find_or_insert(std::string_view value, std::uint64_t hash) {
  const auto short_hash = static_cast<std::uint32_t>(hash ^ (hash >> 32));
  if ((groups_.size() + 1) * 2 > index_.size()) grow_index();
  const std::size_t mask = index_.size() - 1;
  std::size_t slot = short_hash & mask;
  while (index_[slot] != 0) {
    const std::uint32_t g = index_[slot] - 1;
    if (groups_[g].hash == short_hash && view(groups_[g].value) == value) return g;
    slot = (slot + 1) & mask;
  }
  if (groups_.size() >= 0xFFFFFFFEu) throw std::length_error("--dedupe input too large");
  groups_.push_back(Group{keep(value), short_hash, 0, 0, kNone, kNone, 0});
  index_[slot] = static_cast<std::uint32_t>(groups_.size());
  return static_cast<std::uint32_t>(groups_.size() - 1);
}

void GroupStore::add(std::string_view value, std::uint32_t source, std::uint32_t line,
                     std::string_view text) {
  const std::uint32_t g = find_or_insert(value, std::hash<std::string_view>{}(value));
  Group& group = groups_[g];
  if (++group.count == 2) ++duplicates_;
  for (std::uint32_t s = group.first_spelling; s != kNone; s = spellings_[s].next) {
    if (view(spellings_[s].text) == text) return;
  }
  if (group.spelling_count >= kMaxSpellings) {
    ++group.unlisted;
    return;
  }
  // Most inputs are spelled as their value: share its bytes.
  const Ref text_ref = text == view(group.value) ? group.value : keep(text);
  if (spellings_.size() >= kNone) throw std::length_error("--dedupe input too large");
  spellings_.push_back(StoredSpelling{text_ref, source, line, kNone});
  const auto s = static_cast<std::uint32_t>(spellings_.size() - 1);
  Group& same = groups_[g];  // keep() may not move groups_, but stay safe
  if (same.last_spelling == kNone) {
    same.first_spelling = s;
  } else {
    spellings_[same.last_spelling].next = s;
  }
  same.last_spelling = s;
  ++same.spelling_count;
}

std::vector<GroupStore::Spelling> GroupStore::spellings(std::size_t group) const {
  std::vector<Spelling> out;
  for (std::uint32_t s = groups_[group].first_spelling; s != kNone; s = spellings_[s].next) {
    out.push_back(Spelling{view(spellings_[s].text), spellings_[s].source, spellings_[s].line});
  }
  return out;
}

}  // namespace quorvel::binding

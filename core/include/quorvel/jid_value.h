// JidValue: one prepared address, stored as a single owned buffer plus the
// byte positions of its two separators.
//
//   localpart@domain/resource           text(), size() bytes
//   ^        ^      ^
//   0        |      slash_position      the "/", or 0 when there is none
//            localpart_end              the "@", or 0 when there is none
//
//   example.com                         localpart_end 0, slash_position 0
//   juliet@example.com                  localpart_end 6, slash_position 0
//   example.com/balcony                 localpart_end 0, slash_position 11
//   juliet@example.com/balcony          localpart_end 6, slash_position 18
//
// 0 can stand for "none" because neither separator can be the first byte:
// a localpart or a domain is never empty. The domain is text[d, e) with d =
// localpart_end + 1 (or 0) and e = slash_position (or size()).
//
// The invariants, which valid() checks:
//   1. localpart_end == 0, or 1 <= localpart_end <= kMaxPartBytes and
//      text[localpart_end] == '@';
//   2. slash_position == 0, or text[slash_position] == '/' and the domain
//      before it is not empty (slash_position > d);
//   3. with no slash, the domain runs to the end and is not empty (size() > d);
//   4. the resource after a slash is 1 to kMaxPartBytes bytes;
//   5. both positions fit 16 bits, so the bare part (everything before the
//      slash) is at most kMaxPosition bytes; size() fits 32 bits.
// Every part is prepared text: the builders and the parser make values only
// from prepared parts, and valid() checks only the shape, not the profiles.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

namespace quorvel {

// The longest localpart or resourcepart, in UTF-8 bytes after preparation.
inline constexpr std::size_t kMaxPartBytes = 1023;
// The largest position a value stores.
inline constexpr std::size_t kMaxPosition = 0xFFFF;

class JidValue {
 public:
  // The text buffer comes from malloc: it skips operator new's extra call
  // on the hottest path, and a failure still surfaces as std::bad_alloc.
  struct FreeBuffer {
    void operator()(char* p) const noexcept { std::free(p); }
  };
  using Buffer = std::unique_ptr<char[], FreeBuffer>;

  // An empty shell; only meaningful as the target of an assignment.
  JidValue() noexcept = default;

  // Copies `text`; the positions must describe it (see the readers below).
  JidValue(std::string_view text, std::uint16_t localpart_end,
           std::uint16_t slash_position)
      : data_(allocate(text.size())),
        size_(static_cast<std::uint32_t>(text.size())),
        localpart_end_(localpart_end),
        slash_position_(slash_position) {
    if (!text.empty()) std::memcpy(data_.get(), text.data(), text.size());
  }

  // Takes ownership of `size` bytes allocated with allocate(). Nothing
  // parses the text again, so the caller's positions must keep the
  // invariants; debug builds check them.
  static JidValue adopt(Buffer data, std::uint32_t size,
                        std::uint16_t localpart_end,
                        std::uint16_t slash_position) noexcept {
    JidValue v;
    v.data_ = std::move(data);
    v.size_ = size;
    v.localpart_end_ = localpart_end;
    v.slash_position_ = slash_position;
    assert(v.valid());
    return v;
  }
  static Buffer allocate(std::size_t size) {
    char* p = static_cast<char*>(std::malloc(size == 0 ? 1 : size));
    if (p == nullptr) throw std::bad_alloc();
    return Buffer(p);
  }

  JidValue(const JidValue& other);
  JidValue& operator=(const JidValue& other);
  JidValue(JidValue&&) noexcept = default;
  JidValue& operator=(JidValue&&) noexcept = default;
  ~JidValue() = default;

  std::string_view text() const noexcept { return {data_.get(), size_}; }
  std::uint16_t localpart_end() const noexcept { return localpart_end_; }
  std::uint16_t slash_position() const noexcept { return slash_position_; }
  bool is_bare() const noexcept { return slash_position_ == 0; }

  // The invariants of the diagram above, on the positions and the two
  // separators. For values adopted without a parse (a copy restored from
  // storage, a fast path's layout), where a wrong position would make every
  // reader slice out of bounds.
  bool valid() const noexcept {
    const std::string_view t = text();
    if (localpart_end_ != 0 && (localpart_end_ > kMaxPartBytes || localpart_end_ >= t.size() ||
                                t[localpart_end_] != '@')) {
      return false;
    }
    const std::size_t domain_start = localpart_end_ == 0 ? 0 : localpart_end_ + 1u;
    if (slash_position_ == 0) return t.size() > domain_start;
    return slash_position_ > domain_start && slash_position_ + 1u < t.size() &&
           t[slash_position_] == '/' && t.size() - slash_position_ - 1 <= kMaxPartBytes;
  }

  // Drops "/" and the resource; the buffer keeps its capacity.
  void truncate_to_bare() noexcept {
    if (slash_position_ != 0) {
      size_ = slash_position_;
      slash_position_ = 0;
    }
  }

  friend bool operator==(const JidValue& a, const JidValue& b) noexcept {
    return a.size_ == b.size_ &&
           (a.size_ == 0 || std::memcmp(a.data_.get(), b.data_.get(), a.size_) == 0);
  }

 private:
  Buffer data_;
  std::uint32_t size_ = 0;
  std::uint16_t localpart_end_ = 0;
  std::uint16_t slash_position_ = 0;
};

// The two positions of a value, without the value: what the allocation-free
// parse_plain_short routes give.
struct Separators {
  std::uint16_t localpart_end = 0;
  std::uint16_t slash_position = 0;
};

// Reading. Views into the value's text; none allocates.
inline std::string_view text(const JidValue& v) noexcept { return v.text(); }

inline std::optional<std::string_view> node_part(const JidValue& v) noexcept {
  if (v.localpart_end() == 0) return std::nullopt;
  return v.text().substr(0, v.localpart_end());
}

inline std::string_view domain_part(const JidValue& v) noexcept {
  const std::size_t start = v.localpart_end() == 0 ? 0 : v.localpart_end() + 1u;
  const std::size_t end = v.slash_position() == 0 ? v.text().size() : v.slash_position();
  return v.text().substr(start, end - start);
}

inline std::optional<std::string_view> resource_part(const JidValue& v) noexcept {
  if (v.slash_position() == 0) return std::nullopt;
  return v.text().substr(v.slash_position() + 1u);
}

// The bare form (localpart, "@", domain) of any value, as a view.
inline std::string_view bare_text(const JidValue& v) noexcept {
  return v.slash_position() == 0 ? v.text() : v.text().substr(0, v.slash_position());
}

}  // namespace quorvel

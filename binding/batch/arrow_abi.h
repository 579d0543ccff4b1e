// The Arrow C data interface: its three structures, laid out as its ABI
// documents them, and the readers of the string columns the batch route
// takes. Plain C++: the readers run with the interpreter lock released.
//
// A column arrives as an ArrowSchema (its type, as a format string) and an
// ArrowArray (its buffers). The three string layouts:
//   "u"  string        validity, int32 offsets (length + 1), data
//   "U"  large_string  validity, int64 offsets (length + 1), data
//   "vu" string_view   validity, 16-byte views, the data buffers, and last
//                      an int64 array of those buffers' sizes
// A view holds its length (int32); up to 12 bytes follow inline, a longer
// one keeps its first 4 bytes, then the index of its data buffer and the
// offset in it (int32 each). Every buffer position is `offset` + row, and
// the validity bitmap is least significant bit first (absent: no nulls).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

extern "C" {

struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  std::int64_t flags;
  std::int64_t n_children;
  struct ArrowSchema** children;
  struct ArrowSchema* dictionary;
  void (*release)(struct ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  std::int64_t length;
  std::int64_t null_count;
  std::int64_t offset;
  std::int64_t n_buffers;
  std::int64_t n_children;
  const void** buffers;
  struct ArrowArray** children;
  struct ArrowArray* dictionary;
  void (*release)(struct ArrowArray*);
  void* private_data;
};

struct ArrowArrayStream {
  int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
  int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
  const char* (*get_last_error)(struct ArrowArrayStream*);
  void (*release)(struct ArrowArrayStream*);
  void* private_data;
};

}  // extern "C"

namespace quorvel::binding::batch {

inline constexpr std::int64_t kArrowFlagNullable = 2;

enum class Width : unsigned char { String, LargeString, StringView };

// The string layout a format names, or nullopt.
inline std::optional<Width> string_width(std::string_view format) noexcept {
  if (format == "u") return Width::String;
  if (format == "U") return Width::LargeString;
  if (format == "vu") return Width::StringView;
  return std::nullopt;
}

// The byte width of a dictionary's index type, signed or not, or 0.
inline int index_width(std::string_view format, bool& is_signed) noexcept {
  if (format.size() != 1) return 0;
  is_signed = format[0] >= 'a';
  switch (format[0]) {
    case 'c': case 'C': return 1;
    case 's': case 'S': return 2;
    case 'i': case 'I': return 4;
    case 'l': case 'L': return 8;
    default: return 0;
  }
}

inline bool bit_set(const void* bitmap, std::int64_t i) noexcept {
  const auto* p = static_cast<const std::uint8_t*>(bitmap);
  return (p[i >> 3] >> (i & 7)) & 1;
}

// The rows of a string column (any of the three layouts), for normalise_rows.
// check() must have passed before get() is called: it is what stands
// between a malformed producer and a read out of bounds, as far as the
// interface tells the sizes of buffers (it tells none for "u" and "U" data,
// so their offsets are checked to be in order and the last one is the
// bound trusted).
class StringRows {
 public:
  StringRows(const ArrowArray& array, Width width) noexcept : a_(array), width_(width) {}

  // Empty when the column can be read, else why not.
  std::string check() const {
    if (a_.length < 0 || a_.offset < 0 || a_.null_count < -1) return "negative length, offset or null count";
    // Validity, offsets or views, and data (for views: the sizes buffer).
    if (a_.n_buffers < 3 || a_.buffers == nullptr) {
      return "too few buffers";
    }
    if (a_.length == 0) return {};
    if (a_.buffers[1] == nullptr) return "no offsets or views buffer";
    if (width_ == Width::StringView) {
      const std::int64_t data_buffers = a_.n_buffers - 3;
      const auto* sizes = static_cast<const std::int64_t*>(a_.buffers[a_.n_buffers - 1]);
      if (data_buffers > 0 && sizes == nullptr) return "no variadic buffer sizes";
      for (std::int64_t i = 0; i < a_.length; ++i) {
        if (!valid(i)) continue;
        const std::uint8_t* v = view(i);
        std::int32_t len;
        std::memcpy(&len, v, 4);
        if (len < 0) return "negative view length";
        if (len <= 12) continue;
        std::int32_t index, off;
        std::memcpy(&index, v + 8, 4);
        std::memcpy(&off, v + 12, 4);
        if (index < 0 || index >= data_buffers || off < 0 || a_.buffers[2 + index] == nullptr ||
            static_cast<std::int64_t>(off) + len > sizes[index]) {
          return "a view outside its data buffer";
        }
      }
      return {};
    }
    // Offsets in order from the first row's start to the last row's end.
    std::int64_t previous = offset_at(a_.offset);
    if (previous < 0) return "negative offset";
    for (std::int64_t i = 1; i <= a_.length; ++i) {
      const std::int64_t next = offset_at(a_.offset + i);
      if (next < previous) return "offsets out of order";
      previous = next;
    }
    if (previous > offset_at(a_.offset) && a_.buffers[2] == nullptr) return "no data buffer";
    return {};
  }

  std::size_t size() const noexcept { return static_cast<std::size_t>(a_.length); }

  bool valid(std::int64_t i) const noexcept {
    return a_.buffers[0] == nullptr || a_.null_count == 0 || bit_set(a_.buffers[0], a_.offset + i);
  }

  std::optional<std::string_view> get(std::size_t row) const noexcept {
    const auto i = static_cast<std::int64_t>(row);
    if (!valid(i)) return std::nullopt;
    if (width_ == Width::StringView) {
      const std::uint8_t* v = view(i);
      std::int32_t len;
      std::memcpy(&len, v, 4);
      if (len <= 12) return std::string_view(reinterpret_cast<const char*>(v + 4), static_cast<std::size_t>(len));
      std::int32_t index, off;
      std::memcpy(&index, v + 8, 4);
      std::memcpy(&off, v + 12, 4);
      const char* data = static_cast<const char*>(a_.buffers[2 + index]);
      return std::string_view(data + off, static_cast<std::size_t>(len));
    }
    const std::int64_t b = offset_at(a_.offset + i);
    const std::int64_t e = offset_at(a_.offset + i + 1);
    if (e == b) return std::string_view();
    return std::string_view(static_cast<const char*>(a_.buffers[2]) + b, static_cast<std::size_t>(e - b));
  }

  std::size_t bytes(std::size_t begin, std::size_t end) const noexcept {
    if (begin >= end) return 0;
    if (width_ == Width::StringView) return (end - begin) * 16;
    return static_cast<std::size_t>(offset_at(a_.offset + static_cast<std::int64_t>(end)) -
                                    offset_at(a_.offset + static_cast<std::int64_t>(begin)));
  }

 private:
  std::int64_t offset_at(std::int64_t i) const noexcept {
    if (width_ == Width::String) return static_cast<const std::int32_t*>(a_.buffers[1])[i];
    return static_cast<const std::int64_t*>(a_.buffers[1])[i];
  }
  const std::uint8_t* view(std::int64_t i) const noexcept {
    return static_cast<const std::uint8_t*>(a_.buffers[1]) + 16 * (a_.offset + i);
  }

  const ArrowArray& a_;
  Width width_;
};

// The dictionary index of row `row` of an index array (check the width
// first with index_width), or nullopt for a null row.
inline std::optional<std::int64_t> dictionary_index(const ArrowArray& a, int width, bool is_signed,
                                                    std::size_t row) noexcept {
  const std::int64_t i = a.offset + static_cast<std::int64_t>(row);
  if (a.buffers[0] != nullptr && a.null_count != 0 && !bit_set(a.buffers[0], i)) return std::nullopt;
  const void* p = a.buffers[1];
  switch (width) {
    case 1: return is_signed ? std::int64_t{static_cast<const std::int8_t*>(p)[i]}
                             : std::int64_t{static_cast<const std::uint8_t*>(p)[i]};
    case 2: return is_signed ? std::int64_t{static_cast<const std::int16_t*>(p)[i]}
                             : std::int64_t{static_cast<const std::uint16_t*>(p)[i]};
    case 4: return is_signed ? std::int64_t{static_cast<const std::int32_t*>(p)[i]}
                             : std::int64_t{static_cast<const std::uint32_t*>(p)[i]};
    default: {
      const std::uint64_t u = static_cast<const std::uint64_t*>(p)[i];
      // An unsigned index past int64 is out of range of any dictionary.
      return (!is_signed && u > 0x7FFFFFFFFFFFFFFFull) ? std::int64_t{-1} : static_cast<std::int64_t>(u);
    }
  }
}

}  // namespace quorvel::binding::batch

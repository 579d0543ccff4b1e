// Columns the batch route made, as owned buffers, and their export through
// the Arrow C data interface (arrow_abi.h). Plain C++: the buffers are
// filled with the interpreter lock released, and an exported array may be
// released by its consumer on any thread, so the buffers are held through
// a shared_ptr that each export keeps a copy of.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "batch/arrow_abi.h"
#include "batch/row_loop.h"

namespace quorvel::binding::batch {

// One buffer, 64-byte aligned as Arrow recommends, zero-filled; or, for a
// buffer its maker writes in full, with only the padding past its end
// zeroed, since clearing tens of megabytes only to overwrite them costs as
// much as some of the work.
class Buffer {
 public:
  enum class Fill : bool { Zero, WrittenInFull };
  Buffer() noexcept = default;
  explicit Buffer(std::size_t bytes, Fill fill = Fill::Zero);
  // Takes `data`, from malloc, of `bytes` bytes and at least 64 more of
  // zeroed padding: a buffer the grouping filled, handed on without a copy.
  static Buffer adopt_malloced(void* data, std::size_t bytes) noexcept {
    Buffer b;
    b.data_ = static_cast<std::uint8_t*>(data);
    b.size_ = bytes;
    b.malloced_ = true;
    return b;
  }
  Buffer(Buffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(other.size_), malloced_(other.malloced_) {}
  Buffer& operator=(Buffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(malloced_, other.malloced_);
    return *this;
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer();

  std::uint8_t* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  template <class T>
  T* as() const noexcept {
    return reinterpret_cast<T*>(data_);
  }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  bool malloced_ = false;
};

// A finished column: its format, length, null count and buffers in the
// order the format's layout lists them (a null validity buffer when the
// column has no nulls).
struct ColumnData {
  std::string format;
  std::int64_t length = 0;
  std::int64_t null_count = 0;
  std::vector<Buffer> buffers;
  std::vector<const void*> pointers;  // buffers' data, null for an absent one

  void add(Buffer b, bool present = true) {
    pointers.push_back(present ? b.data() : nullptr);
    buffers.push_back(std::move(b));
  }
};
using Column = std::shared_ptr<const ColumnData>;

// Which text a text column holds of each valid row.
enum class TextPart : unsigned char { Full, Localpart, Domain, Resource };

// The text of each row of `outputs` (a part of it, for the parts columns),
// null where the row is invalid or null, or where the part is absent. A
// string_view input gives a string column (`width` String). Throws
// std::length_error when a "u" column's data would pass its int32 offsets.
Column text_column(const std::vector<ChunkOutput>& outputs, Width width, TextPart part = TextPart::Full);
// text_column(outputs, width), taking the data of a column held in one
// chunk as its data buffer, without a copy (the chunk's data is left
// empty); the texts of several chunks are copied, a thread per chunk.
Column take_text_column(std::vector<ChunkOutput>& outputs, Width width);
// The error kind of each row as int8, null where the row is valid or null.
Column kind_column(const std::vector<ChunkOutput>& outputs);
// int32 values, null where a value is negative (the group ids), and int64
// values, each taking its values' buffer as it is (from malloc with 64
// bytes of zeroed padding: PodArray::release_padded).
Column int32_column(Buffer values, std::size_t n);
Column int64_column(Buffer values, std::size_t n);
// Texts without nulls (the distinct texts of a grouping): `bytes` and the
// n + 1 uint32 `offsets` into it, both taken as they are (as above) for a
// "u" column, the offsets widened for a "U" one. Throws std::length_error
// when a "u" column's data would pass its int32 offsets.
Column string_column(Buffer bytes, Buffer offsets, std::size_t n, Width width);

// A named set of columns of one length: a batch of results, exported as a
// struct array (what consumers read as a record batch).
struct NamedColumns {
  std::vector<std::string> names;
  std::vector<Column> columns;
};

// Fill `schema` and `array` (whose release must be null) with new exports
// holding a reference to the data. Throw std::bad_alloc, leaving both
// released.
void export_column(const Column& column, ArrowSchema* schema, ArrowArray* array);
void export_column_schema(const ColumnData& column, ArrowSchema* schema);
void export_struct(const NamedColumns& batch, ArrowSchema* schema, ArrowArray* array);
void export_struct_schema(const NamedColumns& batch, ArrowSchema* schema);

// A stream over finished batches. With `single` set, the stream's items are
// each batch's one column rather than a struct of them.
// `prototype` (columns of length 0) gives the schema, batches or none.
void export_stream(NamedColumns prototype, std::vector<NamedColumns> batches, bool single,
                   ArrowArrayStream* stream);

}  // namespace quorvel::binding::batch

// Building the result columns from chunk outputs, and exporting them.
#include "batch/arrow_export.h"

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace quorvel::binding::batch {

Buffer::Buffer(std::size_t bytes, Fill fill) : size_(bytes) {
  // Rounded up so that a word-wise reader never reads past the end.
  const std::size_t rounded = (bytes + 63) / 64 * 64 + 64;
  data_ = static_cast<std::uint8_t*>(::operator new(rounded, std::align_val_t{64}));
  advise_huge_pages(data_, rounded);
  const std::size_t from = fill == Fill::Zero ? 0 : bytes;
  std::memset(data_ + from, 0, rounded - from);
}

Buffer::~Buffer() {
  if (data_ == nullptr) return;
  if (malloced_) {
    std::free(data_);
  } else {
    ::operator delete(data_, std::align_val_t{64});
  }
}

namespace {

std::string_view part_of(std::string_view text, std::uint16_t at, std::uint16_t slash, TextPart part,
                         bool& present) {
  present = true;
  const std::size_t domain_start = at == 0 ? 0 : at + 1u;
  const std::size_t domain_end = slash == 0 ? text.size() : slash;
  switch (part) {
    case TextPart::Full:
      return text;
    case TextPart::Localpart:
      present = at != 0;
      return text.substr(0, at);
    case TextPart::Domain:
      return text.substr(domain_start, domain_end - domain_start);
    case TextPart::Resource:
      present = slash != 0;
      return slash == 0 ? std::string_view() : text.substr(slash + 1u);
  }
  return text;
}

std::size_t total_rows(const std::vector<ChunkOutput>& outputs) {
  std::size_t n = 0;
  for (const ChunkOutput& c : outputs) n += c.rows();
  return n;
}

Buffer bitmap_for(std::size_t rows) { return Buffer((rows + 7) / 8); }
void set_bit(Buffer& b, std::size_t i) noexcept { b.data()[i >> 3] |= std::uint8_t(1u << (i & 7)); }

template <class Offset>
Column texts_with_offsets(const std::vector<ChunkOutput>& outputs, TextPart part, const char* format) {
  const std::size_t rows = total_rows(outputs);
  std::size_t bytes = 0;
  for_each_row(outputs, [&](std::size_t, const ChunkOutput& c, std::size_t k) {
    if (c.status[k] != kRowValid) return;
    bool present;
    bytes += part_of(c.text(k), c.at[k], c.slash[k], part, present).size();
  });
  if (bytes > static_cast<std::size_t>(std::numeric_limits<Offset>::max())) {
    throw std::length_error("the normalised texts pass 2 GiB, more than a string column holds; "
                            "give a large_string column instead");
  }
  Buffer validity = bitmap_for(rows);
  Buffer offsets((rows + 1) * sizeof(Offset), Buffer::Fill::WrittenInFull);
  Buffer data(bytes, Buffer::Fill::WrittenInFull);
  auto* off = offsets.as<Offset>();
  std::size_t pos = 0;
  std::int64_t nulls = 0;
  for_each_row(outputs, [&](std::size_t row, const ChunkOutput& c, std::size_t k) {
    off[row] = static_cast<Offset>(pos);
    bool present = false;
    std::string_view text;
    if (c.status[k] == kRowValid) text = part_of(c.text(k), c.at[k], c.slash[k], part, present);
    if (!present) {
      ++nulls;
      return;
    }
    set_bit(validity, row);
    if (!text.empty()) std::memcpy(data.data() + pos, text.data(), text.size());
    pos += text.size();
  });
  off[rows] = static_cast<Offset>(pos);
  auto column = std::make_shared<ColumnData>();
  column->format = format;
  column->length = static_cast<std::int64_t>(rows);
  column->null_count = nulls;
  column->add(std::move(validity), nulls != 0);
  column->add(std::move(offsets));
  column->add(std::move(data));
  return column;
}

}  // namespace

namespace {

// Sets bit first + k of `bitmap` (zeroed) for each of the n rows whose
// status keep() takes, eight rows to a byte where the rows fill one, and
// counts them.
template <class Keep>
std::size_t mark_rows(const std::uint8_t* status, std::size_t n, std::size_t first, std::uint8_t* bitmap,
                      Keep keep) noexcept {
  std::size_t kept = 0, k = 0;
  auto one = [&](std::size_t i) {
    if (keep(status[i])) {
      bitmap[(first + i) >> 3] |= static_cast<std::uint8_t>(1u << ((first + i) & 7));
      ++kept;
    }
  };
  for (; k < n && ((first + k) & 7) != 0; ++k) one(k);
  for (; k + 8 <= n; k += 8) {
    unsigned byte = 0;
    for (unsigned j = 0; j < 8; ++j) byte |= static_cast<unsigned>(keep(status[k + j])) << j;
    bitmap[(first + k) >> 3] = static_cast<std::uint8_t>(byte);
    kept += static_cast<std::size_t>(std::popcount(byte));
  }
  for (; k < n; ++k) one(k);
  return kept;
}

// The bitmap of the rows of `outputs` that are valid, and how many are not.
Buffer valid_rows(const std::vector<ChunkOutput>& outputs, std::size_t rows, std::int64_t& nulls) {
  Buffer validity = bitmap_for(rows);
  std::size_t first = 0, valid = 0;
  for (const ChunkOutput& c : outputs) {
    valid += mark_rows(c.status.data(), c.rows(), first, validity.data(),
                       [](std::uint8_t s) { return s == kRowValid; });
    first += c.rows();
  }
  nulls = static_cast<std::int64_t>(rows - valid);
  return validity;
}

Column string_record(const char* format, std::size_t rows, Buffer validity, std::int64_t nulls, Buffer offsets,
                     Buffer data) {
  auto column = std::make_shared<ColumnData>();
  column->format = format;
  column->length = static_cast<std::int64_t>(rows);
  column->null_count = nulls;
  column->add(std::move(validity), nulls != 0);
  column->add(std::move(offsets));
  column->add(std::move(data));
  return column;
}

template <class Offset>
void check_text_bytes(std::uint64_t bytes) {
  if (bytes > static_cast<std::uint64_t>(std::numeric_limits<Offset>::max())) {
    throw std::length_error("the normalised texts pass 2 GiB, more than a string column holds; "
                            "give a large_string column instead");
  }
}

// The one chunk of `outputs`, its data taken as the column's, and its
// offsets too where they are of the column's width.
template <class Offset>
Column taken_texts(std::vector<ChunkOutput>& outputs, const char* format) {
  ChunkOutput& c = outputs.front();
  const std::size_t rows = c.rows();
  const std::size_t bytes = c.data.size();
  check_text_bytes<Offset>(bytes);
  std::int64_t nulls = 0;
  Buffer validity = valid_rows(outputs, rows, nulls);
  Buffer offsets;
  constexpr bool kWide = sizeof(Offset) == 8;
  auto& own = [&]() -> PodArray<Offset>& {
    if constexpr (kWide) {
      return c.offsets64();
    } else {
      return c.offsets32();
    }
  }();
  if (c.wide() == kWide && own.size() == rows + 1) {
    offsets = Buffer::adopt_malloced(own.release_padded(), (rows + 1) * sizeof(Offset));
  } else {
    offsets = Buffer((rows + 1) * sizeof(Offset), Buffer::Fill::WrittenInFull);
    auto* off = offsets.as<Offset>();
    off[0] = 0;
    for (std::size_t k = 0; k < rows; ++k) off[k + 1] = static_cast<Offset>(c.end_of(k));
  }
  return string_record(format, rows, std::move(validity), nulls, std::move(offsets),
                       Buffer::adopt_malloced(c.data.release_padded(), bytes));
}

// The texts of several chunks as one column, each chunk's offsets and
// bytes copied by a thread of its own into its own part of the buffers (so
// that joining the chunks scales with them as the parsing did); the bitmap,
// whose bytes two chunks may share, is set on the calling thread after.
template <class Offset>
Column joined_texts(const std::vector<ChunkOutput>& outputs, const char* format) {
  std::vector<std::pair<std::size_t, std::size_t>> rows_of;
  std::vector<std::uint64_t> first_byte;
  std::size_t rows = 0;
  std::uint64_t bytes = 0;
  for (const ChunkOutput& c : outputs) {
    rows_of.emplace_back(rows, rows + c.rows());
    first_byte.push_back(bytes);
    rows += c.rows();
    bytes += c.data.size();
  }
  check_text_bytes<Offset>(bytes);
  Buffer offsets((rows + 1) * sizeof(Offset), Buffer::Fill::WrittenInFull);
  Buffer data(static_cast<std::size_t>(bytes), Buffer::Fill::WrittenInFull);
  auto* off = offsets.as<Offset>();
  run_chunks(rows_of, [&](std::size_t c, std::size_t begin, std::size_t) {
    const ChunkOutput& chunk = outputs[c];
    const std::uint64_t base = first_byte[c];
    for (std::size_t k = 0; k < chunk.rows(); ++k) off[begin + k] = static_cast<Offset>(base + chunk.begin_of(k));
    if (chunk.data.size() != 0) std::memcpy(data.data() + base, chunk.data.data(), chunk.data.size());
  });
  off[rows] = static_cast<Offset>(bytes);
  std::int64_t nulls = 0;
  Buffer validity = valid_rows(outputs, rows, nulls);
  return string_record(format, rows, std::move(validity), nulls, std::move(offsets), std::move(data));
}

}  // namespace

Column take_text_column(std::vector<ChunkOutput>& outputs, Width width) {
  if (outputs.size() != 1) {
    if (width == Width::LargeString) return joined_texts<std::int64_t>(outputs, "U");
    return joined_texts<std::int32_t>(outputs, "u");
  }
  if (width == Width::LargeString) return taken_texts<std::int64_t>(outputs, "U");
  return taken_texts<std::int32_t>(outputs, "u");
}

Column text_column(const std::vector<ChunkOutput>& outputs, Width width, TextPart part) {
  if (width == Width::LargeString) return texts_with_offsets<std::int64_t>(outputs, part, "U");
  return texts_with_offsets<std::int32_t>(outputs, part, "u");
}

Column string_column(Buffer bytes, Buffer offsets, std::size_t n, Width width) {
  auto column = std::make_shared<ColumnData>();
  column->length = static_cast<std::int64_t>(n);
  column->add(Buffer(), false);
  if (width == Width::LargeString) {
    column->format = "U";
    Buffer wide((n + 1) * 8, Buffer::Fill::WrittenInFull);
    const auto* narrow = offsets.as<const std::uint32_t>();
    for (std::size_t i = 0; i <= n; ++i) wide.as<std::int64_t>()[i] = narrow[i];
    column->add(std::move(wide));
  } else {
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      throw std::length_error("the distinct texts pass 2 GiB, more than a string column holds; "
                              "give a large_string column instead");
    }
    column->format = "u";
    column->add(std::move(offsets));
  }
  column->add(std::move(bytes));
  return column;
}

Column kind_column(const std::vector<ChunkOutput>& outputs) {
  const std::size_t rows = total_rows(outputs);
  Buffer validity = bitmap_for(rows);
  Buffer values(rows, Buffer::Fill::WrittenInFull);
  std::size_t first = 0, failed = 0;
  // A kind is below kKindCount; the other statuses (valid, null) have no kind.
  auto is_kind = [](std::uint8_t s) { return s < kKindCount; };
  for (const ChunkOutput& c : outputs) {
    failed += mark_rows(c.status.data(), c.rows(), first, validity.data(), is_kind);
    std::uint8_t* out = values.data() + first;
    for (std::size_t k = 0; k < c.rows(); ++k) out[k] = is_kind(c.status[k]) ? c.status[k] : 0;
    first += c.rows();
  }
  const auto nulls = static_cast<std::int64_t>(rows - failed);
  auto column = std::make_shared<ColumnData>();
  column->format = "c";
  column->length = static_cast<std::int64_t>(rows);
  column->null_count = nulls;
  column->add(std::move(validity), nulls != 0);
  column->add(std::move(values));
  return column;
}

Column int32_column(Buffer data, std::size_t n) {
  Buffer validity = bitmap_for(n);
  const auto* values = data.as<const std::int32_t>();
  std::int64_t nulls = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (values[i] < 0) {
      ++nulls;
    } else {
      set_bit(validity, i);
    }
  }
  auto column = std::make_shared<ColumnData>();
  column->format = "i";
  column->length = static_cast<std::int64_t>(n);
  column->null_count = nulls;
  column->add(std::move(validity), nulls != 0);
  column->add(std::move(data));
  return column;
}

Column int64_column(Buffer data, std::size_t n) {
  auto column = std::make_shared<ColumnData>();
  column->format = "l";
  column->length = static_cast<std::int64_t>(n);
  column->add(Buffer(), false);
  column->add(std::move(data));
  return column;
}

// ---- export ----------------------------------------------------------------

namespace {

// What an exported schema owns: its strings and its children.
struct SchemaPrivate {
  std::string format;
  std::string name;
  std::vector<ArrowSchema*> children;
};

void release_schema(ArrowSchema* schema) noexcept {
  auto* p = static_cast<SchemaPrivate*>(schema->private_data);
  for (ArrowSchema* child : p->children) {
    if (child->release != nullptr) child->release(child);
    delete child;
  }
  delete p;
  schema->release = nullptr;
}

void fill_schema(ArrowSchema* schema, std::string format, std::string name, std::int64_t flags,
                 std::unique_ptr<SchemaPrivate> p) {
  p->format = std::move(format);
  p->name = std::move(name);
  schema->format = p->format.c_str();
  schema->name = p->name.c_str();
  schema->metadata = nullptr;
  schema->flags = flags;
  schema->n_children = static_cast<std::int64_t>(p->children.size());
  schema->children = p->children.empty() ? nullptr : p->children.data();
  schema->dictionary = nullptr;
  schema->private_data = p.release();
  schema->release = release_schema;
}

// What an exported array owns: a reference to the data and its children.
struct ArrayPrivate {
  std::vector<Column> held;
  std::vector<const void*> buffers;
  std::vector<ArrowArray*> children;
};

void release_array(ArrowArray* array) noexcept {
  auto* p = static_cast<ArrayPrivate*>(array->private_data);
  for (ArrowArray* child : p->children) {
    if (child->release != nullptr) child->release(child);
    delete child;
  }
  delete p;
  array->release = nullptr;
}

void fill_array(ArrowArray* array, std::int64_t length, std::int64_t null_count,
                std::unique_ptr<ArrayPrivate> p) {
  array->length = length;
  array->null_count = null_count;
  array->offset = 0;
  array->n_buffers = static_cast<std::int64_t>(p->buffers.size());
  array->n_children = static_cast<std::int64_t>(p->children.size());
  array->buffers = p->buffers.data();
  array->children = p->children.empty() ? nullptr : p->children.data();
  array->dictionary = nullptr;
  array->private_data = p.release();
  array->release = release_array;
}

}  // namespace

void export_column_schema(const ColumnData& column, ArrowSchema* schema) {
  fill_schema(schema, column.format, "", kArrowFlagNullable, std::make_unique<SchemaPrivate>());
}

void export_column(const Column& column, ArrowSchema* schema, ArrowArray* array) {
  auto p = std::make_unique<ArrayPrivate>();
  p->held.push_back(column);
  p->buffers = column->pointers;
  export_column_schema(*column, schema);
  fill_array(array, column->length, column->null_count, std::move(p));
}

void export_struct_schema(const NamedColumns& batch, ArrowSchema* schema) {
  auto p = std::make_unique<SchemaPrivate>();
  p->children.reserve(batch.columns.size());
  try {
    for (std::size_t i = 0; i < batch.columns.size(); ++i) {
      auto child = std::make_unique<ArrowSchema>();
      child->release = nullptr;
      fill_schema(child.get(), batch.columns[i]->format, batch.names[i], kArrowFlagNullable,
                  std::make_unique<SchemaPrivate>());
      p->children.push_back(child.release());
    }
  } catch (...) {
    for (ArrowSchema* child : p->children) {
      child->release(child);
      delete child;
    }
    throw;
  }
  fill_schema(schema, "+s", "", 0, std::move(p));
}

void export_struct(const NamedColumns& batch, ArrowSchema* schema, ArrowArray* array) {
  const std::int64_t length = batch.columns.empty() ? 0 : batch.columns.front()->length;
  auto p = std::make_unique<ArrayPrivate>();
  p->buffers.push_back(nullptr);  // no struct-level nulls
  p->children.reserve(batch.columns.size());
  try {
    for (const Column& column : batch.columns) {
      auto child = std::make_unique<ArrowArray>();
      auto cp = std::make_unique<ArrayPrivate>();
      cp->held.push_back(column);
      cp->buffers = column->pointers;
      fill_array(child.get(), column->length, column->null_count, std::move(cp));
      p->children.push_back(child.release());
    }
    export_struct_schema(batch, schema);
  } catch (...) {
    for (ArrowArray* child : p->children) {
      child->release(child);
      delete child;
    }
    throw;
  }
  fill_array(array, length, 0, std::move(p));
}

namespace {

struct StreamPrivate {
  NamedColumns prototype;
  std::vector<NamedColumns> batches;
  bool single = false;
  std::size_t next = 0;
  std::string last_error;
};

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
  auto* p = static_cast<StreamPrivate*>(stream->private_data);
  try {
    if (p->single) {
      export_column_schema(*p->prototype.columns.front(), out);
    } else {
      export_struct_schema(p->prototype, out);
    }
    return 0;
  } catch (...) {
    p->last_error = "out of memory";
    return ENOMEM;
  }
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
  auto* p = static_cast<StreamPrivate*>(stream->private_data);
  if (p->next == p->batches.size()) {
    out->release = nullptr;  // the end of the stream
    return 0;
  }
  try {
    const NamedColumns& batch = p->batches[p->next];
    if (p->single) {
      auto cp = std::make_unique<ArrayPrivate>();
      const Column& column = batch.columns.front();
      cp->held.push_back(column);
      cp->buffers = column->pointers;
      fill_array(out, column->length, column->null_count, std::move(cp));
    } else {
      ArrowSchema schema;
      schema.release = nullptr;
      export_struct(batch, &schema, out);
      schema.release(&schema);
    }
    ++p->next;
    return 0;
  } catch (...) {
    p->last_error = "out of memory";
    return ENOMEM;
  }
}

const char* stream_last_error(ArrowArrayStream* stream) noexcept {
  auto* p = static_cast<StreamPrivate*>(stream->private_data);
  return p->last_error.empty() ? nullptr : p->last_error.c_str();
}

void stream_release(ArrowArrayStream* stream) noexcept {
  delete static_cast<StreamPrivate*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

void export_stream(NamedColumns prototype, std::vector<NamedColumns> batches, bool single,
                   ArrowArrayStream* stream) {
  auto p = std::make_unique<StreamPrivate>();
  p->prototype = std::move(prototype);
  p->batches = std::move(batches);
  p->single = single;
  stream->get_schema = stream_get_schema;
  stream->get_next = stream_get_next;
  stream->get_last_error = stream_last_error;
  stream->private_data = p.release();
  stream->release = stream_release;
}

}  // namespace quorvel::binding::batch

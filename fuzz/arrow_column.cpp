// The batch route's Arrow column reader and row loop (binding/batch/
// arrow_column.h) over string columns the input bytes lay out: string,
// large_string or string_view, or a dictionary over one of them, with a
// slice offset, a validity bitmap, a null count that may not match it,
// inline and out-of-line views over several data buffers, and now and then
// a fault in the layout (offsets out of order or negative, a view outside
// its buffer, a missing buffer, a negative length, a dictionary index past
// the dictionary).
//
// Every buffer is allocated at exactly the size the layout promises, so
// ASan stops any read beyond it. A layout that this harness's own check
// finds sound must be read, and each row's result be what parsing that row
// alone gives; any other must be refused with InputError, before any read.
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/arrow_column.h"
#include "batch/row_loop.h"
#include "checks.h"

using namespace quorvel;
using namespace quorvel::binding;
using namespace quorvel::binding::batch;

namespace {

// The input, read a piece at a time; past its end every read gives zeros.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    return v;
  }
  std::string text(std::size_t most) {
    const std::size_t n = std::min<std::size_t>(byte() % (most + 1), size_ - pos_);
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A buffer of exactly `n` bytes (at least one allocated, so that the
// pointer is never null unless asked for), ASan's bounds at its end.
struct Buffer {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t size = 0;
  explicit Buffer(std::size_t n = 0) : bytes(new std::uint8_t[n == 0 ? 1 : n]()), size(n) {}
  template <class T>
  T* as() {
    return reinterpret_cast<T*>(bytes.get());
  }
};

void no_release(ArrowArray*) {}
void no_release_schema(ArrowSchema*) {}

// One string array as laid out, with what a sound reader must see in it.
struct StringArray {
  ArrowArray array{};
  std::vector<Buffer> owned;
  std::vector<const void*> pointers;
  std::vector<std::optional<std::string>> rows;  // the slice's rows, nullopt for null
  bool sound = true;                             // by this harness's own reading

  StringArray() = default;
  StringArray(const StringArray&) = delete;
  StringArray& operator=(const StringArray&) = delete;
};

bool bit(const Buffer& b, std::size_t i) { return (b.bytes[i >> 3] >> (i & 7)) & 1; }

// The validity of rows [0, total): a bitmap (or none) and the null count
// given, possibly not the bitmap's own. Fills `valid` with what a reader
// must take each row's validity to be.
void lay_validity(Input& in, StringArray& a, std::size_t offset, std::size_t total,
                  std::vector<bool>& valid) {
  const std::uint8_t mode = in.byte();
  valid.assign(total, true);
  std::int64_t nulls = 0;
  if (mode & 1) {
    Buffer bitmap((total + 7) / 8);
    for (std::size_t i = 0; i < bitmap.size; ++i) bitmap.bytes[i] = in.byte() | (mode & 2 ? 0xAA : 0);
    for (std::size_t i = offset; i < total; ++i) nulls += !bit(bitmap, i);
    a.owned.push_back(std::move(bitmap));
    a.pointers[0] = a.owned.back().bytes.get();
  }
  // The count as given: the bitmap's own, unknown (-1), zero (the bitmap
  // is then not read) or some other count, which a reader must not trust.
  switch ((mode >> 2) & 3) {
    case 0: a.array.null_count = nulls; break;
    case 1: a.array.null_count = -1; break;
    case 2: a.array.null_count = 0; break;
    default: a.array.null_count = nulls + 1 + (mode >> 4); break;
  }
  if (a.pointers[0] != nullptr && a.array.null_count != 0) {
    for (std::size_t i = 0; i < total; ++i) valid[i] = bit(a.owned.back(), i);
  }
}

// The rows' bytes one after the other behind offsets of type Offset. On a
// sound layout `texts` becomes what each row's offsets take in.
template <class Offset>
void lay_offsets(Input& in, StringArray& a, std::vector<std::string>& texts, std::size_t offset,
                 std::uint8_t fault) {
  const std::size_t total = texts.size();
  std::vector<std::int64_t> offsets(total + 1);
  offsets[0] = in.byte() % 4;  // the first row need not start at 0
  for (std::size_t i = 0; i < total; ++i) offsets[i + 1] = offsets[i] + static_cast<std::int64_t>(texts[i].size());
  Buffer data(static_cast<std::size_t>(offsets[total]) + (fault == 3 ? 1 + in.byte() % 64 : 0));
  for (std::size_t i = 0; i < total; ++i) {
    std::memcpy(data.bytes.get() + offsets[i], texts[i].data(), texts[i].size());
  }
  const std::size_t at = in.byte() % (total + 1);
  switch (fault) {
    case 1:  // an offset past the next one, or before the previous
      offsets[at] += (in.byte() % 2 ? 1 : -1) * (1 + in.byte() % 64);
      break;
    case 2:  // a negative offset
      offsets[at] = -1 - in.byte() % 8;
      break;
    case 3:  // the last row runs on over bytes that follow the others
      offsets[total] = static_cast<std::int64_t>(data.size);
      break;
    default:
      break;
  }
  // The interface tells no size of the data buffer: its producer promises
  // one as long as the last offset says, and so does this one.
  if (offsets[total] > static_cast<std::int64_t>(data.size)) {
    Buffer longer(static_cast<std::size_t>(offsets[total]));
    std::memcpy(longer.bytes.get(), data.bytes.get(), data.size);
    data = std::move(longer);
  }
  // Sound: in order across the slice, starting at 0 or later.
  std::int64_t previous = offsets[offset];
  if (previous < 0) a.sound = false;
  for (std::size_t i = offset + 1; i <= total; ++i) {
    if (offsets[i] < previous) a.sound = false;
    previous = offsets[i];
  }
  if (a.sound) {
    for (std::size_t i = offset; i < total; ++i) {
      texts[i].assign(reinterpret_cast<const char*>(data.bytes.get()) + offsets[i],
                      static_cast<std::size_t>(offsets[i + 1] - offsets[i]));
    }
  }
  Buffer off((total + 1) * sizeof(Offset));
  for (std::size_t i = 0; i <= total; ++i) off.as<Offset>()[i] = static_cast<Offset>(offsets[i]);
  a.owned.push_back(std::move(off));
  a.pointers[1] = a.owned.back().bytes.get();
  if (fault == 4 && a.sound && offsets[total] > offsets[offset]) {
    a.sound = false;  // no data buffer for rows that have bytes
  } else {
    a.owned.push_back(std::move(data));
    a.pointers[2] = a.owned.back().bytes.get();
  }
}

// Views of 16 bytes over 0 to 3 data buffers, inline up to 12 bytes. On a
// sound layout `texts` becomes what each row's view holds.
void lay_views(Input& in, StringArray& a, std::vector<std::string>& texts, std::size_t offset,
               const std::vector<bool>& valid, std::uint8_t fault) {
  const std::size_t total = texts.size();
  const std::size_t buffers = in.byte() % 4;  // data buffers
  std::vector<std::string> data(buffers);
  Buffer views(total * 16);
  const std::size_t faulty = total == 0 ? 0 : in.byte() % total;
  for (std::size_t i = 0; i < total; ++i) {
    std::uint8_t* v = views.bytes.get() + 16 * i;
    auto len = static_cast<std::int32_t>(texts[i].size());
    std::int32_t index = 0, off = 0;
    if (len <= 12) {
      std::memcpy(v + 4, texts[i].data(), texts[i].size());
    } else if (buffers == 0) {
      len = 12;  // nowhere to keep it: inline, cut
      texts[i].resize(12);
      std::memcpy(v + 4, texts[i].data(), 12);
    } else {
      index = static_cast<std::int32_t>(in.byte() % buffers);
      // A gap before it now and then, so offsets are not all packed.
      data[index].append(in.byte() % 3, '\0');
      off = static_cast<std::int32_t>(data[index].size());
      data[index] += texts[i];
      std::memcpy(v + 4, texts[i].data(), 4);
    }
    if (i == faulty && len > 12) {
      switch (fault) {
        case 1: index = static_cast<std::int32_t>(buffers) + in.byte() % 2; break;  // no such buffer
        case 2: off += 1 + in.byte() % 32; break;  // past the buffer's end (or not)
        case 3: off = -1 - in.byte() % 4; break;
        case 4: index = -1; break;
        default: break;
      }
    }
    if (i == faulty && fault == 5) len = -1 - in.byte() % 4;
    std::memcpy(v, &len, 4);
    if (len > 12) {  // else bytes 4 to 15 are the text's own
      std::memcpy(v + 8, &index, 4);
      std::memcpy(v + 12, &off, 4);
    }
  }
  a.owned.push_back(std::move(views));
  a.pointers[1] = a.owned.back().bytes.get();
  a.pointers.resize(3 + buffers);
  Buffer sizes(buffers * 8);
  for (std::size_t b = 0; b < buffers; ++b) {
    Buffer d(data[b].size());
    std::memcpy(d.bytes.get(), data[b].data(), data[b].size());
    sizes.as<std::int64_t>()[b] = static_cast<std::int64_t>(data[b].size());
    a.owned.push_back(std::move(d));
    a.pointers[2 + b] = a.owned.back().bytes.get();
  }
  a.owned.push_back(std::move(sizes));
  a.pointers[2 + buffers] = buffers > 0 && fault == 6 ? nullptr : a.owned.back().bytes.get();
  if (buffers > 0 && fault == 6) a.sound = false;
  // Sound: every valid row's view within its buffer.
  for (std::size_t i = offset; i < total; ++i) {
    if (!valid[i]) continue;
    const std::uint8_t* v = static_cast<const std::uint8_t*>(a.pointers[1]) + 16 * i;
    std::int32_t len, index, off;
    std::memcpy(&len, v, 4);
    std::memcpy(&index, v + 8, 4);
    std::memcpy(&off, v + 12, 4);
    if (len < 0) a.sound = false;
    if (len <= 12) continue;
    if (index < 0 || static_cast<std::size_t>(index) >= buffers || off < 0 ||
        static_cast<std::int64_t>(off) + len > static_cast<std::int64_t>(data[index].size())) {
      a.sound = false;
      continue;
    }
    // A moved offset that stays inside the buffer is a sound layout of other
    // bytes: the row is what the view now points at (the reader does not
    // hold the views' four-byte prefixes to their data).
    texts[i] = data[static_cast<std::size_t>(index)].substr(static_cast<std::size_t>(off),
                                                            static_cast<std::size_t>(len));
  }
}

// A string array of `width` whose slice has rows [offset, offset + n).
void lay_strings(Input& in, StringArray& a, Width width) {
  const std::size_t n = in.byte() % 48;
  const std::size_t offset = in.byte() % 9;
  const std::uint8_t fault = in.byte() % 16;  // 0 and above 6: none
  std::vector<std::string> texts(offset + n);
  for (std::string& t : texts) t = in.text(40);
  a.pointers.assign(3, nullptr);
  std::vector<bool> valid;
  lay_validity(in, a, offset, texts.size(), valid);
  if (width == Width::StringView) {
    lay_views(in, a, texts, offset, valid, fault);
  } else if (width == Width::String) {
    lay_offsets<std::int32_t>(in, a, texts, offset, fault);
  } else {
    lay_offsets<std::int64_t>(in, a, texts, offset, fault);
  }
  a.array.length = static_cast<std::int64_t>(n);
  a.array.offset = static_cast<std::int64_t>(offset);
  a.array.n_buffers = static_cast<std::int64_t>(a.pointers.size());
  a.array.buffers = a.pointers.data();
  a.array.release = no_release;
  // Faults of the array itself, which no reading of buffers can excuse.
  switch (fault) {
    case 7: a.array.length = -1 - in.byte() % 4; break;
    case 8: a.array.offset = -1; break;
    case 9: a.array.n_buffers = 2; break;
    case 10: a.pointers[1] = nullptr; break;
    default: break;
  }
  if (a.array.length < 0 || a.array.offset < 0 || a.array.n_buffers < 3 ||
      (a.array.length > 0 && a.pointers[1] == nullptr)) {
    a.sound = false;
  }
  // With no rows, nothing past the array's own fields is read.
  if (a.array.length == 0 && a.array.offset >= 0 && a.array.n_buffers >= 3) a.sound = true;
  for (std::size_t i = offset; i < texts.size(); ++i) {
    a.rows.push_back(valid[i] ? std::optional<std::string>(texts[i]) : std::nullopt);
  }
}

// What one row must give, from that row alone: its status and text.
struct Expected {
  std::uint8_t status;
  std::string text;
  std::uint16_t at = 0, slash = 0;
};

Expected expected(const std::optional<std::string>& row, const Options& o) {
  if (!row) return {kRowNull, ""};
  if (row->empty()) return {kRowValid, ""};
  if (!fuzz::valid_utf8(*row)) return {kInvalidUtf8, ""};
  const Result<JidValue> r = parse_row(*row, o);
  if (!r.ok()) return {static_cast<std::uint8_t>(r.error()), ""};
  return {kRowValid, std::string(r.value().text()), r.value().localpart_end(), r.value().slash_position()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t shape = in.byte();
  const auto width = static_cast<Width>(shape % 3);
  const bool dictionary = (shape >> 2) % 4 == 0;
  Options options;
  options.profile = shape & 0x10 ? Profile::Rfc7622 : Profile::Rfc6122;
  options.bare = shape & 0x20;
  const std::uint8_t run = in.byte();
  const std::size_t threads = 1 + run % 4;
  const std::size_t min_chunk = 1 + (run >> 2) % 8;

  static const char* const kFormats[] = {"u", "U", "vu"};
  ArrowSchema values_schema{};
  values_schema.format = kFormats[static_cast<int>(width)];
  values_schema.release = no_release_schema;
  ArrowSchema schema = values_schema;

  StringArray values;
  lay_strings(in, values, width);
  std::string what(reinterpret_cast<const char*>(data), size);

  // The dictionary's indices: any of the eight integer types, their own
  // slice offset and validity, mostly within the dictionary.
  ArrowArray indices{};
  std::vector<Buffer> index_buffers;
  std::vector<const void*> index_pointers(2, nullptr);
  std::vector<std::optional<std::int64_t>> index_rows;
  static const char* const kIndexFormats[] = {"c", "C", "s", "S", "i", "I", "l", "L"};
  if (dictionary) {
    const std::uint8_t kind = in.byte();
    schema.format = kIndexFormats[kind % 8];
    schema.dictionary = &values_schema;
    const int bytes = 1 << (kind % 8 / 2);
    const bool is_signed = kind % 2 == 0;
    const std::size_t n = in.byte() % 40, offset = in.byte() % 5;
    Buffer ix((n + offset) * static_cast<std::size_t>(bytes));
    const std::size_t entries = values.rows.size();
    for (std::size_t i = 0; i < n + offset; ++i) {
      const std::uint8_t b = in.byte();
      std::uint64_t v = entries == 0 ? b : b % (entries + (b & 0x80 ? 3 : 0));
      if (b == 0xFF) v = ~std::uint64_t{0};  // -1, or the largest unsigned index
      std::memcpy(ix.bytes.get() + i * static_cast<std::size_t>(bytes), &v, static_cast<std::size_t>(bytes));
    }
    const std::uint8_t nulls = in.byte();
    if (nulls & 1) {
      Buffer bitmap((n + offset + 7) / 8);
      for (std::size_t i = 0; i < bitmap.size; ++i) bitmap.bytes[i] = in.byte();
      index_buffers.push_back(std::move(bitmap));
      index_pointers[0] = index_buffers.back().bytes.get();
    }
    indices.null_count = nulls & 2 ? 0 : -1;
    for (std::size_t i = offset; i < n + offset; ++i) {
      if (index_pointers[0] != nullptr && indices.null_count != 0 && !bit(index_buffers.back(), i)) {
        index_rows.emplace_back(std::nullopt);
        continue;
      }
      std::int64_t value;
      const std::uint8_t* p = ix.bytes.get() + i * static_cast<std::size_t>(bytes);
      switch (bytes) {
        case 1: value = is_signed ? std::int64_t{static_cast<std::int8_t>(*p)} : std::int64_t{*p}; break;
        case 2: { std::int16_t s; std::uint16_t u; std::memcpy(&s, p, 2); std::memcpy(&u, p, 2);
                  value = is_signed ? s : u; break; }
        case 4: { std::int32_t s; std::uint32_t u; std::memcpy(&s, p, 4); std::memcpy(&u, p, 4);
                  value = is_signed ? s : static_cast<std::int64_t>(u); break; }
        default: { std::uint64_t u; std::memcpy(&u, p, 8);
                   value = !is_signed && u > 0x7FFFFFFFFFFFFFFFull ? -1 : static_cast<std::int64_t>(u); }
      }
      index_rows.emplace_back(value);
    }
    index_buffers.push_back(std::move(ix));
    index_pointers[1] = index_buffers.back().bytes.get();
    indices.length = static_cast<std::int64_t>(n);
    indices.offset = static_cast<std::int64_t>(offset);
    indices.n_buffers = 2;
    indices.buffers = index_pointers.data();
    indices.dictionary = &values.array;
    indices.release = no_release;
  }

  bool sound = values.sound;
  if (dictionary && sound) {
    for (const auto& ix : index_rows) {
      if (ix && (*ix < 0 || static_cast<std::size_t>(*ix) >= values.rows.size())) sound = false;
    }
  }
  std::vector<std::optional<std::string>> rows;
  if (dictionary) {
    for (const auto& ix : index_rows) rows.push_back(ix && sound ? values.rows[static_cast<std::size_t>(*ix)] : std::nullopt);
  } else {
    rows = values.rows;
  }

  const ColumnType type = ColumnType::from(schema);
  QUORVEL_CHECK(type.has_dictionary == dictionary && type.width == width, what);
  std::vector<ChunkOutput> outputs;
  try {
    outputs = normalise_arrow_column(type, dictionary ? indices : values.array, options, threads, min_chunk);
  } catch (const InputError& e) {
    QUORVEL_CHECK(!sound, std::string("a sound layout refused: ") + e.what());
    QUORVEL_CHECK(!e.is_type(), std::string("a layout fault reported as a type: ") + e.what());
    return 0;
  }
  QUORVEL_CHECK(sound, "an unsound layout was read");
  std::size_t seen = 0;
  for_each_row(outputs, [&](std::size_t row, const ChunkOutput& c, std::size_t k) {
    QUORVEL_CHECK(row < rows.size(), what);
    const Expected e = expected(rows[row], options);
    QUORVEL_CHECK(c.status[k] == e.status, rows[row].value_or("<null>"));
    QUORVEL_CHECK(c.text(k) == e.text, rows[row].value_or("<null>"));
    QUORVEL_CHECK(c.at[k] == e.at && c.slash[k] == e.slash, rows[row].value_or("<null>"));
    ++seen;
  });
  QUORVEL_CHECK(seen == rows.size(), what);
  return 0;
}

// Reading Arrow columns into the row loop (arrow_column.h).
#include "batch/arrow_column.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::binding::batch {

ColumnType ColumnType::from(const ArrowSchema& schema) {
  if (schema.release == nullptr || schema.format == nullptr) {
    throw InputError("the Arrow schema was already released", false);
  }
  if (std::string_view(schema.format) == "+s") {
    if (schema.n_children != 1 || schema.children == nullptr || schema.children[0] == nullptr) {
      throw InputError("expected one column, not a struct (record batch) of " + std::to_string(schema.n_children) +
                           " columns: give the column to read",
                       true);
    }
    const ArrowSchema& child = *schema.children[0];
    if (child.format != nullptr && std::string_view(child.format) == "+s") {
      throw InputError("expected a string column, not a struct inside a struct", true);
    }
    ColumnType t = from(child);
    t.one_column = true;
    return t;
  }
  ColumnType t;
  t.format = schema.format;
  const ArrowSchema* values = &schema;
  if (schema.dictionary != nullptr) {
    bool is_signed;
    if (index_width(t.format, is_signed) == 0) {
      throw InputError("a dictionary column with index format '" + t.format + "'", true);
    }
    if (schema.dictionary->format == nullptr) throw InputError("a dictionary without a format", false);
    t.has_dictionary = true;
    t.value_format = schema.dictionary->format;
    values = schema.dictionary;
  }
  const std::string_view format = values->format;
  if (format == "n" && !t.has_dictionary) {
    t.all_null = true;
    return t;
  }
  const std::optional<Width> width = string_width(format);
  if (!width) {
    throw InputError("expected an Arrow string, large_string or string_view column (format 'u', "
                     "'U' or 'vu'), not format '" + std::string(format) + "'", true);
  }
  t.width = *width;
  return t;
}

ChunkOutput concatenate(std::vector<ChunkOutput> outputs) {
  if (outputs.size() == 1) return std::move(outputs.front());
  ChunkOutput all;
  std::size_t rows = 0, bytes = 0;
  for (const ChunkOutput& c : outputs) {
    rows += c.rows();
    bytes += c.data.size();
  }
  all.data.reserve(bytes);
  all.begin_rows(rows, outputs.front().wide());
  all.status.reserve(rows);
  all.at.reserve(rows);
  all.slash.reserve(rows);
  for (const ChunkOutput& c : outputs) {
    for (std::size_t k = 0; k < c.rows(); ++k) {
      all.data += c.text(k);
      all.end_row();
    }
    all.status.insert(all.status.end(), c.status.begin(), c.status.end());
    all.at.insert(all.at.end(), c.at.begin(), c.at.end());
    all.slash.insert(all.slash.end(), c.slash.begin(), c.slash.end());
  }
  return all;
}

namespace {

// The only child of a one-column struct array, as a column of the struct's
// rows: its offset moved by the struct's, its length the struct's. A null
// struct row has no column value to stand for, and record batches have
// none, so a struct with null rows is refused.
ArrowArray only_child(const ArrowArray& array) {
  if (array.release == nullptr) throw InputError("the Arrow array was already released", false);
  if (array.length < 0 || array.offset < 0 || array.n_children != 1 || array.children == nullptr ||
      array.children[0] == nullptr) {
    throw InputError("malformed Arrow struct array: it must have one child", false);
  }
  if (array.null_count != 0 && array.n_buffers >= 1 && array.buffers != nullptr && array.buffers[0] != nullptr) {
    throw InputError("a struct array with null rows: give its column instead", false);
  }
  ArrowArray child = *array.children[0];
  if (child.release == nullptr) throw InputError("the Arrow array was already released", false);
  if (child.offset < 0 || child.length < 0 || array.offset > child.length ||
      array.length > child.length - array.offset || child.offset > INT64_MAX - array.offset) {
    throw InputError("malformed Arrow struct array: its child is shorter than the struct", false);
  }
  child.offset += array.offset;
  child.length = array.length;
  // The child's null count is of its own rows; of these it is unknown.
  if (child.null_count != 0) child.null_count = -1;
  return child;
}

StringRows checked_rows(const ArrowArray& array, Width width) {
  if (array.release == nullptr) throw InputError("the Arrow array was already released", false);
  StringRows rows(array, width);
  if (std::string why = rows.check(); !why.empty()) {
    throw InputError("malformed Arrow string array: " + why, false);
  }
  return rows;
}

// The rows of a dictionary column: each takes its entry's result.
std::vector<ChunkOutput> gather(const ArrowArray& indices, int width, bool is_signed,
                                const ChunkOutput& entries) {
  if (indices.length < 0 || indices.offset < 0 || indices.n_buffers < 2 || indices.buffers == nullptr ||
      (indices.length > 0 && indices.buffers[1] == nullptr)) {
    throw InputError("malformed Arrow dictionary indices", false);
  }
  const auto n = static_cast<std::size_t>(indices.length);
  ChunkOutput out;
  const bool separators = entries.at.size() == entries.rows();
  out.begin_rows(n, entries.wide());
  out.status.resize(n);
  if (separators) {
    out.at.resize(n);
    out.slash.resize(n);
  }
  for (std::size_t row = 0; row < n; ++row) {
    const std::optional<std::int64_t> index = dictionary_index(indices, width, is_signed, row);
    std::uint8_t status = kRowNull;
    if (index) {
      if (*index < 0 || static_cast<std::uint64_t>(*index) >= entries.rows()) {
        throw InputError("dictionary index " + std::to_string(*index) + " at row " + std::to_string(row) +
                             " is outside the dictionary of " + std::to_string(entries.rows()) + " entries",
                         false);
      }
      const auto e = static_cast<std::size_t>(*index);
      status = entries.status[e];
      if (status == kRowValid) {
        out.data += entries.text(e);
        if (separators) {
          out.at[row] = entries.at[e];
          out.slash[row] = entries.slash[e];
        }
      }
    }
    out.status[row] = status;
    out.end_row();
  }
  std::vector<ChunkOutput> outputs;
  outputs.push_back(std::move(out));
  return outputs;
}

// A null-type column: no buffers to read, every row null.
std::vector<ChunkOutput> null_rows(const ArrowArray& array, bool wide) {
  if (array.release == nullptr) throw InputError("the Arrow array was already released", false);
  if (array.length < 0 || array.offset < 0) {
    throw InputError("malformed Arrow null array: negative length or offset", false);
  }
  const auto n = static_cast<std::size_t>(array.length);
  ChunkOutput out;
  out.begin_rows(n, wide);
  for (std::size_t k = 0; k < n; ++k) out.end_row();
  out.status.assign(n, kRowNull);
  out.at.assign(n, 0);
  out.slash.assign(n, 0);
  std::vector<ChunkOutput> outputs;
  outputs.push_back(std::move(out));
  return outputs;
}

}  // namespace

std::vector<ChunkOutput> normalise_arrow_column(const ColumnType& type, const ArrowArray& array,
                                                const Options& given, std::size_t threads,
                                                std::size_t min_chunk) {
  if (type.one_column) {
    ColumnType column = type;
    column.one_column = false;
    return normalise_arrow_column(column, only_child(array), given, threads, min_chunk);
  }
  Options options = given;
  options.check_utf8 = true;
  // The offsets of the column the results go to: a string_view column's
  // results are a string column.
  options.wide_offsets = type.width == Width::LargeString;
  if (type.all_null) return null_rows(array, options.wide_offsets);
  if (!type.has_dictionary) {
    const StringRows rows = checked_rows(array, type.width);
    return normalise_column(rows, rows.size(), options, threads, min_chunk);
  }
  if (array.release == nullptr) throw InputError("the Arrow array was already released", false);
  if (array.dictionary == nullptr) throw InputError("a dictionary column without its dictionary", false);
  const StringRows values = checked_rows(*array.dictionary, type.width);
  const ChunkOutput entries = concatenate(normalise_column(values, values.size(), options, threads, min_chunk));
  bool is_signed = false;
  const int width = index_width(type.format, is_signed);
  return gather(array, width, is_signed, entries);
}

void group_arrow_column(const ColumnType& type, const ArrowArray& array, const Options& given,
                        std::size_t threads, Grouping& into, std::size_t min_chunk) {
  if (type.one_column) {
    ColumnType column = type;
    column.one_column = false;
    group_arrow_column(column, only_child(array), given, threads, into, min_chunk);
    return;
  }
  if (type.all_null || type.has_dictionary) {
    group_outputs(normalise_arrow_column(type, array, given, threads, min_chunk), into);
    return;
  }
  Options options = given;
  options.check_utf8 = true;
  const StringRows rows = checked_rows(array, type.width);
  group_column(rows, rows.size(), options, threads, into, min_chunk);
}

}  // namespace quorvel::binding::batch

// A whole Arrow column through the row loop: one of the three string
// layouts (or the null type), or a dictionary over one of them, whose entries are normalised
// once each and then handed to the rows that index them. Plain C++, run
// with the interpreter lock released.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "batch/arrow_abi.h"
#include "batch/grouping.h"
#include "batch/row_loop.h"

namespace quorvel::binding::batch {

// Data that cannot be read as a string column, with the reason; the
// binding raises it as ValueError or TypeError, and no result is made.
class InputError : public std::runtime_error {
 public:
  InputError(std::string text, bool is_type) : std::runtime_error(std::move(text)), is_type_(is_type) {}
  bool is_type() const noexcept { return is_type_; }

 private:
  bool is_type_;
};

// What the batch route needs of an ArrowSchema, copied out of it, so that
// the schema's owner need not be touched once the lock is released.
struct ColumnType {
  std::string format;            // the column's own format (the index type for a dictionary)
  bool has_dictionary = false;
  std::string value_format;      // the dictionary's format
  Width width = Width::String;   // the string layout of the values
  // Format "n": a column of nothing but nulls, as tools type a column that
  // held no value yet (pyarrow.array([None]), a Polars Series of None). It
  // has no buffers; its results are null rows of the string layout.
  bool all_null = false;
  // Format "+s" with one child: a record batch (or a table's stream) of one
  // column, read as that column, which the fields above describe. A struct
  // of any other number of children is refused: which column is meant is
  // the caller's to say.
  bool one_column = false;

  // Throws InputError (a type error) for anything but a string column.
  static ColumnType from(const ArrowSchema& schema);
};

// The rows of `array`, a column of type `type`, normalised. Throws
// InputError for a malformed array.
std::vector<ChunkOutput> normalise_arrow_column(const ColumnType& type, const ArrowArray& array,
                                                const Options& options, std::size_t threads,
                                                std::size_t min_chunk = kMinChunkRows);

// The rows of `array` grouped into `into`, after the rows it holds. A
// string column is grouped as it is parsed; a dictionary column's entries
// are normalised once each, as above. Throws InputError as above.
void group_arrow_column(const ColumnType& type, const ArrowArray& array, const Options& options,
                        std::size_t threads, Grouping& into, std::size_t min_chunk = kMinChunkRows);

// The chunks as one (the dictionary's entries, indexed by row).
ChunkOutput concatenate(std::vector<ChunkOutput> outputs);

}  // namespace quorvel::binding::batch

// What the list and Arrow routes of quorvel._batch share: their arguments,
// and running the native work with the interpreter lock released.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "batch/arrow_column.h"
#include "batch/batch.h"
#include "support/unlocked.h"

namespace quorvel::binding::batch {

// Runs `work` without the lock. Refused input (InputError) and a column
// too long for its offsets (std::length_error) come back as the exception
// to raise, once the lock is held again; std::bad_alloc goes on to the
// entry guard, which raises MemoryError.
template <class Work>
Status unlocked(Work&& work) {
  std::optional<std::pair<PyObject*, std::string>> failure;
  {
    Unlocked released;
    try {
      work();
    } catch (const InputError& e) {
      failure.emplace(e.is_type() ? PyExc_TypeError : PyExc_ValueError, e.what());
    } catch (const std::length_error& e) {
      failure.emplace(PyExc_OverflowError, e.what());
    }
  }
  if (failure) return PyError::with_text(failure->first, failure->second);
  return Done{};
}

// The routes' flags: bare, rfc7622 (and parts) as truth values, threads as
// a count of at least 1.
Outcome<bool> flag(PyObject* obj);
Outcome<std::size_t> thread_count(PyObject* obj);
Outcome<Options> options_from(PyObject* bare, PyObject* rfc7622);

// A tuple of Column objects over `columns`.
Outcome<PyRef> column_tuple(std::vector<Column> columns);

// The columns of a normalised column: text and error, and with `parts`
// localpart, domain and resource.
std::vector<Column> result_columns(std::vector<ChunkOutput> outputs, Width width, bool parts);

// The string layout results of a column of layout `input` are given in:
// the same width, but a string_view column gives a string one.
inline Width output_width(Width input) noexcept {
  return input == Width::LargeString ? Width::LargeString : Width::String;
}

}  // namespace quorvel::binding::batch

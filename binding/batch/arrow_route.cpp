// The Arrow route of quorvel._batch: capsules of the Arrow PyCapsule
// interface in, Column objects out. The array is moved out of its capsule
// (as the interface asks of a consumer), read where its producer put it,
// and released once the results are built; the schema is only read, and
// what the route needs of it is copied before the lock is released.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "batch/grouping.h"
#include "batch/route_support.h"

namespace quorvel::binding::batch {
namespace {

// An array or stream this route owns: released when it goes, with the lock
// held (a producer's release may need the interpreter, and takes it then).
template <class T>
struct Owned {
  T value{};
  Owned() noexcept { value.release = nullptr; }
  ~Owned() {
    if (value.release != nullptr) value.release(&value);
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
};

template <class T>
Outcome<T*> capsule_pointer(PyObject* capsule, const char* name) {
  if (!PyCapsule_CheckExact(capsule)) return type_mismatch(capsule, "PyCapsule");
  auto* p = static_cast<T*>(PyCapsule_GetPointer(capsule, name));
  if (p == nullptr) return PyError::fetch();
  return p;
}

Outcome<ColumnType> type_from(PyObject* schema_capsule) {
  auto schema = capsule_pointer<ArrowSchema>(schema_capsule, "arrow_schema");
  if (!schema) return std::move(schema).error();
  try {
    return ColumnType::from(*schema.value());
  } catch (const InputError& e) {
    return PyError::with_text(e.is_type() ? PyExc_TypeError : PyExc_ValueError, e.what());
  }
}

Status move_array(PyObject* array_capsule, Owned<ArrowArray>& into) {
  auto array = capsule_pointer<ArrowArray>(array_capsule, "arrow_array");
  if (!array) return std::move(array).error();
  if (array.value()->release == nullptr) {
    return PyError::with_text(PyExc_ValueError, "the Arrow array was already consumed");
  }
  into.value = *array.value();
  array.value()->release = nullptr;
  return Done{};
}

Status move_stream(PyObject* stream_capsule, Owned<ArrowArrayStream>& into) {
  auto stream = capsule_pointer<ArrowArrayStream>(stream_capsule, "arrow_array_stream");
  if (!stream) return std::move(stream).error();
  if (stream.value()->release == nullptr) {
    return PyError::with_text(PyExc_ValueError, "the Arrow stream was already consumed or closed");
  }
  into.value = *stream.value();
  stream.value()->release = nullptr;
  return Done{};
}

std::string stream_failure(ArrowArrayStream& stream, int code, const char* what) {
  const char* text = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
  return std::string("the Arrow stream failed ") + what + ": " +
         (text != nullptr ? std::string(text) : std::strerror(code));
}

// Every batch of a stream, each handed to `visit(type, array)` without the
// lock. Throws InputError for a stream that fails or is not of strings.
template <class Visit>
ColumnType read_stream(ArrowArrayStream& stream, Visit&& visit) {
  ArrowSchema schema{};
  schema.release = nullptr;
  if (int code = stream.get_schema(&stream, &schema); code != 0) {
    throw InputError(stream_failure(stream, code, "to give its schema"), false);
  }
  ColumnType type;
  try {
    type = ColumnType::from(schema);
  } catch (...) {
    if (schema.release != nullptr) schema.release(&schema);
    throw;
  }
  if (schema.release != nullptr) schema.release(&schema);
  for (;;) {
    Owned<ArrowArray> array;
    if (int code = stream.get_next(&stream, &array.value); code != 0) {
      throw InputError(stream_failure(stream, code, "to give its next batch"), false);
    }
    if (array.value.release == nullptr) break;  // the end
    visit(type, array.value);
  }
  return type;
}

// normalise_arrow(schema, array, bare, rfc7622, parts, threads) -> tuple of Columns
PyObject* normalise_arrow(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 6) return PyError::with_text(PyExc_TypeError, "normalise_arrow() takes 6 arguments");
    auto options = options_from(args[2], args[3]);
    if (!options) return std::move(options).error();
    auto parts = flag(args[4]);
    if (!parts) return std::move(parts).error();
    options.value().separators = parts.value();
    auto threads = thread_count(args[5]);
    if (!threads) return std::move(threads).error();
    auto type = type_from(args[0]);
    if (!type) return std::move(type).error();
    Owned<ArrowArray> array;
    if (auto moved = move_array(args[1], array); !moved) return std::move(moved).error();
    std::vector<Column> columns;
    auto done = unlocked([&] {
      columns = result_columns(normalise_arrow_column(type.value(), array.value, options.value(), threads.value()),
                               output_width(type.value().width), parts.value());
    });
    if (!done) return std::move(done).error();
    return column_tuple(std::move(columns));
  });
}

// normalise_stream(stream, bare, rfc7622, parts, threads)
//   -> (list of tuples of Columns, one per batch; a tuple of empty Columns)
// The whole stream is read before anything is returned: a stream that fails
// part way gives an error, never the batches before the failure.
PyObject* normalise_stream(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 5) return PyError::with_text(PyExc_TypeError, "normalise_stream() takes 5 arguments");
    auto options = options_from(args[1], args[2]);
    if (!options) return std::move(options).error();
    auto parts = flag(args[3]);
    if (!parts) return std::move(parts).error();
    options.value().separators = parts.value();
    auto threads = thread_count(args[4]);
    if (!threads) return std::move(threads).error();
    Owned<ArrowArrayStream> stream;
    if (auto moved = move_stream(args[0], stream); !moved) return std::move(moved).error();
    std::vector<std::vector<Column>> batches;
    std::vector<Column> prototype;
    auto done = unlocked([&] {
      const ColumnType type = read_stream(stream.value, [&](const ColumnType& t, const ArrowArray& a) {
        batches.push_back(result_columns(normalise_arrow_column(t, a, options.value(), threads.value()),
                                         output_width(t.width), parts.value()));
      });
      prototype = result_columns({}, output_width(type.width), parts.value());
      // Released here, without the lock, as the stream's batches were.
      stream.value.release(&stream.value);
    });
    if (!done) return std::move(done).error();
    PyRef list = PyRef::steal(PyList_New(0));
    if (!list) return PyError::fetch();
    for (auto& batch : batches) {
      auto tuple = column_tuple(std::move(batch));
      if (!tuple) return std::move(tuple).error();
      if (PyList_Append(list.get(), tuple.value().get()) < 0) return PyError::fetch();
    }
    auto proto = column_tuple(std::move(prototype));
    if (!proto) return std::move(proto).error();
    PyRef result = PyRef::steal(PyTuple_Pack(2, list.get(), proto.value().get()));
    if (!result) return PyError::fetch();
    return result;
  });
}

// The grouping's columns, built with the lock released. The table goes
// first; then the ids, the texts' bytes and offsets and the counts become
// the columns' buffers as they are, so that the peak holds one copy of each.
Outcome<PyRef> grouping_result(Grouping& g, Width width) {
  std::vector<Column> columns;
  auto done = unlocked([&] {
    g.groups.drop_table();
    count_groups(g);
    const std::size_t groups = g.groups.size();
    const std::size_t rows = g.ids.size();
    const std::size_t bytes = g.groups.bytes().size();
    Buffer offsets = Buffer::adopt_malloced(g.groups.offsets_array().release_padded(), (groups + 1) * 4);
    Buffer text_bytes = Buffer::adopt_malloced(g.groups.bytes_array().release_padded(), bytes);
    Column texts = string_column(std::move(text_bytes), std::move(offsets), groups, width);
    columns.push_back(int32_column(Buffer::adopt_malloced(g.ids.release_padded(), rows * 4), rows));
    columns.push_back(std::move(texts));
    columns.push_back(int64_column(Buffer::adopt_malloced(g.counts.release_padded(), groups * 8), groups));
  });
  if (!done) return std::move(done).error();
  return column_tuple(std::move(columns));
}

// group_arrow(schema, array, bare, rfc7622, threads) -> (ids, texts, counts) Columns
PyObject* group_arrow(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 5) return PyError::with_text(PyExc_TypeError, "group_arrow() takes 5 arguments");
    auto options = options_from(args[2], args[3]);
    if (!options) return std::move(options).error();
    auto threads = thread_count(args[4]);
    if (!threads) return std::move(threads).error();
    auto type = type_from(args[0]);
    if (!type) return std::move(type).error();
    Owned<ArrowArray> array;
    if (auto moved = move_array(args[1], array); !moved) return std::move(moved).error();
    Grouping g;
    auto done = unlocked([&] { group_arrow_column(type.value(), array.value, options.value(), threads.value(), g); });
    if (!done) return std::move(done).error();
    return grouping_result(g, output_width(type.value().width));
  });
}

// group_stream(stream, bare, rfc7622, threads) -> (ids, texts, counts) Columns,
// the ids over the whole stream as one column. Each batch is grouped as it
// comes and released before the next is asked for, so a stream is grouped
// in the memory of its groups, never of the whole column.
PyObject* group_stream(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 4) return PyError::with_text(PyExc_TypeError, "group_stream() takes 4 arguments");
    auto options = options_from(args[1], args[2]);
    if (!options) return std::move(options).error();
    auto threads = thread_count(args[3]);
    if (!threads) return std::move(threads).error();
    Owned<ArrowArrayStream> stream;
    if (auto moved = move_stream(args[0], stream); !moved) return std::move(moved).error();
    Grouping g;
    Width width = Width::String;
    auto done = unlocked([&] {
      width = read_stream(stream.value, [&](const ColumnType& t, const ArrowArray& a) {
        group_arrow_column(t, a, options.value(), threads.value(), g);
      }).width;
      stream.value.release(&stream.value);
    });
    if (!done) return std::move(done).error();
    return grouping_result(g, output_width(width));
  });
}

Outcome<NamedColumns> named_columns(PyObject* names, PyObject* columns) {
  if (!PyTuple_Check(names) || !PyTuple_Check(columns) || PyTuple_GET_SIZE(names) != PyTuple_GET_SIZE(columns)) {
    return PyError::with_text(PyExc_TypeError, "expected a tuple of names and a tuple of as many Columns");
  }
  NamedColumns batch;
  std::int64_t length = -1;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(names); ++i) {
    auto name = text_from(PyTuple_GET_ITEM(names, i));
    if (!name) return std::move(name).error();
    const Column* column = column_of(PyTuple_GET_ITEM(columns, i));
    if (column == nullptr) return type_mismatch(PyTuple_GET_ITEM(columns, i), "Column");
    if (length >= 0 && (*column)->length != length) {
      return PyError::with_text(PyExc_ValueError, "the columns of a batch differ in length");
    }
    length = (*column)->length;
    batch.names.emplace_back(name.value());
    batch.columns.push_back(*column);
  }
  return batch;
}

// export_struct(names, columns) -> (schema capsule, array capsule)
PyObject* export_struct_capsules(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 2) return PyError::with_text(PyExc_TypeError, "export_struct() takes 2 arguments");
    auto batch = named_columns(args[0], args[1]);
    if (!batch) return std::move(batch).error();
    ArrowSchema schema{};
    ArrowArray array{};
    export_struct(batch.value(), &schema, &array);
    return capsule_pair(schema, array);
  });
}

// export_stream(names, prototype, batches, single) -> stream capsule
PyObject* export_stream_capsule(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 4) return PyError::with_text(PyExc_TypeError, "export_stream() takes 4 arguments");
    auto prototype = named_columns(args[0], args[1]);
    if (!prototype) return std::move(prototype).error();
    if (!PyList_Check(args[2])) return type_mismatch(args[2], "list");
    auto single = flag(args[3]);
    if (!single) return std::move(single).error();
    if (single.value() && prototype.value().columns.size() != 1) {
      return PyError::with_text(PyExc_ValueError, "a stream of single columns needs exactly one name");
    }
    std::vector<NamedColumns> batches;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(args[2]); ++i) {
      auto batch = named_columns(args[0], PyList_GET_ITEM(args[2], i));
      if (!batch) return std::move(batch).error();
      for (std::size_t c = 0; c < batch.value().columns.size(); ++c) {
        if (batch.value().columns[c]->format != prototype.value().columns[c]->format) {
          return PyError::with_text(PyExc_ValueError, "a batch's column types differ from the stream's");
        }
      }
      batches.push_back(std::move(batch).value());
    }
    ArrowArrayStream stream{};
    export_stream(std::move(prototype).value(), std::move(batches), single.value(), &stream);
    return stream_capsule(stream);
  });
}

}  // namespace

PyMethodDef normalise_arrow_def = {"normalise_arrow", as_cfunction(normalise_arrow), METH_FASTCALL, nullptr};
PyMethodDef normalise_stream_def = {"normalise_stream", as_cfunction(normalise_stream), METH_FASTCALL, nullptr};
PyMethodDef group_arrow_def = {"group_arrow", as_cfunction(group_arrow), METH_FASTCALL, nullptr};
PyMethodDef group_stream_def = {"group_stream", as_cfunction(group_stream), METH_FASTCALL, nullptr};
PyMethodDef export_struct_def = {"export_struct", as_cfunction(export_struct_capsules), METH_FASTCALL, nullptr};
PyMethodDef export_stream_def = {"export_stream", as_cfunction(export_stream_capsule), METH_FASTCALL, nullptr};

}  // namespace quorvel::binding::batch

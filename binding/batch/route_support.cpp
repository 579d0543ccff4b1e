// The arguments and result columns the routes share (route_support.h).
#include "batch/route_support.h"

namespace quorvel::binding::batch {

Outcome<bool> flag(PyObject* obj) {
  const int v = PyObject_IsTrue(obj);
  if (v < 0) return PyError::fetch();
  return v != 0;
}

Outcome<std::size_t> thread_count(PyObject* obj) {
  const Py_ssize_t v = PyLong_AsSsize_t(obj);
  if (v == -1 && PyErr_Occurred()) return PyError::fetch();
  if (v < 1) return PyError::with_text(PyExc_ValueError, "threads must be at least 1");
  return static_cast<std::size_t>(v);
}

Outcome<Options> options_from(PyObject* bare, PyObject* rfc7622) {
  auto b = flag(bare);
  if (!b) return std::move(b).error();
  auto p = flag(rfc7622);
  if (!p) return std::move(p).error();
  Options options;
  options.bare = b.value();
  options.profile = p.value() ? Profile::Rfc7622 : Profile::Rfc6122;
  return options;
}

Outcome<PyRef> column_tuple(std::vector<Column> columns) {
  PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(columns.size())));
  if (!tuple) return PyError::fetch();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    auto obj = new_column(std::move(columns[i]));
    if (!obj) return std::move(obj).error();
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), std::move(obj).value().release());
  }
  return tuple;
}

std::vector<Column> result_columns(std::vector<ChunkOutput> outputs, Width width, bool parts) {
  std::vector<Column> columns(parts ? 5 : 2);
  columns[1] = kind_column(outputs);
  if (parts) {
    columns[2] = text_column(outputs, width, TextPart::Localpart);
    columns[3] = text_column(outputs, width, TextPart::Domain);
    columns[4] = text_column(outputs, width, TextPart::Resource);
  }
  // Last, as it may take the chunk's text for its own.
  columns[0] = take_text_column(outputs, width);
  return columns;
}

}  // namespace quorvel::binding::batch

// quorvel._batch.Column: one result column as a Python object. It holds the
// column's buffers (shared with every export still alive) and exports them
// through the Arrow PyCapsule interface, so that pyarrow, Polars, DuckDB or
// any other consumer takes it without a copy; to_pylist() reads it back
// without any of them.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "batch/batch.h"

namespace quorvel::binding::batch {
namespace {

struct ColumnObject {
  PyObject_HEAD
  Column* data;  // never null once made
};

ColumnObject* as_column(PyObject* o) noexcept { return reinterpret_cast<ColumnObject*>(o); }

std::atomic<PyTypeObject*> column_type_cell{nullptr};

void column_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  delete as_column(self)->data;
  type->tp_free(self);
  Py_DECREF(type);
}

Py_ssize_t column_len(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>((*as_column(self)->data)->length);
}

// requested_schema is accepted and, as the interface allows, not acted on:
// the column has one type.
Status check_export_args(Py_ssize_t nargs, PyObject* kwnames, const char* name) {
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  if (nargs + nkw > 1 ||
      (nkw == 1 && PyUnicode_CompareWithASCIIString(PyTuple_GET_ITEM(kwnames, 0), "requested_schema") != 0)) {
    return PyError::with_text(PyExc_TypeError, std::string(name) + "() takes at most one argument, requested_schema");
  }
  return Done{};
}

PyObject* column_schema(PyObject* self, PyObject*) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    ArrowSchema schema{};
    export_column_schema(**as_column(self)->data, &schema);
    return schema_capsule(schema);
  });
}

PyObject* column_array(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (auto ok = check_export_args(nargs, kwnames, "__arrow_c_array__"); !ok) return std::move(ok).error();
    ArrowSchema schema{};
    ArrowArray array{};
    export_column(*as_column(self)->data, &schema, &array);
    return capsule_pair(schema, array);
  });
}

PyObject* column_stream(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (auto ok = check_export_args(nargs, kwnames, "__arrow_c_stream__"); !ok) return std::move(ok).error();
    const Column& column = *as_column(self)->data;
    NamedColumns one{{""}, {column}};
    ArrowArrayStream stream{};
    export_stream(one, {one}, true, &stream);
    return stream_capsule(stream);
  });
}

Outcome<PyRef> value_at(const ColumnData& c, std::size_t i) {
  if (c.pointers[0] != nullptr && !bit_set(c.pointers[0], static_cast<std::int64_t>(i))) {
    return PyRef::borrow(Py_None);
  }
  PyObject* v = nullptr;
  switch (c.format[0]) {
    case 'u': {
      const auto* off = static_cast<const std::int32_t*>(c.pointers[1]);
      return make_str(std::string_view(static_cast<const char*>(c.pointers[2]) + off[i],
                                       static_cast<std::size_t>(off[i + 1] - off[i])));
    }
    case 'U': {
      const auto* off = static_cast<const std::int64_t*>(c.pointers[1]);
      return make_str(std::string_view(static_cast<const char*>(c.pointers[2]) + off[i],
                                       static_cast<std::size_t>(off[i + 1] - off[i])));
    }
    case 'c':
      v = PyLong_FromLong(static_cast<const std::int8_t*>(c.pointers[1])[i]);
      break;
    case 'i':
      v = PyLong_FromLong(static_cast<const std::int32_t*>(c.pointers[1])[i]);
      break;
    default:
      v = PyLong_FromLongLong(static_cast<const std::int64_t*>(c.pointers[1])[i]);
      break;
  }
  if (v == nullptr) return PyError::fetch();
  return PyRef::steal(v);
}

PyObject* column_to_pylist(PyObject* self, PyObject*) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    const ColumnData& c = **as_column(self)->data;
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(c.length)));
    if (!list) return PyError::fetch();
    for (std::int64_t i = 0; i < c.length; ++i) {
      auto v = value_at(c, static_cast<std::size_t>(i));
      if (!v) return std::move(v).error();
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), std::move(v).value().release());
    }
    return list;
  });
}

PyObject* column_get_type(PyObject* self, void*) noexcept {
  const std::string& f = (*as_column(self)->data)->format;
  const char* name = f == "u" ? "string" : f == "U" ? "large_string" : f == "c" ? "int8"
                   : f == "i" ? "int32" : "int64";
  return PyUnicode_FromString(name);
}

PyObject* column_get_null_count(PyObject* self, void*) noexcept {
  return PyLong_FromLongLong((*as_column(self)->data)->null_count);
}

PyMethodDef column_methods[] = {
    {"__arrow_c_schema__", column_schema, METH_NOARGS, nullptr},
    {"__arrow_c_array__", as_cfunction(column_array), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"__arrow_c_stream__", as_cfunction(column_stream), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"to_pylist", column_to_pylist, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef column_getset[] = {
    {"type", column_get_type, nullptr, nullptr, nullptr},
    {"null_count", column_get_null_count, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot column_slots[] = {
    {Py_tp_doc, const_cast<char*>("A result column of quorvel.batch, exported through the Arrow PyCapsule interface.")},
    {Py_tp_dealloc, slot_fn(column_dealloc)},
    {Py_sq_length, slot_fn(column_len)},
    {Py_tp_methods, column_methods},
    {Py_tp_getset, column_getset},
    {0, nullptr},
};

PyType_Spec column_spec = {"quorvel._batch.Column", static_cast<int>(sizeof(ColumnObject)), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
                           column_slots};

}  // namespace

Outcome<PyTypeObject*> column_type() {
  if (PyTypeObject* type = column_type_cell.load(std::memory_order_acquire)) return type;
  PyObject* made = PyType_FromSpec(&column_spec);
  if (made == nullptr) return PyError::fetch();
  PyTypeObject* expected = nullptr;
  if (!column_type_cell.compare_exchange_strong(expected, reinterpret_cast<PyTypeObject*>(made),
                                                std::memory_order_acq_rel)) {
    Py_DECREF(made);
    return expected;
  }
  return reinterpret_cast<PyTypeObject*>(made);
}

Outcome<PyRef> new_column(Column data) {
  auto type = column_type();
  if (!type) return std::move(type).error();
  PyRef obj = PyRef::steal(type.value()->tp_alloc(type.value(), 0));
  if (!obj) return PyError::fetch();
  as_column(obj.get())->data = new Column(std::move(data));
  return obj;
}

const Column* column_of(PyObject* obj) noexcept {
  PyTypeObject* type = column_type_cell.load(std::memory_order_acquire);
  if (type == nullptr || Py_TYPE(obj) != type) return nullptr;
  return as_column(obj)->data;
}

}  // namespace quorvel::binding::batch

// The PyCapsules of the Arrow PyCapsule interface. Each capsule owns a
// heap copy of its structure: its destructor releases the structure unless
// a consumer moved it out (and so set its release to null), then frees it.
#include <new>
#include <utility>

#include "batch/batch.h"

namespace quorvel::binding::batch {
namespace {

template <class T>
void destroy(PyObject* capsule, const char* name) noexcept {
  auto* p = static_cast<T*>(PyCapsule_GetPointer(capsule, name));
  if (p == nullptr) {
    PyErr_Clear();
    return;
  }
  if (p->release != nullptr) p->release(p);
  delete p;
}

void destroy_schema(PyObject* c) noexcept { destroy<ArrowSchema>(c, "arrow_schema"); }
void destroy_array(PyObject* c) noexcept { destroy<ArrowArray>(c, "arrow_array"); }
void destroy_stream(PyObject* c) noexcept { destroy<ArrowArrayStream>(c, "arrow_array_stream"); }

template <class T>
Outcome<PyRef> wrap(T value, const char* name, PyCapsule_Destructor destructor) {
  auto* p = new (std::nothrow) T(value);
  if (p == nullptr) {
    if (value.release != nullptr) value.release(&value);
    return PyError::with_text(PyExc_MemoryError, "");
  }
  PyRef capsule = PyRef::steal(PyCapsule_New(p, name, destructor));
  if (!capsule) {
    if (p->release != nullptr) p->release(p);
    delete p;
    return PyError::fetch();
  }
  return capsule;
}

}  // namespace

Outcome<PyRef> schema_capsule(ArrowSchema schema) { return wrap(schema, "arrow_schema", destroy_schema); }
Outcome<PyRef> array_capsule(ArrowArray array) { return wrap(array, "arrow_array", destroy_array); }
Outcome<PyRef> stream_capsule(ArrowArrayStream stream) {
  return wrap(stream, "arrow_array_stream", destroy_stream);
}

Outcome<PyRef> capsule_pair(ArrowSchema schema, ArrowArray array) {
  // Both are wrapped before either error is returned, so that each
  // structure is owned (and released) by its capsule whatever fails.
  auto s = schema_capsule(schema);
  auto a = array_capsule(array);
  if (!s) return std::move(s).error();
  if (!a) return std::move(a).error();
  PyRef pair = PyRef::steal(PyTuple_Pack(2, s.value().get(), a.value().get()));
  if (!pair) return PyError::fetch();
  return pair;
}

}  // namespace quorvel::binding::batch

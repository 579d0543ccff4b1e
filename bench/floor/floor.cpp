// The benchmark floor: a type that does only what any correct address type
// must do with its text, and nothing else. It takes one str, gets its UTF-8,
// allocates one buffer, copies the bytes and keeps two 16-bit positions.
// Reading gives a new str of the bytes, hashing builds that str and hashes
// it, == compares lengths, then bytes. No validation, no normalisation.
//
// Two types with the same behaviour: Floor is called through tp_new only
// (the interpreter's generic type call), VectorFloor through a vectorcall
// entry point, as JID is.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <cstring>

namespace {

struct FloorObject {
  PyObject_HEAD
  char* data;
  std::uint32_t size;
  std::uint16_t at;
  std::uint16_t slash;
};

FloorObject* as_floor(PyObject* o) { return reinterpret_cast<FloorObject*>(o); }

// Positions as a parser would record them: first "@", then first "/".
void locate(FloorObject* f) {
  f->at = 0;
  f->slash = 0;
  const void* at = std::memchr(f->data, '@', f->size);
  if (at != nullptr) f->at = static_cast<std::uint16_t>(static_cast<const char*>(at) - f->data);
  const void* slash = std::memchr(f->data, '/', f->size);
  if (slash != nullptr) f->slash = static_cast<std::uint16_t>(static_cast<const char*>(slash) - f->data);
}

bool fill(FloorObject* f, PyObject* text) {
  if (!PyUnicode_Check(text)) {
    PyErr_SetString(PyExc_TypeError, "str expected");
    return false;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
  if (utf8 == nullptr) return false;
  char* data = static_cast<char*>(std::malloc(static_cast<std::size_t>(size) + 1));
  if (data == nullptr) {
    PyErr_NoMemory();
    return false;
  }
  std::memcpy(data, utf8, static_cast<std::size_t>(size));
  std::free(f->data);
  f->data = data;
  f->size = static_cast<std::uint32_t>(size);
  locate(f);
  return true;
}

PyObject* make(PyTypeObject* cls, PyObject* text) {
  PyObject* obj = cls->tp_alloc(cls, 0);
  if (obj == nullptr) return nullptr;
  as_floor(obj)->data = nullptr;
  if (!fill(as_floor(obj), text)) {
    Py_DECREF(obj);
    return nullptr;
  }
  return obj;
}

PyObject* floor_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) {
    PyErr_SetString(PyExc_TypeError, "no keyword arguments");
    return nullptr;
  }
  if (PyTuple_GET_SIZE(args) != 1) {
    PyErr_SetString(PyExc_TypeError, "one argument expected");
    return nullptr;
  }
  return make(cls, PyTuple_GET_ITEM(args, 0));
}

PyObject* floor_vectorcall(PyObject* cls, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
  if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0) {
    PyErr_SetString(PyExc_TypeError, "no keyword arguments");
    return nullptr;
  }
  if (PyVectorcall_NARGS(nargsf) != 1) {
    PyErr_SetString(PyExc_TypeError, "one argument expected");
    return nullptr;
  }
  return make(reinterpret_cast<PyTypeObject*>(cls), args[0]);
}

void floor_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  std::free(as_floor(self)->data);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* text_str(const char* data, std::size_t size) {
  return PyUnicode_DecodeUTF8(data, static_cast<Py_ssize_t>(size), nullptr);
}

PyObject* get_full(PyObject* self, void*) {
  FloorObject* f = as_floor(self);
  return text_str(f->data, f->size);
}

PyObject* get_bare(PyObject* self, void*) {
  FloorObject* f = as_floor(self);
  return text_str(f->data, f->slash != 0 ? f->slash : f->size);
}

// A new resource: the bare part and the new text in one new buffer.
int set_resource(PyObject* self, PyObject* value, void*) {
  FloorObject* f = as_floor(self);
  if (value == nullptr || !PyUnicode_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "str expected");
    return -1;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
  if (utf8 == nullptr) return -1;
  const std::size_t bare = f->slash != 0 ? f->slash : f->size;
  const std::size_t total = bare + 1 + static_cast<std::size_t>(size);
  char* data = static_cast<char*>(std::malloc(total));
  if (data == nullptr) {
    PyErr_NoMemory();
    return -1;
  }
  std::memcpy(data, f->data, bare);
  data[bare] = '/';
  std::memcpy(data + bare + 1, utf8, static_cast<std::size_t>(size));
  std::free(f->data);
  f->data = data;
  f->size = static_cast<std::uint32_t>(total);
  f->slash = static_cast<std::uint16_t>(bare);
  return 0;
}

PyObject* floor_str(PyObject* self) { return get_full(self, nullptr); }

Py_hash_t floor_hash(PyObject* self) {
  PyObject* s = get_full(self, nullptr);
  if (s == nullptr) return -1;
  const Py_hash_t h = PyObject_Hash(s);
  Py_DECREF(s);
  return h;
}

PyObject* floor_richcompare(PyObject* self, PyObject* other, int op) {
  if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != Py_TYPE(self)) Py_RETURN_NOTIMPLEMENTED;
  FloorObject* a = as_floor(self);
  FloorObject* b = as_floor(other);
  const bool equal = a->size == b->size && std::memcmp(a->data, b->data, a->size) == 0;
  return PyBool_FromLong((op == Py_EQ) == equal ? 1 : 0);
}

// Pickling by the text, so that a round trip runs the constructor again.
PyObject* floor_reduce(PyObject* self, PyObject*) {
  PyObject* text = get_full(self, nullptr);
  if (text == nullptr) return nullptr;
  return Py_BuildValue("(O(N))", reinterpret_cast<PyObject*>(Py_TYPE(self)), text);
}

// The least an unescaping function does: take the UTF-8, copy it into a
// new buffer and make a str of it.
PyObject* floor_unescape(PyObject*, PyObject* text) {
  if (!PyUnicode_Check(text)) {
    PyErr_SetString(PyExc_TypeError, "str expected");
    return nullptr;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
  if (utf8 == nullptr) return nullptr;
  char* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(size) + 1));
  if (copy == nullptr) return PyErr_NoMemory();
  std::memcpy(copy, utf8, static_cast<std::size_t>(size));
  PyObject* out = text_str(copy, static_cast<std::size_t>(size));
  std::free(copy);
  return out;
}

PyGetSetDef floor_getset[] = {
    {"full", get_full, nullptr, nullptr, nullptr},
    {"bare", get_bare, nullptr, nullptr, nullptr},
    {"resource", nullptr, set_resource, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef floor_methods[] = {
    {"__reduce__", floor_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

template <class Fn>
void* slot(Fn fn) {
  return reinterpret_cast<void*>(fn);
}

PyType_Slot floor_slots[] = {
    {Py_tp_new, slot(floor_new)},
    {Py_tp_dealloc, slot(floor_dealloc)},
    {Py_tp_str, slot(floor_str)},
    {Py_tp_hash, slot(floor_hash)},
    {Py_tp_richcompare, slot(floor_richcompare)},
    {Py_tp_getset, floor_getset},
    {Py_tp_methods, floor_methods},
    {0, nullptr},
};

PyType_Spec floor_spec = {"bench_floor.Floor", sizeof(FloorObject), 0, Py_TPFLAGS_DEFAULT, floor_slots};
PyType_Spec vector_floor_spec = {"bench_floor.VectorFloor", sizeof(FloorObject), 0, Py_TPFLAGS_DEFAULT,
                                 floor_slots};

int floor_exec(PyObject* module) {
  PyObject* plain = PyType_FromSpec(&floor_spec);
  if (plain == nullptr || PyModule_AddObject(module, "Floor", plain) < 0) {
    Py_XDECREF(plain);
    return -1;
  }
  PyObject* vector = PyType_FromSpec(&vector_floor_spec);
  if (vector == nullptr) return -1;
  reinterpret_cast<PyTypeObject*>(vector)->tp_vectorcall = floor_vectorcall;
  if (PyModule_AddObject(module, "VectorFloor", vector) < 0) {
    Py_DECREF(vector);
    return -1;
  }
  return 0;
}

PyMethodDef module_methods[] = {
    {"unescape", floor_unescape, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, slot(floor_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "bench_floor", nullptr, 0, module_methods,
                          module_slots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_bench_floor() { return PyModuleDef_Init(&module_def); }

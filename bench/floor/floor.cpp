// The benchmark floor: a type that does only what any correct address type
// must do with its text, and nothing else. It takes one str, gets its UTF-8,
// finds the two separators (the first "@" before the first "/", and that
// "/"), allocates one buffer of exactly the text's size, copies the bytes
// and keeps the two 16-bit positions in the object. Reading gives a new str
// of the bytes, hashing builds that str and hashes it, == compares lengths,
// then bytes. No validation, no normalisation.
//
// Two types with the same behaviour: Floor is called through tp_new only
// (the interpreter's generic type call), VectorFloor through a vectorcall
// entry point, as JID is.
//
// Three more vectorcall types stop part of the way, so that the benchmark
// can show where a construction's nanoseconds go: FloorCall only checks its
// arguments, FloorView also takes the UTF-8 view and finds the separators,
// FloorAlloc also allocates and fills the text buffer (and frees it). Each
// returns None; VectorFloor adds the object itself.
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

// The UTF-8 of a str and the positions of its separators, as an address
// type records them: the first "/" ends the domain, and an "@" before it
// ends the localpart.
struct View {
  const char* utf8;
  std::size_t size;
  std::uint16_t at;
  std::uint16_t slash;
};

bool view_of(PyObject* text, View& v) {
  if (!PyUnicode_Check(text)) {
    PyErr_SetString(PyExc_TypeError, "str expected");
    return false;
  }
  Py_ssize_t size = 0;
  v.utf8 = PyUnicode_AsUTF8AndSize(text, &size);
  if (v.utf8 == nullptr) return false;
  v.size = static_cast<std::size_t>(size);
  const void* slash = std::memchr(v.utf8, '/', v.size);
  const std::size_t domain_end =
      slash != nullptr ? static_cast<std::size_t>(static_cast<const char*>(slash) - v.utf8) : v.size;
  const void* at = std::memchr(v.utf8, '@', domain_end);
  v.at = at != nullptr ? static_cast<std::uint16_t>(static_cast<const char*>(at) - v.utf8) : 0;
  v.slash = slash != nullptr ? static_cast<std::uint16_t>(domain_end) : 0;
  return true;
}

// One buffer of exactly the text's size.
char* copy_of(const View& v) {
  char* data = static_cast<char*>(std::malloc(v.size == 0 ? 1 : v.size));
  if (data == nullptr) {
    PyErr_NoMemory();
    return nullptr;
  }
  std::memcpy(data, v.utf8, v.size);
  return data;
}

bool fill(FloorObject* f, PyObject* text) {
  View v;
  if (!view_of(text, v)) return false;
  char* data = copy_of(v);
  if (data == nullptr) return false;
  f->data = data;
  f->size = static_cast<std::uint32_t>(v.size);
  f->at = v.at;
  f->slash = v.slash;
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

bool one_argument(std::size_t nargsf, PyObject* kwnames) {
  if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0) {
    PyErr_SetString(PyExc_TypeError, "no keyword arguments");
    return false;
  }
  if (PyVectorcall_NARGS(nargsf) != 1) {
    PyErr_SetString(PyExc_TypeError, "one argument expected");
    return false;
  }
  return true;
}

PyObject* floor_vectorcall(PyObject* cls, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
  if (!one_argument(nargsf, kwnames)) return nullptr;
  return make(reinterpret_cast<PyTypeObject*>(cls), args[0]);
}

// The stages of the breakdown.
PyObject* call_stage(PyObject*, PyObject* const*, std::size_t nargsf, PyObject* kwnames) {
  if (!one_argument(nargsf, kwnames)) return nullptr;
  Py_RETURN_NONE;
}

PyObject* view_stage(PyObject*, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
  if (!one_argument(nargsf, kwnames)) return nullptr;
  View v;
  if (!view_of(args[0], v)) return nullptr;
  // Keeps the search from being optimised away.
  if (v.at == 0xFFFF && v.slash == 0xFFFF) return nullptr;
  Py_RETURN_NONE;
}

PyObject* alloc_stage(PyObject*, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
  if (!one_argument(nargsf, kwnames)) return nullptr;
  View v;
  if (!view_of(args[0], v)) return nullptr;
  char* data = copy_of(v);
  if (data == nullptr) return nullptr;
  asm volatile("" : : "r"(data) : "memory");
  std::free(data);
  if (v.at == 0xFFFF && v.slash == 0xFFFF) return nullptr;
  Py_RETURN_NONE;
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
PyType_Spec call_spec = {"bench_floor.FloorCall", sizeof(FloorObject), 0, Py_TPFLAGS_DEFAULT, floor_slots};
PyType_Spec view_spec = {"bench_floor.FloorView", sizeof(FloorObject), 0, Py_TPFLAGS_DEFAULT, floor_slots};
PyType_Spec alloc_spec = {"bench_floor.FloorAlloc", sizeof(FloorObject), 0, Py_TPFLAGS_DEFAULT,
                          floor_slots};

int add_type(PyObject* module, PyType_Spec* spec, const char* name, vectorcallfunc call) {
  PyObject* type = PyType_FromSpec(spec);
  if (type == nullptr) return -1;
  reinterpret_cast<PyTypeObject*>(type)->tp_vectorcall = call;
  if (PyModule_AddObject(module, name, type) < 0) {
    Py_DECREF(type);
    return -1;
  }
  return 0;
}

int floor_exec(PyObject* module) {
  PyObject* plain = PyType_FromSpec(&floor_spec);
  if (plain == nullptr || PyModule_AddObject(module, "Floor", plain) < 0) {
    Py_XDECREF(plain);
    return -1;
  }
  if (add_type(module, &vector_floor_spec, "VectorFloor", floor_vectorcall) < 0 ||
      add_type(module, &call_spec, "FloorCall", call_stage) < 0 ||
      add_type(module, &view_spec, "FloorView", view_stage) < 0 ||
      add_type(module, &alloc_spec, "FloorAlloc", alloc_stage) < 0) {
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
#ifdef Py_mod_gil
    // No benchmark shares a floor object between threads; declared so that
    // importing the floor leaves a free-threaded interpreter without the
    // GIL, as quorvel's own modules do (bench/threads_bench.py times both).
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "bench_floor", nullptr, 0, module_methods,
                          module_slots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_bench_floor() { return PyModuleDef_Init(&module_def); }

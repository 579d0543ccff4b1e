// The record type behind quorvel.uri.XmppUri (uri_record.h).
#include "text/uri_record.h"

#include <cstddef>
#include <cstdint>

#include "text/text.h"

namespace quorvel::binding::text {
namespace {

UriRecord* as_record(PyObject* obj) noexcept { return reinterpret_cast<UriRecord*>(obj); }

// The records a type's instances freed, kept for its next ones: a URI read
// in a loop then costs no allocation of its own. The cache is the state of
// a small module object that the type holds (PyType_FromModuleAndSpec), so
// that it lives exactly as long as the type and is the type's alone. Only
// with the interpreter lock: without it two threads could take the same
// record.
struct RecordCache {
  static constexpr int kCapacity = 16;
  int count;
  UriRecord* records[kCapacity];
};

RecordCache* cache_of(PyTypeObject* type) noexcept {
#if defined(Py_GIL_DISABLED)
  static_cast<void>(type);
  return nullptr;
#else
  return static_cast<RecordCache*>(PyType_GetModuleState(type));
#endif
}

void cache_free(void* module) noexcept {
  if (auto* cache = static_cast<RecordCache*>(PyModule_GetState(static_cast<PyObject*>(module)))) {
    for (int i = 0; i < cache->count; ++i) PyObject_GC_Del(cache->records[i]);
    cache->count = 0;
  }
}

PyModuleDef cache_module_def = {
    PyModuleDef_HEAD_INIT, "quorvel._text.uri_record", nullptr, sizeof(RecordCache), nullptr,
    nullptr,               nullptr,                    nullptr, cache_free,
};

int record_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
  UriRecord* record = as_record(self);
  Py_VISIT(record->jid);
  Py_VISIT(record->action);
  Py_VISIT(record->params);
  Py_VISIT(record->authority);
  Py_VISIT(Py_TYPE(self));  // an instance of a heap type holds its type
  return 0;
}

int record_clear(PyObject* self) noexcept {
  UriRecord* record = as_record(self);
  Py_CLEAR(record->jid);
  Py_CLEAR(record->action);
  Py_CLEAR(record->params);
  Py_CLEAR(record->authority);
  return 0;
}

// A value that can neither lead back into a record (so a record holding
// only these is in no cycle and need not be tracked by the collector) nor
// make its release recurse: nothing, an object of a type the collector
// ignores (a JID, a str, None), or the empty tuple. What parse makes holds
// only these.
bool is_leaf(PyObject* value) noexcept {
  // The type's flag, not PyObject_IS_GC: that is a call into the
  // interpreter, and what it adds (types that are collected only when made
  // by a class statement) only ever makes fewer values leaves.
  return value == nullptr || !PyType_HasFeature(Py_TYPE(value), Py_TPFLAGS_HAVE_GC) ||
         (PyTuple_CheckExact(value) && PyTuple_GET_SIZE(value) == 0);
}

void record_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  UriRecord* record = as_record(self);
  if (is_leaf(record->jid) && is_leaf(record->action) && is_leaf(record->params) &&
      is_leaf(record->authority)) {
    record_clear(self);
    // Kept for reuse: an instance of the record type itself (a subclass's
    // comes here from the subclass's deallocation, and is freed).
    RecordCache* cache = type->tp_dealloc == record_dealloc ? cache_of(type) : nullptr;
    if (cache != nullptr && cache->count < RecordCache::kCapacity) {
      cache->records[cache->count++] = record;
    } else {
      type->tp_free(self);
    }
    Py_DECREF(type);
    return;
  }
  // Anything else may be a chain of records nested in one another as deep
  // as a caller cares to make it: the trashcan releases it without
  // recursing that deep (the interpreter does this by itself from 3.14).
  Py_TRASHCAN_BEGIN(self, record_dealloc)
  record_clear(self);
  type->tp_free(self);
  Py_DECREF(type);
  Py_TRASHCAN_END
}

// The slots as attributes. Read and written as a slots class's members
// are (by the interpreter's own member code, so that every message is the
// one a slots class gives), with one addition: a record holding only leaves
// is left untracked by the collector (as CPython leaves a tuple of atoms),
// so storing anything else into one starts tracking it.
PyMemberDef record_members[] = {
    {"jid", Py_T_OBJECT_EX, offsetof(UriRecord, jid), 0, nullptr},
    {"action", Py_T_OBJECT_EX, offsetof(UriRecord, action), 0, nullptr},
    {"params", Py_T_OBJECT_EX, offsetof(UriRecord, params), 0, nullptr},
    {"authority", Py_T_OBJECT_EX, offsetof(UriRecord, authority), 0, nullptr},
};

const PyMemberDef* member_of(void* closure) noexcept {
  return &record_members[reinterpret_cast<std::intptr_t>(closure)];
}

PyObject* get_field(PyObject* self, void* closure) noexcept {
  return PyMember_GetOne(reinterpret_cast<const char*>(self), const_cast<PyMemberDef*>(member_of(closure)));
}

int set_field(PyObject* self, PyObject* value, void* closure) noexcept {
  if (!is_leaf(value) && !PyObject_GC_IsTracked(self)) PyObject_GC_Track(self);
  return PyMember_SetOne(reinterpret_cast<char*>(self), const_cast<PyMemberDef*>(member_of(closure)), value);
}

PyGetSetDef record_fields[] = {
    {"jid", get_field, set_field, nullptr, reinterpret_cast<void*>(0)},
    {"action", get_field, set_field, nullptr, reinterpret_cast<void*>(1)},
    {"params", get_field, set_field, nullptr, reinterpret_cast<void*>(2)},
    {"authority", get_field, set_field, nullptr, reinterpret_cast<void*>(3)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot record_slots[] = {
    {Py_tp_getset, record_fields},
    {Py_tp_traverse, reinterpret_cast<void*>(record_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(record_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc)},
    {0, nullptr},
};

// Subclassable and collected like the class it stands for; instances are
// made by object.__new__ (all slots empty) and filled by __init__.
PyType_Spec record_spec = {
    "quorvel.uri.XmppUri",
    static_cast<int>(sizeof(UriRecord)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_BASETYPE,
    record_slots,
};

PyObject* uri_record(PyObject* /*module*/, PyObject* /*unused*/) noexcept {
  PyObject* holder = PyModule_Create2(&cache_module_def, PYTHON_API_VERSION);
  if (holder == nullptr) return nullptr;
  PyObject* type = PyType_FromModuleAndSpec(holder, &record_spec, nullptr);
  Py_DECREF(holder);  // the type holds it
  return type;
}

}  // namespace

bool is_uri_record_type(PyTypeObject* type) noexcept { return type->tp_dealloc == record_dealloc; }

Outcome<PyRef> new_uri_record(PyTypeObject* type, PyRef jid, PyRef action, PyRef params, PyRef authority) {
  UriRecord* record;
  if (RecordCache* cache = cache_of(type); cache != nullptr && cache->count > 0) {
    record = cache->records[--cache->count];
    PyObject_Init(reinterpret_cast<PyObject*>(record), type);
  } else {
    record = PyObject_GC_New(UriRecord, type);
    if (record == nullptr) return PyError::fetch();
  }
  record->jid = jid.release();
  record->action = action.release();
  record->params = params.release();
  record->authority = authority.release();
  if (!is_leaf(record->jid) || !is_leaf(record->action) || !is_leaf(record->params) ||
      !is_leaf(record->authority)) {
    PyObject_GC_Track(record);
  }
  return PyRef::steal(reinterpret_cast<PyObject*>(record));
}

PyMethodDef uri_record_def = {
    "uri_record",
    uri_record,
    METH_NOARGS,
    "uri_record()\n--\n\nA new record type for quorvel.uri.XmppUri.",
};

}  // namespace quorvel::binding::text

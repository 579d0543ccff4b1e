// quorvel._blocks.Groups: the --dedupe groups of the command-line tool as a
// Python object over a GroupStore (group_store.h).
#include <atomic>
#include <cstdint>
#include <string>

#include "blocks/blocks.h"
#include "support/object_section.h"

namespace quorvel::binding::blocks {
namespace {

// The store is changed in place by add() and by normalise_block, so every
// use of it is inside an ObjectSection on the Groups object: without the
// interpreter lock two threads sharing one Groups would otherwise grow its
// vectors at once.
struct GroupsObject {
  PyObject_HEAD
  GroupStore* store;
};

GroupsObject* as_groups(PyObject* o) noexcept { return reinterpret_cast<GroupsObject*>(o); }

std::atomic<PyTypeObject*> groups_type_cell{nullptr};

PyObject* groups_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (PyTuple_GET_SIZE(args) != 0 || (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0)) {
      return PyError::with_text(PyExc_TypeError, "Groups() takes no arguments");
    }
    PyRef obj = PyRef::steal(cls->tp_alloc(cls, 0));
    if (!obj) return PyError::fetch();
    as_groups(obj.get())->store = new GroupStore();
    return obj;
  });
}

void groups_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  delete as_groups(self)->store;
  type->tp_free(self);
  Py_DECREF(type);
}

Py_ssize_t groups_len(PyObject* self) noexcept {
  ObjectSection section(self);
  return static_cast<Py_ssize_t>(as_groups(self)->store->size());
}

// add(value, source, line, text): one input of the per-line route.
PyObject* groups_add(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 4) return PyError::with_text(PyExc_TypeError, "add() takes 4 arguments");
    auto value = text_from(args[0]);
    if (!value) return std::move(value).error();
    auto source = index_from(args[1], 0x100000000u);
    if (!source) return std::move(source).error();
    auto line = index_from(args[2], 0x100000000u);
    if (!line) return std::move(line).error();
    auto text = text_from(args[3]);
    if (!text) return std::move(text).error();
    ObjectSection section(self);
    as_groups(self)->store->add(value.value(), source.value(), line.value(), text.value());
    return PyRef::borrow(Py_None);
  });
}

// group(i) -> (value, count, [(source, line, text), ...], unlisted)
PyObject* groups_group(PyObject* self, PyObject* arg) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    ObjectSection section(self);
    const GroupStore& store = *as_groups(self)->store;
    auto i = index_from(arg, store.size());
    if (!i) return std::move(i).error();
    auto value = make_str(store.value(i.value()));
    if (!value) return std::move(value).error();
    const auto spellings = store.spellings(i.value());
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(spellings.size())));
    if (!list) return PyError::fetch();
    for (std::size_t k = 0; k < spellings.size(); ++k) {
      auto text = make_str(spellings[k].text);
      if (!text) return std::move(text).error();
      PyObject* item = Py_BuildValue("(kkN)", static_cast<unsigned long>(spellings[k].source),
                                     static_cast<unsigned long>(spellings[k].line),
                                     std::move(text).value().release());
      if (item == nullptr) return PyError::fetch();
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), item);
    }
    PyRef out = PyRef::steal(Py_BuildValue("(NkNk)", std::move(value).value().release(),
                                           static_cast<unsigned long>(store.count(i.value())),
                                           list.release(),
                                           static_cast<unsigned long>(store.unlisted(i.value()))));
    if (!out) return PyError::fetch();
    return out;
  });
}

// render(start, limit) -> (bytes, next): the lines of the groups from
// `start` that have one input each and a value that reads back as itself
// (just the value), up to the first other group, the end, or about `limit`
// bytes. The tool formats the others, and checks how their values read
// back, in Python.
PyObject* groups_render(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 2) return PyError::with_text(PyExc_TypeError, "render() takes 2 arguments");
    ObjectSection section(self);
    const GroupStore& store = *as_groups(self)->store;
    auto start = index_from(args[0], store.size() + 1);
    if (!start) return std::move(start).error();
    const Py_ssize_t limit = PyLong_AsSsize_t(args[1]);
    if (limit == -1 && PyErr_Occurred()) return PyError::fetch();
    std::string out;
    std::size_t g = start.value();
    for (; g < store.size() && static_cast<Py_ssize_t>(out.size()) < limit; ++g) {
      const std::string_view value = store.value(g);
      if (store.count(g) != 1 || may_read_back_otherwise(value)) break;
      out += value;
      out += '\n';
    }
    PyRef bytes = PyRef::steal(PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size())));
    if (!bytes) return PyError::fetch();
    PyRef result = PyRef::steal(Py_BuildValue("(Nn)", bytes.release(), static_cast<Py_ssize_t>(g)));
    if (!result) return PyError::fetch();
    return result;
  });
}

PyObject* groups_duplicates(PyObject* self, PyObject*) noexcept {
  ObjectSection section(self);
  return PyLong_FromSize_t(as_groups(self)->store->duplicate_groups());
}

PyMethodDef groups_methods[] = {
    {"add", as_cfunction(groups_add), METH_FASTCALL, nullptr},
    {"group", groups_group, METH_O, nullptr},
    {"render", as_cfunction(groups_render), METH_FASTCALL, nullptr},
    {"duplicate_groups", groups_duplicates, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot groups_slots[] = {
    {Py_tp_doc, const_cast<char*>("The groups of quorvel-jid --dedupe (internal).")},
    {Py_tp_new, slot_fn(groups_new)},
    {Py_tp_dealloc, slot_fn(groups_dealloc)},
    {Py_sq_length, slot_fn(groups_len)},
    {Py_tp_methods, groups_methods},
    {0, nullptr},
};

PyType_Spec groups_spec = {"quorvel._blocks.Groups", static_cast<int>(sizeof(GroupsObject)), 0,
                           Py_TPFLAGS_DEFAULT, groups_slots};

}  // namespace

Outcome<PyTypeObject*> groups_type() {
  if (PyTypeObject* type = groups_type_cell.load(std::memory_order_acquire)) return type;
  PyObject* made = PyType_FromSpec(&groups_spec);
  if (made == nullptr) return PyError::fetch();
  PyTypeObject* expected = nullptr;
  if (!groups_type_cell.compare_exchange_strong(expected, reinterpret_cast<PyTypeObject*>(made),
                                                std::memory_order_acq_rel)) {
    Py_DECREF(made);
    return expected;
  }
  return reinterpret_cast<PyTypeObject*>(made);
}

bool may_read_back_otherwise(std::string_view value) noexcept {
  for (const char c : value) {
    if (c == '/') return false;
    if (static_cast<unsigned char>(c) >= 0x80 || (c >= 'A' && c <= 'Z')) return true;
  }
  return false;
}

Outcome<std::uint32_t> index_from(PyObject* obj, std::size_t limit) {
  const Py_ssize_t v = PyLong_AsSsize_t(obj);
  if (v == -1 && PyErr_Occurred()) return PyError::fetch();
  if (v < 0 || static_cast<std::size_t>(v) >= limit) {
    return PyError::with_text(PyExc_IndexError, "index out of range");
  }
  return static_cast<std::uint32_t>(v);
}

GroupStore* groups_store(PyObject* obj) noexcept {
  PyTypeObject* type = groups_type_cell.load(std::memory_order_acquire);
  if (type == nullptr || Py_TYPE(obj) != type) return nullptr;
  return as_groups(obj)->store;
}

}  // namespace quorvel::binding::blocks

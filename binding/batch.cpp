// The private helpers of the command-line tool: whole blocks of input lines
// normalised in one call, and the compact groups of --dedupe. The tool's
// per-line Python route (python/quorvel/cli.py) is their slow twin; the
// tests hold the two to byte-identical output.
#include <atomic>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "batch.h"
#include "group_store.h"
#include "quorvel/address.h"
#include "quorvel/jid_error.h"
#include "scan.h"
#include "utf8.h"

namespace quorvel::binding {
namespace {

// ---- _Groups -------------------------------------------------------------------

struct GroupsObject {
  PyObject_HEAD
  GroupStore* store;
};

GroupsObject* as_groups(PyObject* o) noexcept { return reinterpret_cast<GroupsObject*>(o); }

std::atomic<PyTypeObject*> groups_type_cell{nullptr};

PyObject* groups_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (PyTuple_GET_SIZE(args) != 0 || (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0)) {
      return PyError::with_text(PyExc_TypeError, "_Groups() takes no arguments");
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
  return static_cast<Py_ssize_t>(as_groups(self)->store->size());
}

Outcome<std::uint32_t> index_from(PyObject* obj, std::size_t limit) {
  const Py_ssize_t v = PyLong_AsSsize_t(obj);
  if (v == -1 && PyErr_Occurred()) return PyError::fetch();
  if (v < 0 || static_cast<std::size_t>(v) >= limit) {
    return PyError::with_text(PyExc_IndexError, "index out of range");
  }
  return static_cast<std::uint32_t>(v);
}

Outcome<std::string_view> utf8_of(PyObject* obj) {
  if (!PyUnicode_Check(obj)) return type_mismatch(obj, "str");
  Py_ssize_t size = 0;
  const char* p = PyUnicode_AsUTF8AndSize(obj, &size);
  if (p == nullptr) return PyError::fetch();
  return std::string_view(p, static_cast<std::size_t>(size));
}

// add(value, source, line, text): one input of the per-line route.
PyObject* groups_add(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 4) return PyError::with_text(PyExc_TypeError, "add() takes 4 arguments");
    auto value = utf8_of(args[0]);
    if (!value) return std::move(value).error();
    auto source = index_from(args[1], 0x100000000u);
    if (!source) return std::move(source).error();
    auto line = index_from(args[2], 0x100000000u);
    if (!line) return std::move(line).error();
    auto text = utf8_of(args[3]);
    if (!text) return std::move(text).error();
    as_groups(self)->store->add(value.value(), source.value(), line.value(), text.value());
    return PyRef::borrow(Py_None);
  });
}

// group(i) -> (value, count, [(source, line, text), ...], unlisted)
PyObject* groups_group(PyObject* self, PyObject* arg) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
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
// `start` that have one input each (just the value), up to the first group
// of more inputs, the end, or about `limit` bytes.
PyObject* groups_render(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 2) return PyError::with_text(PyExc_TypeError, "render() takes 2 arguments");
    const GroupStore& store = *as_groups(self)->store;
    auto start = index_from(args[0], store.size() + 1);
    if (!start) return std::move(start).error();
    const Py_ssize_t limit = PyLong_AsSsize_t(args[1]);
    if (limit == -1 && PyErr_Occurred()) return PyError::fetch();
    std::string out;
    std::size_t g = start.value();
    for (; g < store.size() && store.count(g) == 1 && static_cast<Py_ssize_t>(out.size()) < limit; ++g) {
      out += store.value(g);
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
  return PyLong_FromSize_t(as_groups(self)->store->duplicate_groups());
}

PyMethodDef groups_methods[] = {
    {"add", as_cfunction(groups_add), METH_FASTCALL, nullptr},
    {"group", groups_group, METH_O, nullptr},
    {"render", as_cfunction(groups_render), METH_FASTCALL, nullptr},
    {"duplicate_groups", groups_duplicates, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

template <class Fn>
void* slot_fn(Fn fn) {
  return reinterpret_cast<void*>(fn);
}

PyType_Slot groups_slots[] = {
    {Py_tp_doc, const_cast<char*>("The groups of quorvel-jid --dedupe (internal).")},
    {Py_tp_new, slot_fn(groups_new)},
    {Py_tp_dealloc, slot_fn(groups_dealloc)},
    {Py_sq_length, slot_fn(groups_len)},
    {Py_tp_methods, groups_methods},
    {0, nullptr},
};

PyType_Spec groups_spec = {"quorvel.jid._Groups", static_cast<int>(sizeof(GroupsObject)), 0,
                           Py_TPFLAGS_DEFAULT, groups_slots};

// ---- _normalise_block ------------------------------------------------------------

enum class Part { Full, Bare, Node, Domain, Resource };

std::string_view part_of(const JidValue& v, Part part) noexcept {
  switch (part) {
    case Part::Full:
      return v.text();
    case Part::Bare:
      return bare_text(v);
    case Part::Node:
      return node_part(v).value_or(std::string_view());
    case Part::Domain:
      return domain_part(v);
    case Part::Resource:
      return resource_part(v).value_or(std::string_view());
  }
  return v.text();
}

bool is_utf8(std::string_view s) noexcept {
  if (scan::is_ascii(s)) return true;
  for (std::size_t i = 0; i < s.size();) {
    if (utf8::decode(s, i) == utf8::kInvalid) return false;
  }
  return true;
}

// The lines the tool skips: blank ones and "# " comments.
bool skipped(std::string_view line) noexcept {
  return line.empty() || line == "#" || line.substr(0, 2) == "# ";
}

struct Failure {
  std::size_t offset;  // where in the output its message goes
  std::uint64_t line;
  std::string_view raw;
  std::optional<JidError> error;  // absent: not UTF-8
};

Outcome<PyRef> failures_list(const std::vector<Failure>& failures) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(failures.size())));
  if (!list) return PyError::fetch();
  for (std::size_t k = 0; k < failures.size(); ++k) {
    const Failure& f = failures[k];
    PyRef message;
    if (f.error) {
      auto m = make_str(quorvel::message(*f.error));
      if (!m) return std::move(m).error();
      message = std::move(m).value();
    } else {
      message = PyRef::borrow(Py_None);
    }
    PyObject* item = Py_BuildValue("(nKy#N)", static_cast<Py_ssize_t>(f.offset),
                                   static_cast<unsigned long long>(f.line), f.raw.data(),
                                   static_cast<Py_ssize_t>(f.raw.size()), message.release());
    if (item == nullptr) return PyError::fetch();
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), item);
  }
  return list;
}

// _normalise_block(data, part, bare_only, first_line, groups, source)
//   -> (out, failures, valid, lines)
//
// `data` holds whole lines (the last may lack its "\n" at the end of the
// input), the first of them line number `first_line`. Each line loses its
// "\n" or "\r\n"; blank lines and "# " comments are skipped; every other
// line is read as UTF-8 and parsed as the tool's per-line route does
// (j.full = text, or j.bare = text with bare_only). Without `groups` the
// selected part of each valid line goes to `out`, one per line; with a
// _Groups, valid lines are added to it under `source` instead. `failures`
// lists (offset in out, line, raw bytes, message or None for bytes that are
// not UTF-8) in input order.
PyObject* normalise_block(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 6) return PyError::with_text(PyExc_TypeError, "_normalise_block() takes 6 arguments");
    if (!PyBytes_Check(args[0])) return type_mismatch(args[0], "bytes");
    const std::string_view data(PyBytes_AS_STRING(args[0]), static_cast<std::size_t>(PyBytes_GET_SIZE(args[0])));
    auto part_index = index_from(args[1], 5);
    if (!part_index) return std::move(part_index).error();
    const auto part = static_cast<Part>(part_index.value());
    const int bare_only = PyObject_IsTrue(args[2]);
    if (bare_only < 0) return PyError::fetch();
    const unsigned long long first_line = PyLong_AsUnsignedLongLong(args[3]);
    if (first_line == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return PyError::fetch();
    GroupStore* groups = nullptr;
    if (args[4] != Py_None) {
      if (Py_TYPE(args[4]) != groups_type_cell.load(std::memory_order_acquire)) {
        return type_mismatch(args[4], "_Groups");
      }
      groups = as_groups(args[4])->store;
    }
    auto source = index_from(args[5], 0x100000000u);
    if (!source) return std::move(source).error();

    std::string out;
    out.reserve(groups ? 0 : data.size() + data.size() / 8);
    std::vector<Failure> failures;
    std::size_t valid = 0;
    std::uint64_t line_no = first_line;
    std::size_t pos = 0;
    while (pos < data.size()) {
      const std::size_t newline = data.find('\n', pos);
      const std::size_t end = newline == std::string_view::npos ? data.size() : newline;
      std::string_view line = data.substr(pos, end - pos);
      if (newline != std::string_view::npos && !line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
      }
      pos = newline == std::string_view::npos ? data.size() : newline + 1;
      const std::uint64_t this_line = line_no++;
      if (skipped(line)) continue;
      if (!is_utf8(line)) {
        failures.push_back({out.size(), this_line, line, std::nullopt});
        continue;
      }
      Result<JidValue> parsed = bare_only ? parse_bare_address(line) : parse_address(line);
      if (!parsed.ok()) {
        failures.push_back({out.size(), this_line, line, parsed.error()});
        continue;
      }
      ++valid;
      const std::string_view value = part_of(parsed.value(), part);
      if (groups != nullptr) {
        if (this_line > 0xFFFFFFFFu) throw std::length_error("--dedupe input too long");
        groups->add(value, source.value(), static_cast<std::uint32_t>(this_line), line);
      } else {
        out += value;
        out += '\n';
      }
    }

    auto failure_items = failures_list(failures);
    if (!failure_items) return std::move(failure_items).error();
    PyRef bytes = PyRef::steal(PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size())));
    if (!bytes) return PyError::fetch();
    PyRef result = PyRef::steal(Py_BuildValue("(NNnK)", bytes.release(), failure_items.value().release(),
                                              static_cast<Py_ssize_t>(valid),
                                              static_cast<unsigned long long>(line_no - first_line)));
    if (!result) return PyError::fetch();
    return result;
  });
}

}  // namespace

PyMethodDef normalise_block_def = {"_normalise_block", as_cfunction(normalise_block), METH_FASTCALL,
                                   nullptr};

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

}  // namespace quorvel::binding

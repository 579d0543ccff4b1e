// The list route of quorvel._batch: a list or tuple of str (or None) in,
// lists out. With the lock held, every item is referenced and its UTF-8
// form taken (a str caches it, so the view stays valid while the item
// lives); the items stay referenced while the row loop runs without the
// lock, so nothing another thread does to the list can free what is read.
// The results are built with the lock held again.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/grouping.h"
#include "batch/route_support.h"
#include "support/object_section.h"

namespace quorvel::binding::batch {
namespace {

// A str whose UTF-8 form does not exist (it holds a lone surrogate) is
// handed to the row loop as this byte, which is never UTF-8, so that it is
// reported as kInvalidUtf8 like the same bytes in an Arrow column.
constexpr std::string_view kUnencodable = "\xFF";

struct ListRows {
  std::vector<PyRef> items;  // held for as long as the views are read
  // A None row's view has no data at all (a str's, even the empty one's,
  // points at its UTF-8 form).
  std::vector<std::string_view> views;
  bool any_unencodable = false;

  std::optional<std::string_view> get(std::size_t i) const noexcept {
    if (views[i].data() == nullptr) return std::nullopt;
    return views[i];
  }
  std::size_t bytes(std::size_t begin, std::size_t end) const noexcept {
    std::size_t n = 0;
    for (std::size_t i = begin; i < end; ++i) n += views[i].size();
    return n;
  }
};

Outcome<ListRows> take_rows(PyObject* values) {
  if (!PyList_Check(values) && !PyTuple_Check(values)) return type_mismatch(values, "list");
  ListRows rows;
  // References first, in one pass that runs no Python code, so that a
  // collection run while the views are taken below (which allocates) cannot
  // change what is read.
  // Without the interpreter lock another thread may resize the list
  // meanwhile and free the very array read here; the list's critical
  // section keeps it still for this one pass.
  {
    ObjectSection section(values);
    PyObject** source = PySequence_Fast_ITEMS(values);
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(values);
    rows.items.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) rows.items.push_back(PyRef::borrow(source[i]));
  }
  rows.views.resize(rows.items.size());
  for (std::size_t i = 0; i < rows.items.size(); ++i) {
    PyObject* item = rows.items[i].get();
    if (item == Py_None) continue;
    if (!PyUnicode_Check(item)) {
      return PyError::with_text(PyExc_TypeError, "row " + std::to_string(i) + ": expected str or None, not '" +
                                                     Py_TYPE(item)->tp_name + "'");
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
    if (utf8 == nullptr) {
      if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return PyError::fetch();
      PyErr_Clear();
      rows.views[i] = kUnencodable;
      rows.any_unencodable = true;
      continue;
    }
    rows.views[i] = std::string_view(utf8, static_cast<std::size_t>(size));
  }
  return rows;
}

Outcome<std::vector<ChunkOutput>> run(const ListRows& rows, Options options, std::size_t threads) {
  options.check_utf8 = rows.any_unencodable;
  std::vector<ChunkOutput> outputs;
  auto done = unlocked([&] { outputs = normalise_column(rows, rows.views.size(), options, threads); });
  if (!done) return std::move(done).error();
  return outputs;
}

Outcome<PyRef> str_or_none(std::optional<std::string_view> text) {
  if (!text) return PyRef::borrow(Py_None);
  return make_str(*text);
}

// normalise_list(values, bare, rfc7622, parts, threads)
//   -> (text, error) or (text, error, localpart, domain, resource)
PyObject* normalise_list(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 5) return PyError::with_text(PyExc_TypeError, "normalise_list() takes 5 arguments");
    auto options = options_from(args[1], args[2]);
    if (!options) return std::move(options).error();
    auto parts = flag(args[3]);
    if (!parts) return std::move(parts).error();
    options.value().separators = parts.value();
    options.value().elide_unchanged = !parts.value();
    auto threads = thread_count(args[4]);
    if (!threads) return std::move(threads).error();
    auto rows = take_rows(args[0]);
    if (!rows) return std::move(rows).error();
    auto outputs = run(rows.value(), options.value(), threads.value());
    if (!outputs) return std::move(outputs).error();

    const std::size_t n = rows.value().views.size();
    const std::size_t columns = parts.value() ? 5 : 2;
    std::vector<PyRef> lists;
    for (std::size_t c = 0; c < columns; ++c) {
      PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(n)));
      if (!list) return PyError::fetch();
      lists.push_back(std::move(list));
    }
    std::optional<PyError> failed;
    auto put = [&](std::size_t c, std::size_t row, Outcome<PyRef> value) {
      if (!value) {
        failed = std::move(value).error();
        value = PyRef::borrow(Py_None);
      }
      PyList_SET_ITEM(lists[c].get(), static_cast<Py_ssize_t>(row), std::move(value).value().release());
    };
    for_each_row(outputs.value(), [&](std::size_t row, const ChunkOutput& chunk, std::size_t k) {
      const std::uint8_t status = chunk.status[k];
      const bool valid = status == kRowValid;
      if (failed) {
        for (std::size_t c = 0; c < columns; ++c) put(c, row, PyRef::borrow(Py_None));
        return;
      }
      PyObject* item = rows.value().items[row].get();
      if (status == kRowAsWritten) {
        // The usual row, already normalised: the input str (a str of its
        // own for a subclass) and None.
        if (PyUnicode_CheckExact(item)) {
          PyList_SET_ITEM(lists[0].get(), static_cast<Py_ssize_t>(row), Py_NewRef(item));
        } else {
          put(0, row, make_str(rows.value().views[row]));
        }
        PyList_SET_ITEM(lists[1].get(), static_cast<Py_ssize_t>(row), Py_NewRef(Py_None));
        return;
      }
      const std::string_view text = chunk.text(k);
      if (!valid) {
        put(0, row, PyRef::borrow(Py_None));
      } else if (PyUnicode_CheckExact(item) && rows.value().views[row] == text) {
        // Already normalised, as most addresses are: the input str is the result.
        put(0, row, PyRef::borrow(item));
      } else {
        put(0, row, make_str(text));
      }
      if (valid || status == kRowNull) {
        put(1, row, PyRef::borrow(Py_None));
      } else {
        PyObject* kind = PyLong_FromLong(status);
        put(1, row, kind == nullptr ? Outcome<PyRef>(PyError::fetch()) : Outcome<PyRef>(PyRef::steal(kind)));
      }
      if (columns == 5) {
        const std::uint16_t at = chunk.at[k];
        const std::uint16_t slash = chunk.slash[k];
        const std::size_t d = at == 0 ? 0 : at + 1u;
        const std::size_t e = slash == 0 ? text.size() : slash;
        using Part = std::optional<std::string_view>;
        put(2, row, str_or_none(valid && at != 0 ? Part(text.substr(0, at)) : std::nullopt));
        put(3, row, str_or_none(valid ? Part(text.substr(d, e - d)) : std::nullopt));
        put(4, row, str_or_none(valid && slash != 0 ? Part(text.substr(slash + 1u)) : std::nullopt));
      }
    });
    if (failed) return std::move(*failed);
    PyRef result = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(columns)));
    if (!result) return PyError::fetch();
    for (std::size_t c = 0; c < columns; ++c) {
      PyTuple_SET_ITEM(result.get(), static_cast<Py_ssize_t>(c), lists[c].release());
    }
    return result;
  });
}

// group_list(values, bare, rfc7622, threads) -> (ids, texts, counts)
PyObject* group_list(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 4) return PyError::with_text(PyExc_TypeError, "group_list() takes 4 arguments");
    auto options = options_from(args[1], args[2]);
    if (!options) return std::move(options).error();
    auto threads = thread_count(args[3]);
    if (!threads) return std::move(threads).error();
    auto rows = take_rows(args[0]);
    if (!rows) return std::move(rows).error();
    Options given = options.value();
    given.check_utf8 = rows.value().any_unencodable;
    Grouping g;
    auto done = unlocked([&] {
      group_column(rows.value(), rows.value().views.size(), given, threads.value(), g);
      g.groups.drop_table();
      count_groups(g);
    });
    if (!done) return std::move(done).error();

    const std::size_t groups = g.groups.size();
    PyRef ids = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(g.ids.size())));
    PyRef texts = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(groups)));
    PyRef counts = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(groups)));
    if (!ids || !texts || !counts) return PyError::fetch();
    // Filled front to back; a failure leaves the rest null, which a list
    // being freed allows.
    for (std::size_t i = 0; i < g.ids.size(); ++i) {
      PyObject* v = g.ids[i] == kNoGroup ? Py_NewRef(Py_None) : PyLong_FromLong(g.ids[i]);
      if (v == nullptr) return PyError::fetch();
      PyList_SET_ITEM(ids.get(), static_cast<Py_ssize_t>(i), v);
    }
    for (std::size_t i = 0; i < groups; ++i) {
      auto t = make_str(g.groups.text(i));
      if (!t) return std::move(t).error();
      PyList_SET_ITEM(texts.get(), static_cast<Py_ssize_t>(i), std::move(t).value().release());
      PyObject* c = PyLong_FromLongLong(g.counts[i]);
      if (c == nullptr) return PyError::fetch();
      PyList_SET_ITEM(counts.get(), static_cast<Py_ssize_t>(i), c);
    }
    PyRef result = PyRef::steal(PyTuple_Pack(3, ids.get(), texts.get(), counts.get()));
    if (!result) return PyError::fetch();
    return result;
  });
}

}  // namespace

PyMethodDef normalise_list_def = {"normalise_list", as_cfunction(normalise_list), METH_FASTCALL, nullptr};
PyMethodDef group_list_def = {"group_list", as_cfunction(group_list), METH_FASTCALL, nullptr};

}  // namespace quorvel::binding::batch

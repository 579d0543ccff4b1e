// quorvel._blocks.normalise_block: whole blocks of input lines of the
// command-line tool parsed in one call. The tool's per-line Python route
// (python/quorvel/cli.py) is its slow twin; the tests hold the two to
// byte-identical output. With a thread count above 1 the lines are parsed
// over worker threads (threaded_lines.h) and the results put together in
// line order here, the same as the calling thread's route gives.
#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "blocks/blocks.h"
#include "blocks/lines.h"
#include "blocks/threaded_lines.h"
#include "support/object_section.h"
#include "quorvel/jid_error.h"

namespace quorvel::binding::blocks {
namespace {

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

Outcome<std::string_view> bytes_view(PyObject* obj) {
  if (!PyBytes_Check(obj)) return type_mismatch(obj, "bytes");
  return std::string_view(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
}

Outcome<std::uint64_t> line_number(PyObject* obj) {
  const unsigned long long n = PyLong_AsUnsignedLongLong(obj);
  if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return PyError::fetch();
  return static_cast<std::uint64_t>(n);
}

// An optional thread count: an int of at least 1 (1 when absent).
Outcome<std::size_t> thread_count(PyObject* const* args, Py_ssize_t nargs, Py_ssize_t at) {
  if (nargs <= at) return std::size_t{1};
  const Py_ssize_t v = PyLong_AsSsize_t(args[at]);
  if (v == -1 && PyErr_Occurred()) return PyError::fetch();
  if (v < 1) return PyError::with_text(PyExc_ValueError, "threads must be at least 1");
  return static_cast<std::size_t>(v);
}

// What normalise_block does with the outcome of one line, in line order:
// a failure noted at its place in the output, or the value printed or
// added to the groups.
struct BlockOutput {
  GroupStore* groups;
  std::uint32_t source;
  std::string out;
  std::vector<Failure> failures;
  std::size_t valid = 0;

  void failed(std::uint64_t line_no, std::string_view line, std::optional<JidError> error) {
    failures.push_back({out.size(), line_no, line, error});
  }
  void succeeded(std::uint64_t line_no, std::string_view line, std::string_view value) {
    ++valid;
    if (groups != nullptr) {
      if (line_no > 0xFFFFFFFFu) throw std::length_error("--dedupe input too long");
      groups->add(value, source, static_cast<std::uint32_t>(line_no), line);
    } else {
      out += value;
      out += '\n';
    }
  }
};

// normalise_block(data, part, bare_only, first_line, groups, source[, rfc7622[, threads]])
//   -> (out, failures, valid, lines)
//
// `data` holds whole lines (the last may lack its "\n" at the end of the
// input), the first of them line number `first_line`. Each line loses its
// "\n" or "\r\n"; empty lines and comments are skipped; every other
// line is read as UTF-8 and parsed as the tool's per-line route does
// (j.full = text, or j.bare = text with bare_only). Without `groups` the
// selected part of each valid line goes to `out`, one per line; with a
// Groups, valid lines are added to it under `source` instead. `failures`
// lists (offset in out, line, raw bytes, message or None for bytes that are
// not UTF-8) in input order. With a true `rfc7622` the addresses are
// prepared by RFC 7622 (quorvel.precis) instead. `threads` above 1 parses
// the lines over that many threads at most, with the same result.
PyObject* normalise_block(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs < 6 || nargs > 8) {
      return PyError::with_text(PyExc_TypeError, "normalise_block() takes 6 to 8 arguments");
    }
    auto data_view = bytes_view(args[0]);
    if (!data_view) return std::move(data_view).error();
    const std::string_view data = data_view.value();
    auto part_index = index_from(args[1], 5);
    if (!part_index) return std::move(part_index).error();
    const auto part = static_cast<Part>(part_index.value());
    const int bare_only = PyObject_IsTrue(args[2]);
    if (bare_only < 0) return PyError::fetch();
    auto first = line_number(args[3]);
    if (!first) return std::move(first).error();
    const std::uint64_t first_line = first.value();
    int rfc7622 = 0;
    if (nargs >= 7 && (rfc7622 = PyObject_IsTrue(args[6])) < 0) return PyError::fetch();
    auto threads = thread_count(args, nargs, 7);
    if (!threads) return std::move(threads).error();
    GroupStore* groups = nullptr;
    // Held until the result is built: the store is changed in place (see
    // groups_type.cpp). Worker threads never touch it, only this one.
    std::optional<ObjectSection> groups_section;
    if (args[4] != Py_None) {
      groups = groups_store(args[4]);
      if (groups == nullptr) return type_mismatch(args[4], "Groups");
      groups_section.emplace(args[4]);
    }
    auto source = index_from(args[5], 0x100000000u);
    if (!source) return std::move(source).error();

    BlockOutput block{groups, source.value(), {}, {}};
    block.out.reserve(groups ? 0 : data.size() + data.size() / 8);
    std::uint64_t lines = 0;
    if (threads.value() == 1) {
      lines = for_each_line(data, first_line, [&](std::uint64_t this_line, std::string_view line) {
        if (!is_utf8(line)) {
          block.failed(this_line, line, std::nullopt);
          return;
        }
        Result<JidValue> parsed = parse_line(line, bare_only, rfc7622);
        if (!parsed.ok()) {
          block.failed(this_line, line, parsed.error());
          return;
        }
        block.succeeded(this_line, line, part_of(parsed.value(), part));
      });
    } else {
      const std::vector<Line> read = block_lines(data, first_line, lines);
      const auto outputs = parse_lines(read, part, bare_only, rfc7622, threads.value());
      batch::for_each_row(outputs, [&](std::size_t row, const batch::ChunkOutput& c, std::size_t k) {
        const Line& line = read[row];
        const std::uint8_t status = c.status[k];
        if (status == batch::kRowValid) {
          block.succeeded(line.number, line.text, c.text(k));
        } else if (status == batch::kInvalidUtf8) {
          block.failed(line.number, line.text, std::nullopt);
        } else {
          block.failed(line.number, line.text, static_cast<JidError>(status));
        }
      });
    }
    std::string& out = block.out;
    const std::vector<Failure>& failures = block.failures;
    const std::size_t valid = block.valid;

    auto failure_items = failures_list(failures);
    if (!failure_items) return std::move(failure_items).error();
    PyRef bytes = PyRef::steal(PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size())));
    if (!bytes) return PyError::fetch();
    PyRef result = PyRef::steal(Py_BuildValue("(NNnK)", bytes.release(), failure_items.value().release(),
                                              static_cast<Py_ssize_t>(valid),
                                              static_cast<unsigned long long>(lines)));
    if (!result) return PyError::fetch();
    return result;
  });
}

// differing_block(data, first_line[, threads]) -> (differing, unreadable, inputs, lines)
//
// The lines of `data` (as normalise_block reads them) that RFC 6122 and
// RFC 7622 treat differently: one accepts and the other refuses, or both
// accept as different text. `differing` lists (line, text) and `unreadable`
// (line, raw bytes) for lines that are not UTF-8, both in input order;
// `inputs` counts the lines read as inputs. quorvel-jid --compare explains
// only these, so that the usual line, the same under both, costs two parses
// and no Python object. `threads` above 1 works the lines over threads, as
// normalise_block does.
PyObject* differing_block(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 2 && nargs != 3) {
      return PyError::with_text(PyExc_TypeError, "differing_block() takes 2 or 3 arguments");
    }
    auto data = bytes_view(args[0]);
    if (!data) return std::move(data).error();
    auto first = line_number(args[1]);
    if (!first) return std::move(first).error();
    auto threads = thread_count(args, nargs, 2);
    if (!threads) return std::move(threads).error();
    PyRef differing = PyRef::steal(PyList_New(0));
    PyRef unreadable = PyRef::steal(PyList_New(0));
    if (!differing || !unreadable) return PyError::fetch();
    std::size_t inputs = 0;
    std::optional<PyError> failed;
    auto append = [&](PyObject* list, PyObject* item) {
      if (item == nullptr || PyList_Append(list, item) < 0) {
        Py_XDECREF(item);
        failed = PyError::fetch();
        return;
      }
      Py_DECREF(item);
    };
    // One line's verdict, in line order.
    auto note = [&](std::uint64_t n, std::string_view line, bool utf8, bool differs) {
      if (failed) return;
      ++inputs;
      const auto count = static_cast<Py_ssize_t>(line.size());
      if (!utf8) {
        append(unreadable.get(), Py_BuildValue("(Ky#)", static_cast<unsigned long long>(n), line.data(), count));
      } else if (differs) {
        append(differing.get(), Py_BuildValue("(Ks#)", static_cast<unsigned long long>(n), line.data(), count));
      }
    };
    std::uint64_t lines = 0;
    if (threads.value() == 1) {
      lines = for_each_line(data.value(), first.value(), [&](std::uint64_t n, std::string_view line) {
        if (failed) return;
        const bool utf8 = is_utf8(line);
        note(n, line, utf8, utf8 && profiles_differ(line));
      });
    } else {
      const std::vector<Line> read = block_lines(data.value(), first.value(), lines);
      const auto outputs = compare_lines(read, threads.value());
      batch::for_each_row(outputs, [&](std::size_t row, const batch::ChunkOutput& c, std::size_t k) {
        note(read[row].number, read[row].text, c.status[k] != batch::kInvalidUtf8,
             c.status[k] == kCompareDiffers);
      });
    }
    if (failed) return std::move(*failed);
    PyRef result = PyRef::steal(Py_BuildValue("(NNnK)", differing.release(), unreadable.release(),
                                              static_cast<Py_ssize_t>(inputs),
                                              static_cast<unsigned long long>(lines)));
    if (!result) return PyError::fetch();
    return result;
  });
}

}  // namespace

PyMethodDef normalise_block_def = {"normalise_block", as_cfunction(normalise_block), METH_FASTCALL,
                                   nullptr};
PyMethodDef differing_block_def = {"differing_block", as_cfunction(differing_block), METH_FASTCALL,
                                   nullptr};

}  // namespace quorvel::binding::blocks

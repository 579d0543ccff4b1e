// quorvel._blocks.normalise_block: whole blocks of input lines of the
// command-line tool parsed in one call. The tool's per-line Python route
// (python/quorvel/cli.py) is its slow twin; the tests hold the two to
// byte-identical output.
#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "blocks/blocks.h"
#include "quorvel/address.h"
#include "quorvel/jid_error.h"
#include "quorvel/precis.h"
#include "simd/scan.h"
#include "unicode/utf8_codec.h"

namespace quorvel::binding::blocks {
namespace {

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

// The lines the tool skips: empty ones and comments, a line that is "#"
// alone or starts with "# " (_sources.skipped, the per-line route's rule).
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

// The lines of a block one by one: each loses its "\n" or "\r\n", and
// `visit(line_number, line)` sees every line the tool does not skip.
template <class Visit>
std::uint64_t for_each_line(std::string_view data, std::uint64_t first_line, Visit visit) {
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
    if (!skipped(line)) visit(this_line, line);
  }
  return line_no - first_line;
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

// normalise_block(data, part, bare_only, first_line, groups, source[, rfc7622])
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
// prepared by RFC 7622 (quorvel.precis) instead.
PyObject* normalise_block(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 6 && nargs != 7) {
      return PyError::with_text(PyExc_TypeError, "normalise_block() takes 6 or 7 arguments");
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
    if (nargs == 7 && (rfc7622 = PyObject_IsTrue(args[6])) < 0) return PyError::fetch();
    GroupStore* groups = nullptr;
    if (args[4] != Py_None) {
      groups = groups_store(args[4]);
      if (groups == nullptr) return type_mismatch(args[4], "Groups");
    }
    auto source = index_from(args[5], 0x100000000u);
    if (!source) return std::move(source).error();

    std::string out;
    out.reserve(groups ? 0 : data.size() + data.size() / 8);
    std::vector<Failure> failures;
    std::size_t valid = 0;
    const std::uint64_t lines = for_each_line(data, first_line, [&](std::uint64_t this_line,
                                                                     std::string_view line) {
      if (!is_utf8(line)) {
        failures.push_back({out.size(), this_line, line, std::nullopt});
        return;
      }
      Result<JidValue> parsed =
          rfc7622 ? (bare_only ? precis::parse_bare_address(line) : precis::parse_address(line))
                  : (bare_only ? parse_bare_address(line) : parse_address(line));
      if (!parsed.ok()) {
        failures.push_back({out.size(), this_line, line, parsed.error()});
        return;
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
    });

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

// differing_block(data, first_line) -> (differing, unreadable, inputs, lines)
//
// The lines of `data` (as normalise_block reads them) that RFC 6122 and
// RFC 7622 treat differently: one accepts and the other refuses, or both
// accept as different text. `differing` lists (line, text) and `unreadable`
// (line, raw bytes) for lines that are not UTF-8, both in input order;
// `inputs` counts the lines read as inputs. quorvel-jid --compare explains
// only these, so that the usual line, the same under both, costs two parses
// and no Python object.
PyObject* differing_block(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != 2) return PyError::with_text(PyExc_TypeError, "differing_block() takes 2 arguments");
    auto data = bytes_view(args[0]);
    if (!data) return std::move(data).error();
    auto first = line_number(args[1]);
    if (!first) return std::move(first).error();
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
    const std::uint64_t lines = for_each_line(data.value(), first.value(), [&](std::uint64_t n,
                                                                                std::string_view line) {
      if (failed) return;
      ++inputs;
      const auto count = static_cast<Py_ssize_t>(line.size());
      if (!is_utf8(line)) {
        append(unreadable.get(), Py_BuildValue("(Ky#)", static_cast<unsigned long long>(n), line.data(), count));
        return;
      }
      const Result<JidValue> old = parse_address(line);
      const Result<JidValue> now = precis::parse_address(line);
      if (old.ok() == now.ok() && (!old.ok() || old->text() == now->text())) return;
      append(differing.get(), Py_BuildValue("(Ks#)", static_cast<unsigned long long>(n), line.data(), count));
    });
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

// _reasons(part, kind): the comparison's reasons for one part of an address
// (quorvel/compare.h), for quorvel.profiles.
#include "support/arguments.h"
#include "jid/jid_object.h"
#include "quorvel/compare.h"

namespace quorvel::binding {
namespace {

constexpr const char* kNames[] = {"part", "kind"};
constexpr Signature kSignature{"_reasons()", kNames, 2, 2};

PyObject* reasons(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    PyObject* slots[2] = {nullptr, nullptr};
    if (auto bound = bind_vectorcall(kSignature, args, nargs, kwnames, slots); !bound) {
      return std::move(bound).error();
    }
    auto text = text_from(slots[0]);
    if (!text) return with_note(std::move(text).error(), "part");
    const long kind = PyLong_AsLong(slots[1]);
    if (kind == -1 && PyErr_Occurred()) return PyError::fetch();
    if (kind < 0 || kind > 2) return PyError::with_text(PyExc_ValueError, "kind must be 0, 1 or 2");
    const std::uint32_t bits =
        compare::reasons(text.value(), static_cast<compare::PartKind>(kind));
    PyRef out = PyRef::steal(PyLong_FromUnsignedLong(bits));
    if (!out) return PyError::fetch();
    return out;
  });
}

}  // namespace

PyMethodDef reasons_def = {
    "_reasons",
    as_cfunction(reasons),
    METH_FASTCALL | METH_KEYWORDS,
    "_reasons(part, kind)\n--\n\n",
};

}  // namespace quorvel::binding

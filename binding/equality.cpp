// JID == JID and JID != JID, the comparisons dictionaries and sets make,
// answered before the general comparison (protocol.cpp) and its entry
// guard: two lengths and a memcmp, as any address type must do.
#include "jid_object.h"

namespace quorvel::binding {
namespace {

// Whether the values of a and b are equal, when both can be read now.
std::optional<bool> equal_if_readable(JidObject* a, JidObject* b) noexcept {
#if defined(Py_GIL_DISABLED)
  auto mine = ReadBorrow::try_acquire(a);
  if (!mine) return std::nullopt;
  auto theirs = ReadBorrow::try_acquire(b);
  if (!theirs) return std::nullopt;
#else
  // With the interpreter lock held nothing else runs until this returns,
  // so no writer can begin meanwhile and a reader need not register: it
  // is enough that no writer holds either value now.
  if (a->borrow_flag.load(std::memory_order_relaxed) == kWriter ||
      b->borrow_flag.load(std::memory_order_relaxed) == kWriter) {
    return std::nullopt;
  }
#endif
  const std::optional<JidValue>& x = a->value;
  const std::optional<JidValue>& y = b->value;
  if (!x || !y) return !x && !y;
  return *x == *y;
}

}  // namespace

PyObject* jid_compare(PyObject* self, PyObject* other, int op) noexcept {
  if ((op == Py_EQ || op == Py_NE) && Py_TYPE(other) == Py_TYPE(self)) {
    if (const std::optional<bool> equal = equal_if_readable(as_jid(self), as_jid(other))) {
      return Py_NewRef((op == Py_EQ) == *equal ? Py_True : Py_False);
    }
  }
  // Everything else, a value held by a writer included (which the general
  // route reports), goes the general way.
  return jid_richcompare(self, other, op);
}

}  // namespace quorvel::binding

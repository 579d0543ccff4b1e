// A per-object critical section for the objects whose native state is
// changed in place (a Groups store) or read as a whole (a list's items).
#pragma once

#include "support/support.h"

namespace quorvel::binding {

// On a free-threaded interpreter this is the interpreter's critical section
// on `obj`: two threads inside sections on the same object never overlap.
// A plain mutex would not do: a thread waiting on one while attached would
// stall a stop-the-world collection that the holder is waiting for, and
// the interpreter suspends its own sections whenever the thread detaches
// (Unlocked, a blocking call), so no deadlock can arise. What is read under
// the section must not be kept across such a detach as if still guarded;
// the callers keep only the objects' own heap blocks, which stay put.
//
// With the interpreter lock the lock already orders every caller, so it is
// nothing at all (3.12 has no such API either).
class ObjectSection {
 public:
#if defined(Py_GIL_DISABLED)
  explicit ObjectSection(PyObject* obj) noexcept { PyCriticalSection_Begin(&section_, obj); }
  ~ObjectSection() { PyCriticalSection_End(&section_); }
#else
  explicit ObjectSection(PyObject*) noexcept {}
#endif
  ObjectSection(const ObjectSection&) = delete;
  ObjectSection& operator=(const ObjectSection&) = delete;

 private:
#if defined(Py_GIL_DISABLED)
  PyCriticalSection section_;
#endif
};

}  // namespace quorvel::binding

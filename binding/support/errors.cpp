// Errors on their way to the interpreter, the fault path of the entry guard,
// and the process-wide objects the error paths need.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "simd/scan.h"
#include "support/support.h"

namespace quorvel::binding {

// ---- PyError ---------------------------------------------------------------

PyError PyError::lazy(PyObject* type, PyRef arg) noexcept {
  PyError e;
  e.type_ = PyRef::borrow(type);
  e.arg_ = std::move(arg);
  return e;
}

PyError PyError::with_text(PyObject* type, std::string_view text) {
  auto arg = make_str(text);
  if (!arg) return std::move(arg).error();
  return lazy(type, std::move(arg).value());
}

PyError PyError::fetch() {
  PyRef exc = PyRef::steal(PyErr_GetRaisedException());
  if (!exc) throw Fault("an interpreter call failed without setting an exception");
  return from_exception(std::move(exc));
}

PyError PyError::from_exception(PyRef exc) noexcept {
  PyError e;
  e.exc_ = std::move(exc);
  return e;
}

void PyError::restore() && noexcept {
  if (exc_) {
    PyErr_SetRaisedException(exc_.release());
  } else {
    PyErr_SetObject(type_.get(), arg_.get());
  }
}

PyRef PyError::into_exception() && {
  if (exc_) return std::move(exc_);
  std::move(*this).restore();
  PyRef exc = PyRef::steal(PyErr_GetRaisedException());
  if (!exc) throw Fault("creating an exception object left no exception");
  return exc;
}

// ---- process cells ---------------------------------------------------------

PyObject* ProcessCell::get(PyObject* (*create)()) {
  if (PyObject* existing = value_.load(std::memory_order_acquire)) return existing;

  const int depth = LockDepth::release();
  PyThreadState* thread = PyEval_SaveThread();
  std::unique_lock<std::mutex> section(section_, std::defer_lock);
  try {
    section.lock();
  } catch (...) {
    PyEval_RestoreThread(thread);
    LockDepth::reacquire(depth);
    throw;
  }
  if (PyObject* existing = value_.load(std::memory_order_acquire)) {
    // Another thread made it while we waited.
    section.unlock();
    PyEval_RestoreThread(thread);
    LockDepth::reacquire(depth);
    return existing;
  }
  PyEval_RestoreThread(thread);
  LockDepth::reacquire(depth);
  PyObject* made = create();
  if (made != nullptr) value_.store(made, std::memory_order_release);
  return made;
}

namespace {

ProcessCell binding_fault_cell;
ProcessCell invalid_jid_cell;
ProcessCell name_cells[4];

constexpr const char kBindingFaultDoc[] =
    "Raised when quorvel.jid detects a broken internal invariant.\n\n"
    "This is a bug in quorvel, never a consequence of the input.";

constexpr const char kInvalidJidDoc[] =
    "Raised when attempting to create a JID that does not pass validation.\n\n"
    "It can also be raised if modifying an existing JID in such a way as\n"
    "to make it invalid, such trying to remove the domain from an existing\n"
    "full JID while the local and resource portions still exist.";

[[noreturn]] void abort_at_boundary(const char* text) noexcept {
  std::fprintf(stderr, "quorvel.jid: uncaught panic at ffi boundary: %s\n", text);
  std::fflush(stderr);
  std::abort();
}

// Sets a BindingFault with `text`. Reporting the fault is the last line of
// defence; if it cannot be done there is no honest way to continue.
void raise_fault(const char* text) noexcept {
  // Whatever was pending is superseded by the fault, and creating the type
  // must not run with an exception set.
  Py_XDECREF(PyErr_GetRaisedException());
  PyObject* type = nullptr;
  try {
    type = binding_fault_cell.get([]() -> PyObject* {
      return PyErr_NewExceptionWithDoc("quorvel.jid.BindingFault", kBindingFaultDoc,
                                       PyExc_BaseException, nullptr);
    });
  } catch (...) {
    type = nullptr;
  }
  if (type == nullptr) abort_at_boundary(text);
  PyObject* arg = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "replace");
  if (arg == nullptr) abort_at_boundary(text);
  PyErr_SetObject(type, arg);
  Py_DECREF(arg);
}

// "<type name>: <str(exc)>" for the pending exception, which is cleared.
std::string describe_pending() {
  PyRef exc = PyRef::steal(PyErr_GetRaisedException());
  if (!exc) return "no exception was set";
  std::string out;
  if (PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(exc.get())))) {
    if (const char* utf8 = PyUnicode_AsUTF8(name.get())) out = utf8;
  }
  if (PyRef text = PyRef::steal(PyObject_Str(exc.get()))) {
    if (const char* utf8 = PyUnicode_AsUTF8(text.get())) {
      if (*utf8 != '\0') out += std::string(out.empty() ? "" : ": ") + utf8;
    }
  }
  PyErr_Clear();
  return out.empty() ? "unknown error" : out;
}

}  // namespace

void raise_caught(std::exception_ptr fault) noexcept {
  try {
    std::rethrow_exception(fault);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_fault(e.what());
  } catch (...) {
    raise_fault("internal fault in quorvel.jid");
  }
}

PyObject* invalid_jid_type() {
  PyObject* type = invalid_jid_cell.get([]() -> PyObject* {
    return PyErr_NewExceptionWithDoc("quorvel.jid.InvalidJID", kInvalidJidDoc, PyExc_ValueError,
                                     nullptr);
  });
  if (type == nullptr) {
    throw OwnedFault("Failed to initialize new exception type. " + describe_pending());
  }
  return type;
}

Outcome<PyObject*> interned(Name name) {
  using Create = PyObject* (*)();
  static constexpr Create creators[] = {
      [] { return PyUnicode_InternFromString("__all__"); },
      [] { return PyUnicode_InternFromString("__name__"); },
      [] { return PyUnicode_InternFromString("__module__"); },
      [] { return PyUnicode_InternFromString("add_note"); },
  };
  const auto index = static_cast<std::size_t>(name);
  PyObject* value = name_cells[index].get(creators[index]);
  if (value == nullptr) return PyError::fetch();
  return value;
}

// ---- errors of the binding -------------------------------------------------

PyError type_mismatch(PyObject* obj, const char* target) {
  PyObject* message;
  if (obj == Py_None) {
    message = PyUnicode_FromFormat("'None' is not an instance of '%s'", target);
  } else {
    PyRef qualname = PyRef::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (qualname && PyUnicode_Check(qualname.get())) {
      message = PyUnicode_FromFormat("'%U' object is not an instance of '%s'", qualname.get(), target);
    } else {
      PyErr_Clear();
      message = PyUnicode_FromFormat(
          "'<failed to extract type name>' object is not an instance of '%s'", target);
    }
  }
  if (message == nullptr) return PyError::fetch();
  return PyError::lazy(PyExc_TypeError, PyRef::steal(message));
}

PyError with_note(PyError error, std::string_view name) {
  PyRef exc = std::move(error).into_exception();
  std::string note = "while processing '";
  note.append(name);
  note += '\'';
  auto add_note = interned(Name::AddNote);
  if (add_note) {
    if (auto text = make_str(note)) {
      PyRef ignored = PyRef::steal(
          PyObject_CallMethodOneArg(exc.get(), add_note.value(), text.value().get()));
    }
  }
  // A note is a courtesy; failing to attach one must not hide the error.
  PyErr_Clear();
  return PyError::from_exception(std::move(exc));
}

PyError raise_invalid_jid(std::string_view text) {
  return PyError::with_text(invalid_jid_type(), text);
}

Outcome<std::string_view> text_from(PyObject* obj) {
  if (!PyUnicode_Check(obj)) return type_mismatch(obj, "str");
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
  if (utf8 == nullptr) return PyError::fetch();
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

Outcome<PyRef> make_str(std::string_view text) {
  // The core's word-at-a-time test: a byte loop was a fifth of a getter.
  const bool ascii = scan::is_ascii(text);
  const auto size = static_cast<Py_ssize_t>(text.size());
  PyObject* str;
  if (ascii) {
    // Addresses are mostly ASCII: copy the bytes straight into a compact
    // one-byte string instead of running the UTF-8 decoder.
    str = PyUnicode_New(size, 127);
    if (str != nullptr && size > 0) std::memcpy(PyUnicode_1BYTE_DATA(str), text.data(), text.size());
  } else {
    str = PyUnicode_DecodeUTF8(text.data(), size, nullptr);
  }
  if (str == nullptr) return PyError::fetch();
  return PyRef::steal(str);
}

}  // namespace quorvel::binding

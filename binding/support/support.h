// Plumbing shared by every entry point of the extension: owned references,
// errors on their way to the interpreter, the entry guard, and the
// process-wide objects (exception types, interned names).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

// The initial-exec TLS model is a GCC and Clang attribute on ELF systems;
// elsewhere (MSVC for the Windows wheels) the default model is used.
#if defined(__GNUC__) && defined(__ELF__)
#define QUORVEL_TLS_INITIAL_EXEC __attribute__((tls_model("initial-exec")))
#else
#define QUORVEL_TLS_INITIAL_EXEC
#endif

namespace quorvel::binding {

// One owned (strong) reference. Every PyObject the binding owns lives in one
// of these, so no path can forget a decref or decref twice.
class PyRef {
 public:
  PyRef() noexcept = default;
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    PyRef old(std::move(*this));
    ptr_ = std::exchange(other.ptr_, nullptr);
    return *this;
  }
  ~PyRef() { Py_XDECREF(ptr_); }

  // Takes over a new reference (may be null).
  static PyRef steal(PyObject* obj) noexcept { return PyRef(obj); }
  // Adds a reference of our own to a borrowed one.
  static PyRef borrow(PyObject* obj) noexcept { return PyRef(Py_XNewRef(obj)); }

  PyObject* get() const noexcept { return ptr_; }
  PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

 private:
  explicit PyRef(PyObject* obj) noexcept : ptr_(obj) {}
  PyObject* ptr_ = nullptr;
};

// A failure on its way to the interpreter. Usually it is just an exception
// type and the single argument for it; the exception object is made only
// when the error reaches the interpreter. Errors that the interpreter itself
// raised, or that needed a note, are carried as finished exception objects.
class PyError {
 public:
  // `type` is borrowed; `arg` becomes the exception's only argument.
  static PyError lazy(PyObject* type, PyRef arg) noexcept;
  // `type` with a str made from `text` (falls back to whatever error making
  // the str raised).
  static PyError with_text(PyObject* type, std::string_view text);
  // Takes the interpreter's pending exception. Throws Fault when nothing is
  // pending: a failure was reported without an exception being set.
  static PyError fetch();
  static PyError from_exception(PyRef exc) noexcept;

  // Sets the interpreter's error indicator from this error.
  void restore() && noexcept;
  // The exception object itself (creating it if needed).
  PyRef into_exception() &&;

 private:
  PyRef type_;
  PyRef arg_;
  PyRef exc_;
};

// Either a result or a PyError.
template <class T>
class [[nodiscard]] Outcome {
 public:
  Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  Outcome(PyError error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

  bool ok() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  T& value() & noexcept { return *std::get_if<0>(&state_); }
  T&& value() && noexcept { return std::move(*std::get_if<0>(&state_)); }
  PyError&& error() && noexcept { return std::move(*std::get_if<1>(&state_)); }
  PyError take_error() noexcept { return std::move(*std::get_if<1>(&state_)); }

 private:
  std::variant<T, PyError> state_;
};

struct Done {};
using Status = Outcome<Done>;

// A broken internal invariant. Thrown inside the binding only, always
// caught by the entry guard and raised as BindingFault.
class Fault : public std::exception {
 public:
  explicit Fault(const char* text) noexcept : text_(text) {}
  const char* what() const noexcept override { return text_; }

 private:
  const char* text_;
};

// Like Fault, for messages assembled at run time.
class OwnedFault : public std::exception {
 public:
  explicit OwnedFault(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

// ---- entry guard ---------------------------------------------------------

// Per-thread count of entry points active on this thread, all of them
// holding the interpreter lock. A one-time initialisation that gives the
// lock up zeroes it for the time it does not hold the lock.
class LockDepth {
 public:
  LockDepth() noexcept { ++depth_; }
  ~LockDepth() { --depth_; }
  LockDepth(const LockDepth&) = delete;
  LockDepth& operator=(const LockDepth&) = delete;

  // Zeroes the count and returns what it was.
  static int release() noexcept { return std::exchange(depth_, 0); }
  static void reacquire(int depth) noexcept { depth_ = depth; }

 private:
  // Initial-exec: every entry point touches this, and the default model for
  // a dlopen()ed module goes through __tls_get_addr on each access, which
  // cost a tenth of a constructor call. Four bytes fit easily in the static
  // TLS space the loader keeps for modules loaded later.
  // constinit: a thread_local whose initialiser the compiler cannot see
  // from another file is read through a wrapper function call on every
  // access, which cost more than the rest of a getter.
  QUORVEL_TLS_INITIAL_EXEC static inline thread_local constinit int depth_ = 0;
};

// Raises the C++ exception `fault` (caught by the entry guard) as the
// interpreter's current exception: MemoryError for std::bad_alloc,
// BindingFault for everything else. Aborts the process when even that fails.
void raise_caught(std::exception_ptr fault) noexcept;

inline PyObject* into_raw(PyRef ref) noexcept { return ref.release(); }
inline int into_raw(int value) noexcept { return value; }
inline Py_hash_t into_raw(Py_hash_t value) noexcept { return value; }

// Runs `body` (returning Outcome<X>) as one entry point from the interpreter:
// a result goes back as the slot expects it, a PyError becomes the current
// exception and the slot's failure value, and no C++ exception escapes.
template <class Raw, class Body>
Raw entry_guard(Raw failure, Body&& body) noexcept {
  LockDepth depth;
  try {
    auto outcome = std::forward<Body>(body)();
    if (outcome.ok()) return into_raw(std::move(outcome).value());
    std::move(outcome).error().restore();
  } catch (...) {
    raise_caught(std::current_exception());
  }
  return failure;
}

// The same for slots that have no failure value (deallocation): a fault is
// reported through PyErr_WriteUnraisable and any pending exception is kept.
template <class Body>
void entry_guard_unraisable(Body&& body) noexcept {
  LockDepth depth;
  try {
    std::forward<Body>(body)();
  } catch (...) {
    PyObject* pending = PyErr_GetRaisedException();
    raise_caught(std::current_exception());
    PyErr_WriteUnraisable(nullptr);
    PyErr_SetRaisedException(pending);
  }
}

// A fastcall entry point as the PyCFunction a method table stores; the
// method's flags tell the interpreter how to call it.
template <class Fn>
PyCFunction as_cfunction(Fn fn) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// ---- process-wide objects -------------------------------------------------

// A process-wide object made once, on first need, and never freed.
//
// A thread that finds the cell empty gives up the interpreter lock before it
// waits for the one-time section, so it never blocks another thread that
// holds the section and needs the lock (creating the object can run Python
// code, which may switch threads). Inside the section it takes the lock back
// before calling the interpreter; a thread that only waited for another's
// creation takes the lock back after the section.
class ProcessCell {
 public:
  // The object (borrowed), or null with the interpreter's error set when
  // `create` failed; the cell then stays empty and a later call retries.
  PyObject* get(PyObject* (*create)());

 private:
  std::atomic<PyObject*> value_{nullptr};
  std::mutex section_;
};

// The InvalidJID exception type; created on first use, never freed.
// Throws a fault when it cannot be created.
PyObject* invalid_jid_type();

enum class Name { All, DunderName, Module, AddNote };
// The interned attribute name, created on first use and kept for the life
// of the process. A borrowed reference.
Outcome<PyObject*> interned(Name name);

// ---- errors of the binding -----------------------------------------------

// "'<type>' object is not an instance of '<target>'", or for None
// "'None' is not an instance of '<target>'".
PyError type_mismatch(PyObject* obj, const char* target);

// Adds "while processing '<name>'" to the error's notes. A failure to add
// the note is dropped in favour of the original error.
PyError with_note(PyError error, std::string_view name);

// InvalidJID with `text` as its single argument.
PyError raise_invalid_jid(std::string_view text);

// A new str holding the UTF-8 `text`.
Outcome<PyRef> make_str(std::string_view text);

// The UTF-8 form of a str (or str subclass). The view belongs to `obj` and
// is valid while `obj` is.
Outcome<std::string_view> text_from(PyObject* obj);

// ---- the modules' initialisation ------------------------------------------

// A slot function as PyType_Slot and PyModuleDef_Slot hold it.
template <class Fn>
void* slot_fn(Fn fn) noexcept {
  return reinterpret_cast<void*>(fn);
}

// What every module's exec slot checks first: `module` is a module, and the
// interpreter is the main one, since the binding's process-wide objects
// (types, interned names, the fault type) belong to it. `refusal` is the
// ImportError's text for a sub-interpreter.
Status check_module_exec(PyObject* module, const char* refusal);

// A module of multi-phase initialisation without state of its own.
inline PyModuleDef module_definition(const char* name, const char* doc, PyModuleDef_Slot* slots) {
  return PyModuleDef{PyModuleDef_HEAD_INIT, name, doc, 0, nullptr, slots, nullptr, nullptr, nullptr};
}

// Each function, bound to `module`, added to it under the function's own
// name: the private modules' whole contents, which need no __all__.
Status add_functions(PyObject* module, std::initializer_list<PyMethodDef*> defs);

// What a module's PyInit_ function returns: PyModuleDef_Init(def), the
// first call made under a lock of the module's own. CPython 3.13 marks a
// definition initialised with plain stores that the next caller reads
// unguarded, so two threads importing the module at once on a
// free-threaded build (nothing orders them there) race on the definition;
// with the lock, every later call reads what the first wrote.
PyObject* init_definition(PyModuleDef* def) noexcept;

}  // namespace quorvel::binding

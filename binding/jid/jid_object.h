// The record behind a JID instance, the borrow discipline that guards it,
// and the conversions between Python objects and address values.
#pragma once

#include <atomic>
#include <cstddef>
#include <limits>
#include <new>
#include <optional>
#include <utility>

#include "jid/address_rules.h"
#include "quorvel/jid_value.h"
#include "support/support.h"

namespace quorvel::binding {

struct JidObject {
  PyObject_HEAD
  // Absent: the empty JID, which has no address at all (not even a domain).
  std::optional<JidValue> value;
  // 0: free; 1 .. kWriter-1: that many readers; kWriter: one writer.
  std::atomic<std::size_t> borrow_flag;
};

inline JidObject* as_jid(PyObject* obj) noexcept { return reinterpret_cast<JidObject*>(obj); }

inline constexpr std::size_t kWriter = std::numeric_limits<std::size_t>::max();

// A shared (reader) hold on an instance's value for the length of a call.
class ReadBorrow {
 public:
  static std::optional<ReadBorrow> try_acquire(JidObject* obj) noexcept {
    std::size_t current = obj->borrow_flag.load(std::memory_order_relaxed);
#if defined(Py_GIL_DISABLED)
    do {
      // A writer holds it, or the reader count would run into the writer mark.
      if (current >= kWriter - 1) return std::nullopt;
    } while (!obj->borrow_flag.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                                     std::memory_order_relaxed));
#else
    if (current >= kWriter - 1) return std::nullopt;
    // With the interpreter lock held no other thread runs between the load
    // and this store, so a plain store is the atomic update, without the
    // locked read-modify-write that costs more than the rest of a getter.
    obj->borrow_flag.store(current + 1, std::memory_order_relaxed);
#endif
    return ReadBorrow(obj);
  }
  ReadBorrow(ReadBorrow&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  ReadBorrow& operator=(ReadBorrow&&) = delete;
  ~ReadBorrow() {
    if (obj_ == nullptr) return;
#if defined(Py_GIL_DISABLED)
    obj_->borrow_flag.fetch_sub(1, std::memory_order_release);
#else
    obj_->borrow_flag.store(obj_->borrow_flag.load(std::memory_order_relaxed) - 1,
                            std::memory_order_relaxed);
#endif
  }

 private:
  explicit ReadBorrow(JidObject* obj) noexcept : obj_(obj) {}
  JidObject* obj_;
};

// The exclusive (writer) hold that every change of a value is made under.
class WriteBorrow {
 public:
  static std::optional<WriteBorrow> try_acquire(JidObject* obj) noexcept {
#if defined(Py_GIL_DISABLED)
    std::size_t expected = 0;
    if (!obj->borrow_flag.compare_exchange_strong(expected, kWriter, std::memory_order_acquire,
                                                  std::memory_order_relaxed)) {
      return std::nullopt;
    }
#else
    // See ReadBorrow: the interpreter lock makes load-then-store atomic.
    if (obj->borrow_flag.load(std::memory_order_relaxed) != 0) return std::nullopt;
    obj->borrow_flag.store(kWriter, std::memory_order_relaxed);
#endif
    return WriteBorrow(obj);
  }
  WriteBorrow(WriteBorrow&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  WriteBorrow& operator=(WriteBorrow&&) = delete;
  ~WriteBorrow() {
    if (obj_ != nullptr) obj_->borrow_flag.store(0, std::memory_order_release);
  }

 private:
  explicit WriteBorrow(JidObject* obj) noexcept : obj_(obj) {}
  JidObject* obj_;
};

// The same, with the RuntimeError that a refusal raises.
Outcome<ReadBorrow> read_borrow(PyObject* obj);
Outcome<WriteBorrow> write_borrow(PyObject* obj);

// The JID type. jid_type() reports a creation failure as an error (for
// module_exec); checked_jid_type() is for every later caller, for which the
// type already exists, and treats a failure as a fault.
Outcome<PyTypeObject*> jid_type();
PyTypeObject* checked_jid_type();
// The same for quorvel.precis.JID, which shares every slot. Later callers
// read its cell through is_jid_type and profile_of below.
Outcome<PyTypeObject*> precis_jid_type();

namespace detail {
// The one-time cells of the two types (set once, by jid_type() and
// precis_jid_type()).
extern std::atomic<PyTypeObject*> jid_type_cell;
extern std::atomic<PyTypeObject*> precis_jid_type_cell;
}  // namespace detail

// Neither type can be subclassed, so a type is one of them exactly or
// neither. Read from the cells without making a type: a type not made yet
// is the type of no object, and an empty cell equals no type. Every
// construction asks profile_of, so it stays a load and a compare.
inline bool is_jid_type(PyTypeObject* type) {
  return type == detail::jid_type_cell.load(std::memory_order_acquire) ||
         type == detail::precis_jid_type_cell.load(std::memory_order_acquire);
}
inline Profile profile_of(PyTypeObject* type) {
  return type == detail::precis_jid_type_cell.load(std::memory_order_acquire)
             ? Profile::Rfc7622
             : Profile::Rfc6122;
}

// None/absent, a JID, or address text, as an optional value (absent: the
// empty JID) prepared by `profile`. With `bare`, the resource is dropped
// after validation. A JID of the same profile is copied; one of the other
// profile is prepared again from its text, by this profile's rules.
Outcome<std::optional<JidValue>> jid_value_from_object(PyObject* obj, bool bare,
                                                       Profile profile = Profile::Rfc6122);

// A new instance of exactly quorvel.jid.JID holding `value`.
Outcome<PyRef> new_jid_object(std::optional<JidValue> value);

// A new instance of `cls` (JID or a subclass) holding `value`. Inline, so
// that another module of the package that holds the JID type can make an
// instance from a value its own copy of the core prepared, without a str.
inline Outcome<PyRef> instantiate_jid(PyTypeObject* cls, std::optional<JidValue> value) {
  PyObject* obj = cls->tp_alloc(cls, 0);
  if (obj == nullptr) return PyError::fetch();  // `value` is dropped with the frame
  JidObject* jid = as_jid(obj);
  new (&jid->value) std::optional<JidValue>(std::move(value));
  new (&jid->borrow_flag) std::atomic<std::size_t>(0);
  return PyRef::steal(obj);
}

// The same for a value known to be there, without the optional on the way.
inline Outcome<PyRef> instantiate_jid(PyTypeObject* cls, JidValue&& value) {
  PyObject* obj = cls->tp_alloc(cls, 0);
  if (obj == nullptr) return PyError::fetch();
  JidObject* jid = as_jid(obj);
  new (&jid->value) std::optional<JidValue>(std::move(value));
  new (&jid->borrow_flag) std::atomic<std::size_t>(0);
  return PyRef::steal(obj);
}

// Slots of the JID type, by job.
PyObject* jid_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) noexcept;
// JID(...) without the interpreter's generic type call; see construction.cpp.
PyObject* jid_vectorcall(PyObject* cls, PyObject* const* args, std::size_t nargsf,
                         PyObject* kwnames) noexcept;
int jid_bool(PyObject* self) noexcept;
void jid_dealloc(PyObject* self) noexcept;

PyObject* jid_str(PyObject* self) noexcept;
PyObject* jid_repr(PyObject* self) noexcept;
PyObject* jid_richcompare(PyObject* self, PyObject* other, int op) noexcept;
// The type's comparison slot: JID == JID directly, the rest through
// jid_richcompare (equality.cpp).
PyObject* jid_compare(PyObject* self, PyObject* other, int op) noexcept;
Py_hash_t jid_hash(PyObject* self) noexcept;

extern PyGetSetDef jid_properties[];
extern PyMethodDef jid_methods[];
extern PyMethodDef unescape_node_def;
// _reasons(part, kind), for quorvel.profiles (compare_reasons.cpp).
extern PyMethodDef reasons_def;

}  // namespace quorvel::binding

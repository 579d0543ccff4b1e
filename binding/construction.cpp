// JID(jid=None, bare=False), the conversion it shares with comparison, the
// truth value and the release of an instance.
#include <new>

#include "arguments.h"
#include "jid_object.h"
#include "quorvel/address.h"
#include "quorvel/jid_error.h"

namespace quorvel::binding {

Outcome<ReadBorrow> read_borrow(PyObject* obj) {
  if (auto borrow = ReadBorrow::try_acquire(as_jid(obj))) return std::move(*borrow);
  return PyError::with_text(PyExc_RuntimeError, "Already mutably borrowed");
}

Outcome<WriteBorrow> write_borrow(PyObject* obj) {
  if (auto borrow = WriteBorrow::try_acquire(as_jid(obj))) return std::move(*borrow);
  return PyError::with_text(PyExc_RuntimeError, "Already borrowed");
}

Outcome<std::optional<JidValue>> jid_value_from_object(PyObject* obj, bool bare) {
  if (obj == nullptr || obj == Py_None) return std::optional<JidValue>();

  if (PyType_IsSubtype(Py_TYPE(obj), checked_jid_type())) {
    // A JID is already prepared: copy it rather than parse its text again.
    if (auto borrow = ReadBorrow::try_acquire(as_jid(obj))) {
      const std::optional<JidValue>& source = as_jid(obj)->value;
      if (!source) return std::optional<JidValue>();
      return std::optional<JidValue>(bare ? bare_copy(*source) : JidValue(*source));
    }
    // Held by a writer right now: fall through to the text conversion,
    // which refuses a JID with the usual type error.
  }

  auto text = text_from(obj);
  if (!text) return std::move(text).error();
  if (text.value().empty()) return std::optional<JidValue>();

  auto parsed = parse_address(text.value());
  if (!parsed.ok()) return raise_invalid_jid(message(parsed.error()));
  // The whole text, resource included, has been validated at this point.
  if (bare) strip_resource(parsed.value());
  return std::optional<JidValue>(std::move(parsed).value());
}

namespace {

Outcome<PyRef> instantiate(PyTypeObject* cls, std::optional<JidValue> value) {
  PyObject* obj = cls->tp_alloc(cls, 0);
  if (obj == nullptr) return PyError::fetch();  // `value` is dropped with the frame
  JidObject* jid = as_jid(obj);
  new (&jid->value) std::optional<JidValue>(std::move(value));
  new (&jid->borrow_flag) std::atomic<std::size_t>(0);
  return PyRef::steal(obj);
}

constexpr const char* kNewNames[] = {"jid", "bare"};
constexpr Signature kNewSignature{"JID.__new__()", kNewNames, 2, 0};

}  // namespace

Outcome<PyRef> new_jid_object(std::optional<JidValue> value) {
  return instantiate(checked_jid_type(), std::move(value));
}

PyObject* jid_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    PyObject* slots[2] = {nullptr, nullptr};
    if (auto bound = bind_call(kNewSignature, args, kwargs, slots); !bound) {
      return std::move(bound).error();
    }
    // `bare` is converted first, so a bad flag is reported before a bad jid.
    bool bare = false;
    if (slots[1] != nullptr) {
      auto flag = bool_from(slots[1]);
      if (!flag) return with_note(std::move(flag).error(), "bare");
      bare = flag.value();
    }
    auto value = jid_value_from_object(slots[0], bare);
    if (!value) return std::move(value).error();
    return instantiate(cls, std::move(value).value());
  });
}

int jid_bool(PyObject* self) noexcept {
  return entry_guard<int>(-1, [&]() -> Outcome<int> {
    auto borrow = read_borrow(self);
    if (!borrow) return std::move(borrow).error();
    return as_jid(self)->value.has_value() ? 1 : 0;
  });
}

void jid_dealloc(PyObject* self) noexcept {
  entry_guard_unraisable([&] {
    PyTypeObject* type = Py_TYPE(self);
    JidObject* jid = as_jid(self);
    jid->value.~optional();
    jid->borrow_flag.~atomic();
    type->tp_free(self);
    // Instances of a heap type keep their type alive.
    Py_DECREF(type);
  });
}

}  // namespace quorvel::binding

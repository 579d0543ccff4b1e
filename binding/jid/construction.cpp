// JID(jid=None, bare=False), the conversion it shares with comparison, the
// truth value and the release of an instance.
#include <cstring>
#include <new>
#include <utility>

#include "jid/jid_object.h"
#include "quorvel/address.h"
#include "quorvel/jid_error.h"
#include "support/arguments.h"

namespace quorvel::binding {

Outcome<ReadBorrow> read_borrow(PyObject* obj) {
  if (auto borrow = ReadBorrow::try_acquire(as_jid(obj))) return std::move(*borrow);
  return PyError::with_text(PyExc_RuntimeError, "Already mutably borrowed");
}

Outcome<WriteBorrow> write_borrow(PyObject* obj) {
  if (auto borrow = WriteBorrow::try_acquire(as_jid(obj))) return std::move(*borrow);
  return PyError::with_text(PyExc_RuntimeError, "Already borrowed");
}

namespace {

// The steps every way of constructing shares: an address text parsed by
// `profile` (the whole text, resource included, is validated before `bare`
// drops the resource), or a stored value copied without parsing again. The
// core's Result is handed back as it is (no wrapper to move the value
// through on the hottest call); the caller raises its error.
Result<JidValue> parse_text(std::string_view text, bool bare, Profile profile) {
  Result<JidValue> parsed = parse_with(profile, text);
  if (parsed.ok() && bare) strip_resource(parsed.value());
  return parsed;
}

PyError invalid(const Result<JidValue>& refused) {
  return raise_invalid_jid(message(refused.error()));
}

JidValue copy_of(const JidValue& source, bool bare) {
  return bare ? bare_copy(source) : JidValue(source);
}

}  // namespace

Outcome<std::optional<JidValue>> jid_value_from_object(PyObject* obj, bool bare, Profile profile) {
  if (obj == nullptr || obj == Py_None) return std::optional<JidValue>();

  // A str is never a JID, so text, the usual argument, is tested first.
  if (!PyUnicode_Check(obj) && is_jid_type(Py_TYPE(obj))) {
    // A JID is already prepared: copy it rather than parse its text again,
    // unless another profile prepared it.
    auto borrow = read_borrow(obj);
    // Held by a writer right now (another thread's assignment, as only a
    // free-threaded interpreter lets happen): the conflict's RuntimeError,
    // as every other read of a JID being written raises it.
    if (!borrow) return std::move(borrow).error();
    const std::optional<JidValue>& source = as_jid(obj)->value;
    if (!source) return std::optional<JidValue>();
    // A JID of the other profile is prepared again, by this one's rules.
    if (profile_of(Py_TYPE(obj)) != profile) {
      Result<JidValue> again = parse_text(source->text(), bare, profile);
      if (!again.ok()) return invalid(again);
      return std::optional<JidValue>(std::move(again).value());
    }
    return std::optional<JidValue>(copy_of(*source, bare));
  }

  auto text = text_from(obj);
  if (!text) return std::move(text).error();
  if (text.value().empty()) return std::optional<JidValue>();

  Result<JidValue> parsed = parse_text(text.value(), bare, profile);
  if (!parsed.ok()) return invalid(parsed);
  return std::optional<JidValue>(std::move(parsed).value());
}

namespace {

constexpr const char* kNewNames[] = {"jid", "bare"};
constexpr Signature kNewSignature{"JID.__new__()", kNewNames, 2, 0};

}  // namespace

Outcome<PyRef> new_jid_object(std::optional<JidValue> value) {
  return instantiate_jid(checked_jid_type(), std::move(value));
}

namespace {

// Everything after binding, shared by both ways of calling the type.
Outcome<PyRef> construct(PyTypeObject* cls, PyObject* const* slots) {
  // `bare` is converted first, so a bad flag is reported before a bad jid.
  bool bare = false;
  if (slots[1] != nullptr) {
    auto flag = bool_from(slots[1]);
    if (!flag) return with_note(std::move(flag).error(), "bare");
    bare = flag.value();
  }
  auto value = jid_value_from_object(slots[0], bare, profile_of(cls));
  if (!value) return std::move(value).error();
  return instantiate_jid(cls, std::move(value).value());
}

// The generic type call with the arguments packed as it wants them.
Outcome<PyRef> call_through_type(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
  PyRef tuple = PyRef::steal(PyTuple_New(nargs));
  if (!tuple) return PyError::fetch();
  for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(tuple.get(), i, Py_NewRef(args[i]));
  PyRef kwargs;
  if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0) {
    kwargs = PyRef::steal(PyDict_New());
    if (!kwargs) return PyError::fetch();
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i) {
      if (PyDict_SetItem(kwargs.get(), PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0) {
        return PyError::fetch();
      }
    }
  }
  PyRef result = PyRef::steal(PyType_Type.tp_call(cls, tuple.get(), kwargs.get()));
  if (!result) return PyError::fetch();
  return result;
}

}  // namespace

PyObject* jid_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    PyObject* slots[2] = {nullptr, nullptr};
    if (auto bound = bind_call(kNewSignature, args, kwargs, slots); !bound) {
      return std::move(bound).error();
    }
    return construct(cls, slots);
  });
}

// The type's vectorcall entry point: JID(...) comes here instead of going
// through the interpreter's type call, which packs the arguments into a
// tuple and a dict, calls tp_new, then the inherited object.__init__ (which
// does nothing for a type with its own __new__). The result, the errors and
// their order are those of that route: the same binding, the same
// conversions. Should __new__ or __init__ ever be replaced on the type, the
// call goes the generic way so that the replacement runs.
namespace {

// A new instance for the common calls, or absent when the general route
// has to decide (flags that are not exact bools, subclasses of str, a JID
// held by a writer). Everything it returns is what the general route
// returns for the same call: the same value, or the same exception (a str
// without UTF-8 form, an invalid address).
std::optional<Outcome<PyRef>> construct_common(PyTypeObject* type, PyObject* arg, bool bare) {
  if (PyUnicode_CheckExact(arg)) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(arg, &size);
    if (utf8 == nullptr) return Outcome<PyRef>(PyError::fetch());
    if (size == 0) return instantiate_jid(type, std::nullopt);
    const std::string_view text(utf8, static_cast<std::size_t>(size));
    Result<JidValue> parsed = parse_text(text, bare, profile_of(type));
    if (!parsed.ok()) return Outcome<PyRef>(invalid(parsed));
    return instantiate_jid(type, std::move(parsed).value());
  }
  if (Py_TYPE(arg) == type) {
    auto borrow = ReadBorrow::try_acquire(as_jid(arg));
    if (!borrow) return std::nullopt;
    const std::optional<JidValue>& source = as_jid(arg)->value;
    if (!source) return instantiate_jid(type, std::nullopt);
    return instantiate_jid(type, copy_of(*source, bare));
  }
  return std::nullopt;
}

// JID(x), JID(x, flag) and JID(x, bare=flag) with an exact bool: the
// argument to bind is plain, so binding by the general rules is skipped.
// Absent: some other call.
std::optional<std::pair<PyObject*, bool>> common_arguments(PyObject* const* args, Py_ssize_t nargs,
                                                           PyObject* kwnames) {
  if (kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0) {
    if (nargs == 1) return std::pair{args[0], false};
    if (nargs == 2 && PyBool_Check(args[1])) return std::pair{args[0], args[1] == Py_True};
    return std::nullopt;
  }
  if (nargs != 1 || PyTuple_GET_SIZE(kwnames) != 1 || !PyBool_Check(args[1])) return std::nullopt;
  PyObject* key = PyTuple_GET_ITEM(kwnames, 0);
  // Keyword names reach a call interned, as exact ASCII strs.
  if (!PyUnicode_CheckExact(key) || !PyUnicode_IS_ASCII(key) || PyUnicode_GET_LENGTH(key) != 4 ||
      std::memcmp(PyUnicode_DATA(key), "bare", 4) != 0) {
    return std::nullopt;
  }
  return std::pair{args[0], args[1] == Py_True};
}

}  // namespace

PyObject* jid_vectorcall(PyObject* cls, PyObject* const* args, std::size_t nargsf,
                         PyObject* kwnames) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    PyTypeObject* type = reinterpret_cast<PyTypeObject*>(cls);
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const bool own_constructor =
        type->tp_new == jid_new && type->tp_init == PyBaseObject_Type.tp_init;
    if (own_constructor) {
      if (auto call = common_arguments(args, nargs, kwnames)) {
        if (auto made = construct_common(type, call->first, call->second)) return std::move(*made);
      }
    }
    if (!own_constructor) {
      return call_through_type(cls, args, nargs, kwnames);
    }
    PyObject* slots[2] = {nullptr, nullptr};
    if (auto bound = bind_vectorcall(kNewSignature, args, nargs, kwnames, slots); !bound) {
      return std::move(bound).error();
    }
    return construct(type, slots);
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

// Comparison, hashing, repr and the pickle state of a JID.
#include <algorithm>
#include <cstring>
#include <string>

#include "jid/jid_object.h"
#include "quorvel/address.h"
#include "quorvel/jid_error.h"
#include "support/arguments.h"

namespace quorvel::binding {
namespace {

bool same_address(const std::optional<JidValue>& a, const std::optional<JidValue>& b) {
  if (!a || !b) return !a && !b;
  // JidValue's equality compares the lengths before any byte.
  return *a == *b;
}

PyRef new_bool(bool value) { return PyRef::steal(PyBool_FromLong(value ? 1 : 0)); }

bool holds_capital(std::string_view s) noexcept {
  return std::any_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// True when `text` (a str) is byte for byte the ASCII text of `self` and
// parsing it can only give back this value; absent when only the full
// conversion can tell.
//
// An ASCII address whose localpart and domain hold no capital parses back to
// itself: Table B.1 holds no ASCII, the only ASCII entries of Table B.2 are
// the capitals, NFKC leaves ASCII alone, and the stored parts already passed
// every check; no stored localpart or domain holds "@" or "/", so the text
// splits where the value does. A capital there is never an input's capital
// (those are folded on the way in) but one that normalisation produced from a
// character newer than the case-folding table (U+2C7D gives "V"): parsing
// the text folds it, so the text is another address. Bracketed IPv6 literals,
// stored with their capitals, take the full conversion too. Under RFC 7622
// the same holds: such ASCII is its own preparation in both profiles and as
// a domain, and no stored domain holds an "xn--" label (it keeps U-labels).
std::optional<bool> equals_own_ascii_text(PyObject* self, PyObject* text) {
  if (!PyUnicode_IS_ASCII(text)) return std::nullopt;
  auto borrow = ReadBorrow::try_acquire(as_jid(self));
  if (!borrow) return std::nullopt;
  const std::optional<JidValue>& value = as_jid(self)->value;
  if (!value) return std::nullopt;
  const std::string_view own = value->text();
  const auto size = static_cast<std::size_t>(PyUnicode_GET_LENGTH(text));
  if (size != own.size() || std::memcmp(PyUnicode_DATA(text), own.data(), size) != 0) {
    return std::nullopt;
  }
  if (holds_capital(bare_text(*value))) return std::nullopt;
  return true;
}

}  // namespace

PyObject* jid_richcompare(PyObject* self, PyObject* other, int op) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (op < Py_LT || op > Py_GE) return PyRef::borrow(Py_NotImplemented);

    // JID == JID, the comparison dictionaries and sets make: both values
    // are read directly. A refused borrow takes the general path below,
    // which reports it.
    if (Py_TYPE(other) == Py_TYPE(self) && (op == Py_EQ || op == Py_NE)) {
      auto mine = ReadBorrow::try_acquire(as_jid(self));
      auto theirs = mine ? ReadBorrow::try_acquire(as_jid(other)) : std::nullopt;
      if (mine && theirs) {
        const bool equal = same_address(as_jid(self)->value, as_jid(other)->value);
        return PyRef::borrow((op == Py_EQ) == equal ? Py_True : Py_False);
      }
    }

    // Comparing with the very text of this address (the usual case for a
    // str operand) needs no parse when that text is ASCII without capitals
    // before the resource: see equals_own_ascii_text.
    if ((op == Py_EQ || op == Py_NE) && PyUnicode_Check(other)) {
      if (auto equal = equals_own_ascii_text(self, other)) return new_bool(op == Py_EQ ? *equal : !*equal);
    }

    // The other operand is turned into an address before the operator is
    // looked at: an operand that is no address at all is simply unequal.
    // So `!=` is True and every other operator False, the ordering ones
    // included: `!=` stays the negation of `==`, or a check such as
    // `if sender != admin: refuse()` would let anyone through whenever the
    // configured text has a typo.
    PyRef temporary;
    PyObject* rhs = other;
    // The exact type first: JID cannot be subclassed, so that is the usual
    // way for the other operand to be one. A JID of the other profile is
    // compared by its normalised text, as it is (the hash is that text's).
    if (Py_TYPE(other) != Py_TYPE(self) && !is_jid_type(Py_TYPE(other))) {
      std::optional<JidValue> value;
      if (other != Py_None) {
        auto converted = jid_value_from_object(other, false, profile_of(Py_TYPE(self)));
        if (!converted) return new_bool(op == Py_NE);  // the conversion error is dropped
        value = std::move(converted).value();
      }
      auto made = instantiate_jid(Py_TYPE(self), std::move(value));
      if (!made) return std::move(made).error();
      temporary = std::move(made).value();
      rhs = temporary.get();
    }

    auto mine = read_borrow(self);
    if (!mine) return std::move(mine).error();
    auto theirs = read_borrow(rhs);
    if (!theirs) return std::move(theirs).error();

    if (op != Py_EQ && op != Py_NE) {
      return PyError::with_text(PyExc_NotImplementedError, "Only == and != are implemented");
    }
    const bool equal = same_address(as_jid(self)->value, as_jid(rhs)->value);
    return new_bool(op == Py_EQ ? equal : !equal);
  });
}

Py_hash_t jid_hash(PyObject* self) noexcept {
  return entry_guard<Py_hash_t>(-1, [&]() -> Outcome<Py_hash_t> {
    auto borrow = read_borrow(self);
    if (!borrow) return std::move(borrow).error();
    const std::optional<JidValue>& value = as_jid(self)->value;
    // 0 is also the hash of "", which an empty JID is equal to.
    if (!value) return Py_hash_t{0};
    auto text = make_str(value->text());
    if (!text) return std::move(text).error();
    const Py_hash_t hash = PyObject_Hash(text.value().get());
    if (hash == -1) return PyError::fetch();
    return hash;
  });
}

PyObject* jid_repr(PyObject* self) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    auto borrow = read_borrow(self);
    if (!borrow) return std::move(borrow).error();
    const std::optional<JidValue>& value = as_jid(self)->value;
    // quorvel.precis.JID says so, as the two compare by text.
    const std::string_view name =
        profile_of(Py_TYPE(self)) == Profile::Rfc7622 ? "precis.JID" : "JID";
    if (!value) return make_str(std::string(name) + "()");
    // The text goes between the quotes as it is, without escaping.
    std::string repr;
    repr.reserve(value->text().size() + name.size() + 4);
    repr += name;
    repr += "('";
    repr += value->text();
    repr += "')";
    return make_str(repr);
  });
}

namespace {

PyObject* jid_getstate(PyObject* self, PyObject*) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    auto borrow = read_borrow(self);
    if (!borrow) return std::move(borrow).error();
    const std::optional<JidValue>& value = as_jid(self)->value;
    if (!value) return PyRef::borrow(Py_None);
    return make_str(value->text());
  });
}

constexpr const char* kSetstateNames[] = {"state"};
constexpr Signature kSetstateSignature{"JID.__setstate__()", kSetstateNames, 1, 1};

PyObject* jid_setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    PyObject* state = nullptr;
    if (auto bound = bind_vectorcall(kSetstateSignature, args, nargs, kwnames, &state); !bound) {
      return std::move(bound).error();
    }
    if (state == Py_None) {
      auto borrow = write_borrow(self);
      if (!borrow) return std::move(borrow).error();
      as_jid(self)->value.reset();
      return PyRef::borrow(Py_None);
    }

    // No note here: the state is not something a user names.
    auto text = text_from(state);
    if (!text) return std::move(text).error();

    std::optional<JidError> refused;
    {
      auto borrow = write_borrow(self);
      if (!borrow) return std::move(borrow).error();
      auto parsed = parse_with(profile_of(Py_TYPE(self)), text.value());
      if (parsed.ok()) {
        as_jid(self)->value = std::move(parsed).value();
      } else {
        refused = parsed.error();
      }
    }
    // __getstate__ never produces text that does not parse; such a state is
    // refused like any other invalid address, and the object keeps its value.
    if (refused) return raise_invalid_jid(message(*refused));
    return PyRef::borrow(Py_None);
  });
}

// copy.copy and copy.deepcopy: a new JID holding the same stored value.
// The default route (an empty JID, then __setstate__ with the text) would
// prepare the text again, and a part whose preparation is not stable (a
// character normalisation turns into a capital that case folding then
// maps) would come back as another address. A value is immutable text, so
// the deep copy shares nothing the shallow one does not.
Outcome<PyRef> copy_of(PyObject* self) {
  std::optional<JidValue> value;
  {
    auto borrow = read_borrow(self);
    if (!borrow) return std::move(borrow).error();
    value = as_jid(self)->value;
  }
  return instantiate_jid(Py_TYPE(self), std::move(value));
}

PyObject* jid_copy(PyObject* self, PyObject*) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> { return copy_of(self); });
}

PyObject* jid_deepcopy(PyObject* self, PyObject*) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> { return copy_of(self); });
}

}  // namespace

PyMethodDef jid_methods[] = {
    {"__copy__", jid_copy, METH_NOARGS, "__copy__($self, /)\n--\n\n"},
    {"__deepcopy__", jid_deepcopy, METH_O, "__deepcopy__($self, memo, /)\n--\n\n"},
    {"__getstate__", jid_getstate, METH_NOARGS, "__getstate__($self)\n--\n\n"},
    {"__setstate__", as_cfunction(jid_setstate), METH_FASTCALL | METH_KEYWORDS,
     "__setstate__($self, state)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quorvel::binding

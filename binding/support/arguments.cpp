#include "support/arguments.h"

#include <string>
#include <string_view>

namespace quorvel::binding {
namespace {

PyError type_error(const std::string& text) { return PyError::with_text(PyExc_TypeError, text); }

PyError too_many_positional(const Signature& sig, Py_ssize_t given) {
  std::string text = sig.display;
  if (sig.required == sig.count) {
    text += " takes " + std::to_string(sig.count);
  } else {
    text += " takes from " + std::to_string(sig.required) + " to " + std::to_string(sig.count);
  }
  // "argument" alone only for exactly one, as the interpreter words it.
  text += sig.count == 1 && sig.required == 1 ? " positional argument but " : " positional arguments but ";
  text += std::to_string(given) + (given == 1 ? " was" : " were") + " given";
  return type_error(text);
}

PyError missing_required(const Signature& sig, PyObject* const* slots) {
  std::string list;
  int missing = 0;
  for (int i = 0; i < sig.required; ++i) {
    if (slots[i] == nullptr) ++missing;
  }
  int listed = 0;
  for (int i = 0; i < sig.required; ++i) {
    if (slots[i] != nullptr) continue;
    if (listed > 0) {
      if (listed == missing - 1) {
        list += missing == 2 ? " and " : ", and ";
      } else {
        list += ", ";
      }
    }
    list += '\'';
    list += sig.names[i];
    list += '\'';
    ++listed;
  }
  return type_error(std::string(sig.display) + " missing " + std::to_string(missing) +
                    (missing == 1 ? " required positional argument: "
                                  : " required positional arguments: ") +
                    list);
}

// Matches one keyword argument to its parameter.
Status bind_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** slots) {
  if (!PyUnicode_Check(key)) return type_error(std::string(sig.display) + " keywords must be strings");
  // The names are ASCII, so a key matches only when it is ASCII too, and
  // then comparing its bytes is comparing code points.
  const bool ascii = PyUnicode_IS_ASCII(key);
  const std::string_view key_text =
      ascii ? std::string_view(reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(key)),
                               static_cast<std::size_t>(PyUnicode_GET_LENGTH(key)))
            : std::string_view();
  for (int i = 0; i < sig.count; ++i) {
    if (!ascii || key_text != sig.names[i]) continue;
    if (slots[i] != nullptr) {
      return type_error(std::string(sig.display) + " got multiple values for argument '" +
                        sig.names[i] + "'");
    }
    slots[i] = value;
    return Done{};
  }
  PyObject* text = PyUnicode_FromFormat("%s got an unexpected keyword argument '%U'", sig.display, key);
  if (text == nullptr) return PyError::fetch();
  return PyError::lazy(PyExc_TypeError, PyRef::steal(text));
}

Status check_required(const Signature& sig, PyObject* const* slots) {
  for (int i = 0; i < sig.required; ++i) {
    if (slots[i] == nullptr) return missing_required(sig, slots);
  }
  return Done{};
}

}  // namespace

Status bind_call(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots) {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (nargs > sig.count) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GET_ITEM(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (auto bound = bind_keyword(sig, key, value, slots); !bound) return bound;
    }
  }
  return check_required(sig, slots);
}

Status bind_vectorcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames, PyObject** slots) {
  if (nargs > sig.count) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < nkw; ++i) {
      if (auto bound = bind_keyword(sig, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], slots); !bound) {
        return bound;
      }
    }
  }
  return check_required(sig, slots);
}

namespace {

// numpy's boolean scalar type is "numpy.bool_" (numpy 1) or "numpy.bool"
// (numpy 2). It is recognised by name so that numpy need not be imported.
bool is_numpy_bool_type(PyTypeObject* type) {
  auto module_name = interned(Name::Module);
  if (!module_name) return false;
  PyRef module = PyRef::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), module_name.value()));
  if (!module || !PyUnicode_Check(module.get()) ||
      PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
    PyErr_Clear();
    return false;
  }
  PyRef name = PyRef::steal(PyType_GetName(type));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
         PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

}  // namespace

Outcome<bool> bool_from(PyObject* obj) {
  if (PyBool_Check(obj)) return obj == Py_True;
  PyTypeObject* type = Py_TYPE(obj);
  if (is_numpy_bool_type(type)) {
    if (auto nb_bool = reinterpret_cast<inquiry>(PyType_GetSlot(type, Py_nb_bool))) {
      switch (nb_bool(obj)) {
        case 0:
          return false;
        case 1:
          return true;
        default:
          return PyError::fetch();
      }
    }
    PyErr_Clear();
  }
  return type_mismatch(obj, "bool");
}

}  // namespace quorvel::binding

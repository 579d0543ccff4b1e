// Binding call arguments to parameters, and converting Python objects to the
// plain values the address core works on.
#pragma once

#include <string_view>

#include "support/support.h"

namespace quorvel::binding {

// The parameters of one entry point: all positional-or-keyword, the first
// `required` of them required.
struct Signature {
  const char* display;       // "JID.__new__()", "unescape_node()"
  const char* const* names;  // parameter names, ASCII
  int count;
  int required;
};

// Each binder fills `slots[i]` with the borrowed argument for parameter i,
// or null when it was not given.
Status bind_call(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots);
Status bind_vectorcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames, PyObject** slots);


// True/False, or numpy's boolean scalars; anything else is a TypeError.
Outcome<bool> bool_from(PyObject* obj);

}  // namespace quorvel::binding

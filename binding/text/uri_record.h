// The record behind quorvel.uri.XmppUri: four object slots in a native
// type that quorvel.uri turns into the frozen dataclass with the dataclass
// decorator, so that the URIs parse returns are made and freed without the
// generic machinery of a class statement's instances (their deallocation
// alone cost as much as reading the URI).
//
//   UriRecord:  [ object header | jid | action | params | authority ]
//
// Each slot is an attribute of the type, writable as a slots class's are:
// the dataclass's __init__ sets them with object.__setattr__, and its
// __setattr__ refuses everyone else.
#pragma once

#include "support/support.h"

namespace quorvel::binding::text {

struct UriRecord {
  PyObject_HEAD
  PyObject* jid;
  PyObject* action;
  PyObject* params;
  PyObject* authority;
};

// Whether `type` is a record type that uri_record() made (and so has this
// layout and deallocation), not a subclass of one.
bool is_uri_record_type(PyTypeObject* type) noexcept;

// A new instance of the record type `type` holding the four values.
Outcome<PyRef> new_uri_record(PyTypeObject* type, PyRef jid, PyRef action, PyRef params, PyRef authority);

// uri_record(): a new record type, named quorvel.uri.XmppUri.
extern PyMethodDef uri_record_def;

}  // namespace quorvel::binding::text

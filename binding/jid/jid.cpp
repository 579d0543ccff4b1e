// The module quorvel.jid: its definition, module_exec, and the registration
// of the JID and InvalidJID types.
//
// Both types exist once per process: every module object made from the
// definition (a re-import after removal from sys.modules, say) receives the
// very same two type objects, which are never freed.
#include <atomic>

#include "jid/jid_object.h"
#include "support/support.h"

namespace quorvel::binding {
namespace {

constexpr const char kJidDoc[] =
    "JID(jid=None, bare=False)\n--\n\n"
    "A representation of a Jabber ID, or JID.\n\n"
    "Each JID may have three components: a user, a domain, and an optional resource. For example:\n"
    "user@domain/resource\n\n"
    "When a resource is not used, the JID is called a bare JID. The JID is a full JID otherwise.\n\n"
    "Raises InvalidJID if the parser rejects it.";

constexpr const char kPrecisJidDoc[] =
    "JID(jid=None, bare=False)\n--\n\n"
    "A Jabber ID prepared as RFC 7622 says: the localpart with the PRECIS UsernameCaseMapped "
    "profile, the resource with OpaqueString, the domain as an IDNA2008 name (stored as "
    "U-labels).\n\n"
    "The interface is that of quorvel.jid.JID. Raises InvalidJID if the parser rejects it.";

// The types' slots. They, and the tables they point to, must outlive the
// types, which live for the rest of the process. The two differ in their
// documentation only; the slots ask the type for its profile.
#define QUORVEL_JID_SLOTS(doc)                          \
  {Py_tp_doc, const_cast<char*>(doc)},                  \
  {Py_tp_new, slot_fn(jid_new)},                        \
  {Py_nb_bool, slot_fn(jid_bool)},                      \
  {Py_tp_str, slot_fn(jid_str)},                        \
  {Py_tp_repr, slot_fn(jid_repr)},                      \
  {Py_tp_richcompare, slot_fn(jid_compare)},            \
  {Py_tp_hash, slot_fn(jid_hash)},                      \
  {Py_tp_methods, jid_methods},                         \
  {Py_tp_getset, jid_properties},                       \
  {Py_tp_base, &PyBaseObject_Type},                     \
  {Py_tp_dealloc, slot_fn(jid_dealloc)},                \
  {0, nullptr}

PyType_Slot jid_slots[] = {QUORVEL_JID_SLOTS(kJidDoc)};
PyType_Slot precis_jid_slots[] = {QUORVEL_JID_SLOTS(kPrecisJidDoc)};
#undef QUORVEL_JID_SLOTS

// No BASETYPE (not subclassable), no HAVE_GC (instances hold no references
// to Python objects), no IMMUTABLETYPE.
PyType_Spec jid_spec = {
    "quorvel.jid.JID",
    static_cast<int>(sizeof(JidObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    jid_slots,
};
// Made by quorvel.jid too, so that both share one InvalidJID and one copy
// of the binding; quorvel.precis only gives it its public name.
PyType_Spec precis_jid_spec = {
    "quorvel.precis.JID",
    static_cast<int>(sizeof(JidObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    precis_jid_slots,
};

}  // namespace

namespace detail {
std::atomic<PyTypeObject*> jid_type_cell{nullptr};
std::atomic<PyTypeObject*> precis_jid_type_cell{nullptr};
}  // namespace detail

namespace {

using detail::jid_type_cell;
using detail::precis_jid_type_cell;

PyError type_creation_failed() {
  PyRef cause = std::move(PyError::fetch()).into_exception();
  // The message names the class as users know it, whichever failed.
  auto message = make_str("An error occurred while initializing class JID");
  if (!message) return std::move(message).error();
  PyRef error = PyRef::steal(PyObject_CallOneArg(PyExc_RuntimeError, message.value().get()));
  if (!error) return PyError::fetch();
  PyException_SetContext(error.get(), PyRef::borrow(cause.get()).release());
  PyException_SetCause(error.get(), cause.release());
  return PyError::from_exception(std::move(error));
}

}  // namespace

namespace {

Outcome<PyTypeObject*> type_from(PyType_Spec& spec, std::atomic<PyTypeObject*>& cell) {
  if (PyTypeObject* type = cell.load(std::memory_order_acquire)) return type;
  // Two threads may both find the cell empty: with the interpreter lock
  // only if building gave the lock up, and on a free-threaded interpreter
  // at any time. Both build; the exchange below keeps the first type
  // stored and the other thread drops its own, so every caller sees one
  // type and no instance of the dropped one is ever made.
  PyObject* made = PyType_FromSpec(&spec);
  if (made == nullptr) return type_creation_failed();
  // Type specs have no slot for it before Python 3.14.
  reinterpret_cast<PyTypeObject*>(made)->tp_vectorcall = jid_vectorcall;
  PyTypeObject* expected = nullptr;
  if (!cell.compare_exchange_strong(expected, reinterpret_cast<PyTypeObject*>(made),
                                    std::memory_order_acq_rel)) {
    Py_DECREF(made);  // someone else's type is already in use
    return expected;
  }
  return reinterpret_cast<PyTypeObject*>(made);
}

PyTypeObject* checked_type(PyType_Spec& spec, std::atomic<PyTypeObject*>& cell) {
  if (PyTypeObject* type = cell.load(std::memory_order_acquire)) return type;
  auto type = type_from(spec, cell);
  if (type) return type.value();
  std::move(type).error().restore();
  PyErr_WriteUnraisable(nullptr);
  throw Fault("failed to create type object for `JID`");
}

}  // namespace

Outcome<PyTypeObject*> jid_type() { return type_from(jid_spec, jid_type_cell); }
PyTypeObject* checked_jid_type() { return checked_type(jid_spec, jid_type_cell); }
Outcome<PyTypeObject*> precis_jid_type() { return type_from(precis_jid_spec, precis_jid_type_cell); }

namespace {

// Adds `value` to the module under `name`, and `name` to its __all__.
Status add_to_module(PyObject* module, PyObject* name, PyObject* value) {
  auto all_name = interned(Name::All);
  if (!all_name) return std::move(all_name).error();
  PyRef all = PyRef::steal(PyObject_GetAttr(module, all_name.value()));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return PyError::fetch();
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all) return PyError::fetch();
    if (PyObject_SetAttr(module, all_name.value(), all.get()) < 0) return PyError::fetch();
  }
  if (!PyList_Check(all.get())) return type_mismatch(all.get(), "list");
  if (PyList_Append(all.get(), name) < 0) {
    PyErr_Clear();
    throw Fault("could not append __name__ to __all__");
  }
  if (PyObject_SetAttr(module, name, value) < 0) return PyError::fetch();
  return Done{};
}

int module_exec(PyObject* module) noexcept {
  return entry_guard<int>(-1, [&]() -> Outcome<int> {
    if (auto checked = check_module_exec(
            module, "quorvel.jid cannot be imported in a sub-interpreter: its types are shared by "
                    "the whole process and belong to the main interpreter");
        !checked) {
      return std::move(checked).error();
    }

    auto type = jid_type();
    if (!type) return std::move(type).error();
    auto jid_name = make_str("JID");
    if (!jid_name) return std::move(jid_name).error();
    if (auto added = add_to_module(module, jid_name.value().get(), reinterpret_cast<PyObject*>(type.value()));
        !added) {
      return std::move(added).error();
    }

    // quorvel.precis.JID, under a private name: quorvel.precis exports it.
    auto precis = precis_jid_type();
    if (!precis) return std::move(precis).error();
    if (PyModule_AddObjectRef(module, "_PrecisJID", reinterpret_cast<PyObject*>(precis.value())) < 0) {
      return PyError::fetch();
    }

    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return PyError::fetch();
    PyRef function = PyRef::steal(PyCMethod_New(&unescape_node_def, module, module_name.get(), nullptr));
    if (!function) return PyError::fetch();
    auto dunder_name = interned(Name::DunderName);
    if (!dunder_name) return std::move(dunder_name).error();
    PyRef function_name = PyRef::steal(PyObject_GetAttr(function.get(), dunder_name.value()));
    if (!function_name) return PyError::fetch();
    if (!PyUnicode_Check(function_name.get())) return type_mismatch(function_name.get(), "str");
    if (auto added = add_to_module(module, function_name.get(), function.get()); !added) {
      return std::move(added).error();
    }

    PyRef reasons = PyRef::steal(PyCMethod_New(&reasons_def, module, module_name.get(), nullptr));
    if (!reasons) return PyError::fetch();
    if (PyModule_AddObjectRef(module, "_reasons", reasons.get()) < 0) return PyError::fetch();

    PyObject* invalid_jid = invalid_jid_type();
    PyRef invalid_jid_name = PyRef::steal(PyType_GetName(reinterpret_cast<PyTypeObject*>(invalid_jid)));
    if (!invalid_jid_name) return PyError::fetch();
    if (auto added = add_to_module(module, invalid_jid_name.get(), invalid_jid); !added) {
      return std::move(added).error();
    }
    return 0;
  });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, slot_fn(module_exec)},
#ifdef Py_mod_gil
    // Safe to run without the GIL: see "Free-threaded interpreters" in the
    // README for what guards each shared object (3.12 has no such slot).
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = module_definition("jid", "", module_slots);

}  // namespace
}  // namespace quorvel::binding

PyMODINIT_FUNC PyInit_jid() {
  return quorvel::binding::init_definition(&quorvel::binding::module_def);
}

// The module quorvel._text: its definition and module_exec (multi-phase
// initialisation, like quorvel.jid). Private to the package's Python
// modules, so it has no __all__ and no documentation of its own. It holds
// no state of its own: escape_node looks InvalidJID up when it needs it, and each
// parser uri_parser makes is bound to what it uses.
#include <utility>

#include "text.h"

namespace quorvel::binding::text {
namespace {

template <class Fn>
void* slot_fn(Fn fn) {
  return reinterpret_cast<void*>(fn);
}

int module_exec(PyObject* module) noexcept {
  return entry_guard<int>(-1, [&]() -> Outcome<int> {
    if (!PyModule_Check(module)) return type_mismatch(module, "module");
    // The binding support's process-wide objects (interned names, the fault
    // type) belong to the main interpreter, as in quorvel.jid.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
      return PyError::with_text(
          PyExc_ImportError,
          "quorvel._text cannot be imported in a sub-interpreter: the objects it shares with the "
          "whole process belong to the main interpreter");
    }
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return PyError::fetch();
    for (auto& [name, def] : {std::pair{"escape_node", &escape_node_def},
                              std::pair{"uri_parser", &uri_parser_def}}) {
      PyRef function = PyRef::steal(PyCMethod_New(def, module, module_name.get(), nullptr));
      if (!function || PyModule_AddObjectRef(module, name, function.get()) < 0) {
        return PyError::fetch();
      }
    }
    return 0;
  });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, slot_fn(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_text",
    "Native helpers of quorvel.escape_node and quorvel.uri (internal).",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace quorvel::binding::text

PyMODINIT_FUNC PyInit__text() { return PyModuleDef_Init(&quorvel::binding::text::module_def); }

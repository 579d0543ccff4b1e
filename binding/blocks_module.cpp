// The module quorvel._blocks: its definition and module_exec (multi-phase
// initialisation, like quorvel.jid). Private to the command-line tool, so it
// has no __all__ and no documentation of its own.
//
// The Groups type exists once per process, as quorvel.jid's types do, and
// for the same reason the module refuses sub-interpreters.
#include "blocks.h"

namespace quorvel::binding::blocks {
namespace {

template <class Fn>
void* slot_fn(Fn fn) {
  return reinterpret_cast<void*>(fn);
}

int module_exec(PyObject* module) noexcept {
  return entry_guard<int>(-1, [&]() -> Outcome<int> {
    if (!PyModule_Check(module)) return type_mismatch(module, "module");
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
      return PyError::with_text(
          PyExc_ImportError,
          "quorvel._blocks cannot be imported in a sub-interpreter: its types are shared by the "
          "whole process and belong to the main interpreter");
    }

    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return PyError::fetch();
    PyRef function = PyRef::steal(PyCMethod_New(&normalise_block_def, module, module_name.get(), nullptr));
    if (!function || PyModule_AddObjectRef(module, "normalise_block", function.get()) < 0) {
      return PyError::fetch();
    }
    auto groups = groups_type();
    if (!groups) return std::move(groups).error();
    if (PyModule_AddObjectRef(module, "Groups", reinterpret_cast<PyObject*>(groups.value())) < 0) {
      return PyError::fetch();
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
    "_blocks",
    "The command-line tool's native helpers (internal).",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace quorvel::binding::blocks

PyMODINIT_FUNC PyInit__blocks() { return PyModuleDef_Init(&quorvel::binding::blocks::module_def); }

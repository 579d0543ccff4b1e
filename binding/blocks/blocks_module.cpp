// The module quorvel._blocks: its definition and module_exec (multi-phase
// initialisation, like quorvel.jid). Private to the command-line tool, so it
// has no __all__ and no documentation of its own.
//
// The Groups type exists once per process, as quorvel.jid's types do, and
// for the same reason the module refuses sub-interpreters.
#include "blocks/blocks.h"

namespace quorvel::binding::blocks {
namespace {

int module_exec(PyObject* module) noexcept {
  return entry_guard<int>(-1, [&]() -> Outcome<int> {
    if (auto checked = check_module_exec(
            module, "quorvel._blocks cannot be imported in a sub-interpreter: its types are shared "
                    "by the whole process and belong to the main interpreter");
        !checked) {
      return std::move(checked).error();
    }
    if (auto added = add_functions(module, {&normalise_block_def, &differing_block_def}); !added) {
      return std::move(added).error();
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
#ifdef Py_mod_gil
    // Safe to run without the GIL: see "Free-threaded interpreters" in the
    // README for what guards each shared object (3.12 has no such slot).
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = module_definition("_blocks", "The command-line tool's native helpers (internal).", module_slots);

}  // namespace
}  // namespace quorvel::binding::blocks

PyMODINIT_FUNC PyInit__blocks() {
  return quorvel::binding::init_definition(&quorvel::binding::blocks::module_def);
}

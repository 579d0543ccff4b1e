// The module quorvel._text: its definition and module_exec (multi-phase
// initialisation, like quorvel.jid). Private to the package's Python
// modules, so it has no __all__ and no documentation of its own. It holds
// no state of its own: escape_node looks InvalidJID up when it needs it, each
// record type uri_record makes is quorvel.uri's to keep, and each parser
// uri_parser makes is bound to what it uses.
#include <utility>

#include "text/text.h"
#include "text/uri_record.h"

namespace quorvel::binding::text {
namespace {

int module_exec(PyObject* module) noexcept {
  return entry_guard<int>(-1, [&]() -> Outcome<int> {
    // The binding support's process-wide objects (interned names, the fault
    // type) belong to the main interpreter, as in quorvel.jid.
    if (auto checked = check_module_exec(
            module, "quorvel._text cannot be imported in a sub-interpreter: the objects it shares "
                    "with the whole process belong to the main interpreter");
        !checked) {
      return std::move(checked).error();
    }
    if (auto added = add_functions(module, {&escape_node_def, &uri_record_def, &uri_parser_def}); !added) {
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

PyModuleDef module_def = module_definition("_text", "Native helpers of quorvel.escape_node and quorvel.uri (internal).", module_slots);

}  // namespace
}  // namespace quorvel::binding::text

PyMODINIT_FUNC PyInit__text() {
  return quorvel::binding::init_definition(&quorvel::binding::text::module_def);
}

// The steps that every module of the package takes when it is executed.
#include "support/support.h"

#include <mutex>

namespace quorvel::binding {

Status check_module_exec(PyObject* module, const char* refusal) {
  if (!PyModule_Check(module)) return type_mismatch(module, "module");
  // Handing process-wide objects to another interpreter would mix the two
  // interpreters' objects (reference counts, type caches, finalisation order).
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    return PyError::with_text(PyExc_ImportError, refusal);
  }
  return Done{};
}

Status add_functions(PyObject* module, std::initializer_list<PyMethodDef*> defs) {
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return PyError::fetch();
  for (PyMethodDef* def : defs) {
    PyRef function = PyRef::steal(PyCMethod_New(def, module, module_name.get(), nullptr));
    if (!function || PyModule_AddObjectRef(module, def->ml_name, function.get()) < 0) {
      return PyError::fetch();
    }
  }
  return Done{};
}

PyObject* init_definition(PyModuleDef* def) noexcept {
  // The one lock of the module, taken only while it is imported.
  static std::mutex first_call;
  const std::lock_guard<std::mutex> held(first_call);
  return PyModuleDef_Init(def);
}

}  // namespace quorvel::binding

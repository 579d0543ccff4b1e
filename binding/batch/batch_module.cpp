// The module quorvel._batch: its definition, module_exec (multi-phase
// initialisation, like quorvel.jid) and the table of error kinds. Private:
// quorvel.batch is its interface and documentation.
//
// The Column type exists once per process, as quorvel.jid's types do, and
// for the same reason the module refuses sub-interpreters.
#include "batch/batch.h"
#include "batch/row_loop.h"
#include "quorvel/jid_error.h"

namespace quorvel::binding::batch {
namespace {

constexpr std::string_view kInvalidUtf8Name = "InvalidUtf8";
constexpr std::string_view kInvalidUtf8Message = "Not valid UTF-8";

std::string_view kind_name(int kind) noexcept {
  return kind == kInvalidUtf8 ? kInvalidUtf8Name : name(static_cast<JidError>(kind));
}

// message(kind) -> the text InvalidJID carries for that kind.
PyObject* kind_message(PyObject*, PyObject* arg) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    const long kind = PyLong_AsLong(arg);
    if (kind == -1 && PyErr_Occurred()) return PyError::fetch();
    if (kind < 0 || kind >= kKindCount) {
      return PyError::with_text(PyExc_ValueError, "no error kind " + std::to_string(kind));
    }
    if (kind == kInvalidUtf8) return make_str(kInvalidUtf8Message);
    return make_str(message(static_cast<JidError>(kind)));
  });
}

Outcome<PyRef> kind_names() {
  PyRef tuple = PyRef::steal(PyTuple_New(kKindCount));
  if (!tuple) return PyError::fetch();
  for (int k = 0; k < kKindCount; ++k) {
    auto s = make_str(kind_name(k));
    if (!s) return std::move(s).error();
    PyTuple_SET_ITEM(tuple.get(), k, std::move(s).value().release());
  }
  return tuple;
}

int module_exec(PyObject* module) noexcept {
  return entry_guard<int>(-1, [&]() -> Outcome<int> {
    if (auto checked = check_module_exec(
            module, "quorvel._batch cannot be imported in a sub-interpreter: its types are shared "
                    "by the whole process and belong to the main interpreter");
        !checked) {
      return std::move(checked).error();
    }
    if (auto added = add_functions(module, {&normalise_list_def, &normalise_arrow_def, &normalise_stream_def,
                                            &group_list_def, &group_arrow_def, &group_stream_def,
                                            &export_struct_def, &export_stream_def, &message_def});
        !added) {
      return std::move(added).error();
    }
    auto column = column_type();
    if (!column) return std::move(column).error();
    if (PyModule_AddObjectRef(module, "Column", reinterpret_cast<PyObject*>(column.value())) < 0) {
      return PyError::fetch();
    }
    auto names = kind_names();
    if (!names) return std::move(names).error();
    if (PyModule_AddObjectRef(module, "KIND_NAMES", names.value().get()) < 0 ||
        PyModule_AddIntConstant(module, "MIN_CHUNK_ROWS", static_cast<long>(kMinChunkRows)) < 0 ||
        PyModule_AddIntConstant(module, "INVALID_UTF8", kInvalidUtf8) < 0) {
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

PyModuleDef module_def = module_definition("_batch", "The native half of quorvel.batch (internal).", module_slots);

}  // namespace

PyMethodDef message_def = {"message", kind_message, METH_O, nullptr};

}  // namespace quorvel::binding::batch

PyMODINIT_FUNC PyInit__batch() {
  return quorvel::binding::init_definition(&quorvel::binding::batch::module_def);
}

// The module quorvel._batch: the native half of quorvel.batch. Columns of
// addresses normalised without a Python object per row, over lists of str
// and over Arrow data through the PyCapsule interface. The per-object route
// (str(JID(v)) and InvalidJID) is its slow twin; the tests hold the two to
// the same result for every row.
#pragma once

#include <vector>

#include "batch/arrow_export.h"
#include "support/support.h"

namespace quorvel::binding::batch {

// The Column type: one exported result column (arrow_export.h) as a Python
// object that speaks the Arrow PyCapsule interface. Made once per process.
Outcome<PyTypeObject*> column_type();
Outcome<PyRef> new_column(Column data);
// The column of a Column object, or null when `obj` is none.
const Column* column_of(PyObject* obj) noexcept;

// Capsules of the interface, each owning the structure it names.
Outcome<PyRef> schema_capsule(ArrowSchema schema);
Outcome<PyRef> array_capsule(ArrowArray array);
Outcome<PyRef> stream_capsule(ArrowArrayStream stream);
// The (schema, array) tuple __arrow_c_array__ returns.
Outcome<PyRef> capsule_pair(ArrowSchema schema, ArrowArray array);

extern PyMethodDef normalise_list_def;
extern PyMethodDef normalise_arrow_def;
extern PyMethodDef normalise_stream_def;
extern PyMethodDef group_list_def;
extern PyMethodDef group_arrow_def;
extern PyMethodDef group_stream_def;
extern PyMethodDef export_struct_def;
extern PyMethodDef export_stream_def;
extern PyMethodDef message_def;

}  // namespace quorvel::binding::batch

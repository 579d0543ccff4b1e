// escape_node(text): display text to an escaped localpart (XEP-0106), with
// the core's escape_localpart. The docstring is quorvel.escape_node's own.
#include <string>

#include "quorvel/escape.h"
#include "support/arguments.h"
#include "text/text.h"

namespace quorvel::binding::text {
namespace {

constexpr const char* kNames[] = {"text"};
constexpr Signature kSignature{"escape_node()", kNames, 1, 1};

// quorvel.jid.InvalidJID, the type the address module made: this module's
// own copy of the binding support would make a second one. Looked up on the
// error path only, which keeps this module free of state.
Outcome<PyRef> invalid_jid() {
  PyRef module = PyRef::steal(PyImport_ImportModule("quorvel.jid"));
  if (!module) return PyError::fetch();
  PyRef type = PyRef::steal(PyObject_GetAttrString(module.get(), "InvalidJID"));
  if (!type) return PyError::fetch();
  return type;
}

PyObject* escape_node(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    PyObject* text = nullptr;
    if (auto bound = bind_vectorcall(kSignature, args, nargs, kwnames, &text); !bound) {
      return std::move(bound).error();
    }
    auto utf8 = text_from(text);
    if (!utf8) return with_note(std::move(utf8).error(), "text");
    auto escaped = escape_localpart(utf8.value());
    if (!escaped) {
      auto type = invalid_jid();
      if (!type) return std::move(type).error();
      return PyError::with_text(type.value().get(), message(escaped.error()));
    }
    return make_str(*escaped);
  });
}

}  // namespace

PyMethodDef escape_node_def = {
    "escape_node",
    as_cfunction(escape_node),
    METH_FASTCALL | METH_KEYWORDS,
    R"doc(escape_node(text)
--

Escape display text into a localpart (XEP-0106) and prepare it.

The ten characters ``space " & ' / : < > @ \`` become ``\20 \22 \26
\27 \2f \3a \3c \3e \40 \5c``, a backslash only where the characters
after it would otherwise read as an escape. Raises ``InvalidJID`` when no
localpart can show the text: empty, beginning or ending with a space, or
refused by Nodeprep for a reason escaping cannot help (a control
character, an emoji, more than 1023 bytes, ...).)doc",
};

}  // namespace quorvel::binding::text

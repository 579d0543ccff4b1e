// unescape_node(node): an escaped localpart (XEP-0106) back to display text.
#include <string>
#include <string_view>

#include "jid/jid_object.h"
#include "quorvel/address.h"
#include "quorvel/jid_error.h"
#include "quorvel/unescape.h"
#include "support/arguments.h"

namespace quorvel::binding {
namespace {

constexpr const char* kNames[] = {"node"};
constexpr Signature kSignature{"unescape_node()", kNames, 1, 1};

PyObject* unescape_node(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    PyObject* node = nullptr;
    if (auto bound = bind_vectorcall(kSignature, args, nargs, kwnames, &node); !bound) {
      return std::move(bound).error();
    }
    auto text = text_from(node);
    if (!text) return with_note(std::move(text).error(), "node");

    // The escape sequences are undone on the prepared form, so upper-case
    // hex digits are folded before they are matched.
    auto prepared = prepare_node(text.value());
    if (!prepared.ok()) return raise_invalid_jid(message(prepared.error()));
    const PreparedText& localpart = prepared.value();
    std::string folded;  // only for a localpart that is lower-cased while copied
    std::string_view input;
    if (localpart.has_view()) {
      input = localpart.view();
    } else {
      folded = localpart.str();
      input = folded;
    }
    auto unescaped = unescape_localpart(input);
    if (!unescaped.ok()) return raise_invalid_jid(message(unescaped.error()));
    const PreparedText& result = unescaped.value();
    if (result.has_view()) return make_str(result.view());
    return make_str(result.str());
  });
}

}  // namespace

PyMethodDef unescape_node_def = {
    "unescape_node",
    as_cfunction(unescape_node),
    // No METH_STATIC: on a built-in function it would hide the bound module
    // from __self__, which callers use to find where the function lives.
    METH_FASTCALL | METH_KEYWORDS,
    "unescape_node(node)\n--\n\n",
};

}  // namespace quorvel::binding

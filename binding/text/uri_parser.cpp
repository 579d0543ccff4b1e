// quorvel.uri.parse: the plain URI (uri_plain.h) read here, any other text
// handed to the Python parser, which raises every error.
//
// Each parser uri_parser makes is bound to what it needs: the general
// parser, the record type that quorvel.uri made XmppUri from (uri_record.h)
// and the JID type. They are held in the state of a small module object of
// the parser's own, the function's __self__, so that the function shows as
// the plain function it stands for (a function bound to any other object
// reads as that object's method) and two parsers never share what they hold.
#include <array>
#include <iterator>
#include <memory>
#include <string_view>
#include <utility>

#include "jid/jid_object.h"
#include "quorvel/address.h"
#include "simd/scan.h"
#include "support/arguments.h"
#include "text/text.h"
#include "text/uri_plain.h"
#include "text/uri_record.h"
#include "unicode/utf8_codec.h"

namespace quorvel::binding::text {
namespace {

constexpr const char* kNames[] = {"uri"};
constexpr Signature kSignature{"parse()", kNames, 1, 1};

// The arguments of uri_parser, then the made strs of the usual actions.
enum Slot : Py_ssize_t { kGeneral, kUriType, kJidType, kArguments, kActions = kArguments, kSlots };

// The actions of XEP-0147's registry, whose strs are made once per parser
// and shared by every URI that names one: a URI that asks for a message
// then costs one str less.
constexpr std::string_view kUsualActions[] = {
    "message", "join", "subscribe", "unsubscribe", "roster", "remove", "command", "disco",
    "invite", "pubsub", "recvfile", "sendfile", "register", "unregister", "vcard"};

// The action as a str: a shared one when it is one of the usual actions.
Outcome<PyRef> action_str(PyObject* usual, std::string_view action) {
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(usual); ++i) {
    if (kUsualActions[i] == action) return PyRef::borrow(PyTuple_GET_ITEM(usual, i));
  }
  return make_str(action);
}

Outcome<PyRef> call(PyObject* callable, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* result = PyObject_Vectorcall(callable, args, nargs, kwnames);
  if (result == nullptr) return PyError::fetch();
  return PyRef::steal(result);
}

// The JID of the path's address, made from its bytes as JID(text) would
// make it from their str, or nothing (no error set) when the decoded bytes
// are not UTF-8 or not an address: the general route then raises what it
// raises. Building the value here spares a str that would only be read
// back as the same UTF-8.
Outcome<PyRef> address_jid(PyTypeObject* jid_type, const PlainUri& plain, bool& general) {
  std::string_view bytes = plain.path;  // ASCII, as the whole URI is
  // Decoding never lengthens, so the usual path decodes on the stack.
  std::array<char, 512> stack;
  std::unique_ptr<char[]> heap;
  if (plain.encoded) {
    char* out = stack.data();
    if (plain.path.size() > stack.size()) {
      heap = std::make_unique_for_overwrite<char[]>(plain.path.size());
      out = heap.get();
    }
    bytes = std::string_view(out, decode_plain_path(plain.path, out));
    if (!scan::is_ascii(bytes) && !utf8::is_well_formed(bytes)) {
      general = true;
      return PyRef();
    }
  }
  auto parsed = parse_address(bytes);
  if (!parsed.ok()) {
    general = true;
    return PyRef();
  }
  return instantiate_jid(jid_type, std::move(parsed).value());
}

// The state of a parser's module: the tuple of what the parser is bound to.
struct ParserState {
  PyObject* bound;
};

ParserState* state_of(PyObject* module) noexcept {
  return static_cast<ParserState*>(PyModule_GetState(module));
}

int parser_traverse(PyObject* module, visitproc visit, void* arg) noexcept {
  ParserState* state = state_of(module);
  Py_VISIT(state == nullptr ? nullptr : state->bound);
  return 0;
}

int parser_clear(PyObject* module) noexcept {
  if (ParserState* state = state_of(module)) Py_CLEAR(state->bound);
  return 0;
}

void parser_free(void* module) noexcept { parser_clear(static_cast<PyObject*>(module)); }

PyModuleDef parser_module_def = {
    PyModuleDef_HEAD_INIT, "quorvel._text.uri_parser", nullptr, sizeof(ParserState), nullptr,
    nullptr,               parser_traverse,            parser_clear, parser_free,
};

PyObject* parse(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    PyObject* bound = state_of(module)->bound;
    PyObject* general = PyTuple_GET_ITEM(bound, kGeneral);
    const Py_ssize_t count = PyVectorcall_NARGS(nargs);
    PyObject* uri = count == 1 && kwnames == nullptr ? args[0] : nullptr;
    if (uri == nullptr) {
      // Bound here, so that a call gone wrong names parse and not the
      // general parser it would otherwise reach.
      if (auto bound_args = bind_vectorcall(kSignature, args, count, kwnames, &uri); !bound_args) {
        return std::move(bound_args).error();
      }
    }
    if (!PyUnicode_Check(uri)) return with_note(type_mismatch(uri, "str"), "uri");
    // A str subclass, text beyond ASCII (an IRI): the general way.
    if (!PyUnicode_CheckExact(uri) || !PyUnicode_IS_ASCII(uri)) return call(general, &uri, 1, nullptr);
    const std::string_view text(static_cast<const char*>(PyUnicode_DATA(uri)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(uri)));
    PlainUri plain;
    if (!split_plain_uri(text, plain)) return call(general, &uri, 1, nullptr);
    bool take_general = false;
    auto jid = address_jid(reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(bound, kJidType)), plain,
                           take_general);
    if (!jid) return std::move(jid).error();
    if (take_general) return call(general, &uri, 1, nullptr);
    PyRef action = PyRef::borrow(Py_None);
    if (!plain.action.empty()) {
      auto made = action_str(PyTuple_GET_ITEM(bound, kActions), plain.action);
      if (!made) return std::move(made).error();
      action = std::move(made).value();
    }
    PyRef params = PyRef::steal(PyTuple_New(0));
    if (!params) return PyError::fetch();
    return new_uri_record(reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(bound, kUriType)),
                          std::move(jid).value(), std::move(action), std::move(params),
                          PyRef::borrow(Py_None));
  });
}

PyMethodDef parse_def = {
    "parse",
    as_cfunction(parse),
    METH_FASTCALL | METH_KEYWORDS,
    R"doc(parse(uri)
--

Read an ``xmpp:`` URI or IRI.

Raises a subclass of ``InvalidUri`` (a ``ValueError``) when the text is
not a well-formed ``xmpp:`` URI, and ``InvalidJID`` when it is but its
address (or authority) is not a valid address.)doc",
};

// uri_parser(general, uri_type, jid_type).
PyObject* uri_parser(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    if (nargs != kArguments) {
      return PyError::with_text(PyExc_TypeError, "uri_parser() takes exactly 3 positional arguments");
    }
    if (!PyCallable_Check(args[kGeneral]) || !PyType_Check(args[kUriType]) ||
        !PyType_Check(args[kJidType])) {
      return PyError::with_text(PyExc_TypeError,
                                "uri_parser() needs a callable, the XmppUri type and the JID type");
    }
    // Instances of the JID type are made here directly (address_jid): it
    // must be quorvel.jid's own, whose record this module was built with.
    auto* jid_type = reinterpret_cast<PyTypeObject*>(args[kJidType]);
    if (std::string_view(jid_type->tp_name) != "quorvel.jid.JID" ||
        jid_type->tp_basicsize != static_cast<Py_ssize_t>(sizeof(JidObject))) {
      return PyError::with_text(PyExc_TypeError, "uri_parser() needs the JID type of quorvel.jid");
    }
    // So are the URIs: the type must be a record type uri_record() made.
    if (!is_uri_record_type(reinterpret_cast<PyTypeObject*>(args[kUriType]))) {
      return PyError::with_text(PyExc_TypeError, "uri_parser() needs a type that uri_record() made");
    }
    PyRef bound = PyRef::steal(PyTuple_New(kSlots));
    if (!bound) return PyError::fetch();
    for (Py_ssize_t i = 0; i < kArguments; ++i) PyTuple_SET_ITEM(bound.get(), i, Py_NewRef(args[i]));
    constexpr auto kUsual = static_cast<Py_ssize_t>(std::size(kUsualActions));
    PyRef usual = PyRef::steal(PyTuple_New(kUsual));
    if (!usual) return PyError::fetch();
    for (Py_ssize_t i = 0; i < kUsual; ++i) {
      auto made = make_str(kUsualActions[i]);
      if (!made) return std::move(made).error();
      PyTuple_SET_ITEM(usual.get(), i, std::move(made).value().release());
    }
    PyTuple_SET_ITEM(bound.get(), kActions, usual.release());
    PyRef holder = PyRef::steal(PyModule_Create2(&parser_module_def, PYTHON_API_VERSION));
    if (!holder) return PyError::fetch();
    state_of(holder.get())->bound = bound.release();
    // The module of the Python parser it stands in for.
    PyRef module_name = PyRef::steal(PyObject_GetAttrString(args[kGeneral], "__module__"));
    if (!module_name) return PyError::fetch();
    PyObject* function = PyCMethod_New(&parse_def, holder.get(), module_name.get(), nullptr);
    if (function == nullptr) return PyError::fetch();
    return PyRef::steal(function);
  });
}

}  // namespace

PyMethodDef uri_parser_def = {
    "uri_parser",
    as_cfunction(uri_parser),
    METH_FASTCALL,
    "uri_parser(general, uri_type, jid_type, /)\n--\n\n",
};

}  // namespace quorvel::binding::text

// The eleven attributes of a JID: readers share a few functions, every name
// has its own writer so that a conversion error can name the attribute used.
//
// A writer converts the new value before it touches the object, then holds
// the writer borrow while it builds the complete new value, and replaces the
// old value in one (non-throwing) move. Every failure therefore leaves the
// object exactly as it was.
#include <optional>
#include <string_view>

#include "jid/jid_object.h"
#include "quorvel/address.h"
#include "quorvel/jid_error.h"
#include "quorvel/profiles.h"
#include "support/arguments.h"

namespace quorvel::binding {
namespace {

using Slot = std::optional<JidValue>;
// Why an assignment was refused: a message with static storage.
using Refusal = std::optional<std::string_view>;

std::optional<Part> as_part(std::optional<std::string_view> view) {
  if (!view) return std::nullopt;
  return Part(*view);
}

// ---- readers ----------------------------------------------------------------

template <std::string_view (*Read)(const Slot&)>
PyObject* read_attribute(PyObject* self) noexcept {
  return entry_guard<PyObject*>(nullptr, [&]() -> Outcome<PyRef> {
    auto borrow = read_borrow(self);
    if (!borrow) return std::move(borrow).error();
    return make_str(Read(as_jid(self)->value));
  });
}

std::string_view full_of(const Slot& v) { return v ? v->text() : std::string_view(); }
std::string_view bare_of(const Slot& v) { return v ? bare_text(*v) : std::string_view(); }
std::string_view localpart_of(const Slot& v) {
  return v ? node_part(*v).value_or(std::string_view()) : std::string_view();
}
std::string_view domain_of(const Slot& v) { return v ? domain_part(*v) : std::string_view(); }
std::string_view resource_of(const Slot& v) {
  return v ? resource_part(*v).value_or(std::string_view()) : std::string_view();
}

PyObject* get_bare(PyObject* self, void*) noexcept { return read_attribute<bare_of>(self); }
PyObject* get_full(PyObject* self, void*) noexcept { return read_attribute<full_of>(self); }
PyObject* get_node(PyObject* self, void*) noexcept { return read_attribute<localpart_of>(self); }
PyObject* get_user(PyObject* self, void*) noexcept { return read_attribute<localpart_of>(self); }
PyObject* get_domain(PyObject* self, void*) noexcept { return read_attribute<domain_of>(self); }
PyObject* get_server(PyObject* self, void*) noexcept { return read_attribute<domain_of>(self); }
PyObject* get_resource(PyObject* self, void*) noexcept { return read_attribute<resource_of>(self); }

// ---- writers ----------------------------------------------------------------

// `text` is absent only when None was assigned to a group that accepts it.
using Assign = Refusal (*)(Slot& slot, std::optional<std::string_view> text, Profile profile);

Refusal assign_full(Slot& slot, std::optional<std::string_view> text, Profile profile) {
  auto parsed = parse_with(profile, *text);
  if (!parsed.ok()) return message(parsed.error());
  slot = std::move(parsed).value();
  return std::nullopt;
}

Refusal assign_bare(Slot& slot, std::optional<std::string_view> text, Profile profile) {
  auto parsed = parse_bare_with(profile, *text);
  if (!parsed.ok()) return message(parsed.error());
  if (slot && !slot->is_bare()) {
    // The old resource carries over to the new bare address.
    JidValue next = attach_resource(parsed.value(), *resource_part(*slot));
    slot = std::move(next);
  } else {
    slot = std::move(parsed).value();
  }
  return std::nullopt;
}

Refusal assign_localpart(Slot& slot, std::optional<std::string_view> text, Profile profile) {
  if (!text) {
    if (slot && node_part(*slot)) {
      JidValue next = join_parts(std::nullopt, domain_part(*slot), as_part(resource_part(*slot)));
      slot = std::move(next);
    }
    return std::nullopt;
  }
  // Preparation comes first, so a bad localpart reports itself even on an
  // empty JID.
  auto prepared = prepare_node_with(profile, *text);
  if (!prepared.ok()) return message(prepared.error());
  if (!slot) return "JID.node must apply to a proper JID";
  JidValue next = join_parts(Part(prepared.value()), domain_part(*slot), as_part(resource_part(*slot)));
  slot = std::move(next);
  return std::nullopt;
}

Refusal assign_domain(Slot& slot, std::optional<std::string_view> text, Profile profile) {
  auto prepared = prepare_domain_with(profile, *text);
  if (!prepared.ok()) return message(prepared.error());
  if (!slot) {
    slot = join_parts(std::nullopt, Part(prepared.value()), std::nullopt);
  } else {
    JidValue next = join_parts(as_part(node_part(*slot)), Part(prepared.value()),
                               as_part(resource_part(*slot)));
    slot = std::move(next);
  }
  return std::nullopt;
}

Refusal assign_resource(Slot& slot, std::optional<std::string_view> text, Profile profile) {
  if (!text) {
    if (slot) strip_resource(*slot);
    return std::nullopt;
  }
  // The usual resource is prepared as it is written: no profile (under
  // either standard), and one copy of the bare part and the text into the
  // new value.
  if (is_plain_resource(*text)) {
    if (!slot) return "JID.resource must apply to a proper JID";
    JidValue next = replace_resource(*slot, *text);
    slot = std::move(next);
    return std::nullopt;
  }
  auto prepared = prepare_resource_with(profile, *text);
  if (!prepared.ok()) return message(prepared.error());
  if (!slot) return "JID.resource must apply to a proper JID";
  JidValue next = slot->is_bare()
                      ? attach_resource(*slot, Part(prepared.value()))
                      : join_parts(as_part(node_part(*slot)), domain_part(*slot), Part(prepared.value()));
  slot = std::move(next);
  return std::nullopt;
}

int write_attribute(PyObject* self, PyObject* value, std::string_view name, bool none_removes,
                    Assign assign) noexcept {
  return entry_guard<int>(-1, [&]() -> Outcome<int> {
    if (value == nullptr) return PyError::with_text(PyExc_AttributeError, "property has no deleter");

    std::optional<std::string_view> text;
    if (!(none_removes && value == Py_None)) {
      auto converted = text_from(value);
      if (!converted) return with_note(std::move(converted).error(), name);
      text = converted.value();
    }

    Refusal refusal;
    {
      auto borrow = write_borrow(self);
      if (!borrow) return std::move(borrow).error();
      refusal = assign(as_jid(self)->value, text, profile_of(Py_TYPE(self)));
    }
    // The error is built after the borrow has been given back.
    if (refusal) return raise_invalid_jid(*refusal);
    return 0;
  });
}

int set_full(PyObject* s, PyObject* v, void*) noexcept { return write_attribute(s, v, "full", false, assign_full); }
int set_jid(PyObject* s, PyObject* v, void*) noexcept { return write_attribute(s, v, "jid", false, assign_full); }
int set_bare(PyObject* s, PyObject* v, void*) noexcept { return write_attribute(s, v, "bare", false, assign_bare); }
int set_node(PyObject* s, PyObject* v, void*) noexcept {
  return write_attribute(s, v, "node", true, assign_localpart);
}
int set_user(PyObject* s, PyObject* v, void*) noexcept {
  return write_attribute(s, v, "user", true, assign_localpart);
}
int set_local(PyObject* s, PyObject* v, void*) noexcept {
  return write_attribute(s, v, "local", true, assign_localpart);
}
int set_username(PyObject* s, PyObject* v, void*) noexcept {
  return write_attribute(s, v, "username", true, assign_localpart);
}
int set_domain(PyObject* s, PyObject* v, void*) noexcept {
  return write_attribute(s, v, "domain", false, assign_domain);
}
int set_server(PyObject* s, PyObject* v, void*) noexcept {
  return write_attribute(s, v, "server", false, assign_domain);
}
int set_host(PyObject* s, PyObject* v, void*) noexcept {
  return write_attribute(s, v, "host", false, assign_domain);
}
int set_resource(PyObject* s, PyObject* v, void*) noexcept {
  return write_attribute(s, v, "resource", true, assign_resource);
}

}  // namespace

PyObject* jid_str(PyObject* self) noexcept { return read_attribute<full_of>(self); }

PyGetSetDef jid_properties[] = {
    {"bare", get_bare, set_bare, nullptr, nullptr},
    {"full", get_full, set_full, nullptr, nullptr},
    {"jid", get_full, set_jid, nullptr, nullptr},
    {"node", get_node, set_node, nullptr, nullptr},
    {"user", get_user, set_user, nullptr, nullptr},
    {"local", get_user, set_local, nullptr, nullptr},
    {"username", get_user, set_username, nullptr, nullptr},
    {"domain", get_domain, set_domain, nullptr, nullptr},
    {"server", get_server, set_server, nullptr, nullptr},
    {"host", get_server, set_host, nullptr, nullptr},
    {"resource", get_resource, set_resource, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace quorvel::binding

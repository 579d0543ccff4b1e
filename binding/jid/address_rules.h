// Which standard a JID type prepares its addresses by: quorvel.jid.JID by
// stringprep (RFC 6122), quorvel.precis.JID by PRECIS (RFC 7622). The two
// types share every slot; each slot asks here which core functions to call.
// A branch rather than a table of function pointers, so that the usual
// calls stay direct (and inlinable) on the hottest path.
#pragma once

#include <string_view>

#include "quorvel/address.h"
#include "quorvel/precis.h"
#include "quorvel/profiles.h"

namespace quorvel::binding {

enum class Profile : unsigned char { Rfc6122, Rfc7622 };

inline Result<JidValue> parse_with(Profile p, std::string_view text) {
  return p == Profile::Rfc6122 ? parse_address(text) : precis::parse_address(text);
}
inline Result<JidValue> parse_bare_with(Profile p, std::string_view text) {
  return p == Profile::Rfc6122 ? parse_bare_address(text) : precis::parse_bare_address(text);
}
inline Result<PreparedText> prepare_node_with(Profile p, std::string_view text) {
  return p == Profile::Rfc6122 ? prepare_node(text) : precis::prepare_node(text);
}
inline Result<PreparedText> prepare_domain_with(Profile p, std::string_view text) {
  return p == Profile::Rfc6122 ? prepare_domain(text) : precis::prepare_domain(text);
}
// Plain printable ASCII of 1 to 1023 bytes is its own preparation under
// both resource profiles (resourceprep and OpaqueString allow every such
// byte, space included, and change none), so the callers keep that
// shortcut for both.
inline Result<PreparedText> prepare_resource_with(Profile p, std::string_view text) {
  return p == Profile::Rfc6122 ? prepare_resource(text) : precis::prepare_resource(text);
}

}  // namespace quorvel::binding

// Addresses under RFC 7622: the localpart prepared with the PRECIS
// UsernameCaseMapped profile, the resourcepart with OpaqueString (both as
// RFC 8265 defines them), the domainpart as an IDNA2008 name. The split,
// the limits and the value type are those of quorvel/address.h; only the
// preparation of the parts differs.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "quorvel/jid_error.h"
#include "quorvel/jid_value.h"
#include "quorvel/precis_profiles.h"
#include "quorvel/prepared_text.h"
#include "quorvel/result.h"

namespace quorvel::precis {

// The parts of an address, with RFC 7622's refusals and the 1023-byte limits.
Result<PreparedText> prepare_node(std::string_view text);
Result<PreparedText> prepare_resource(std::string_view text);
// IP literals as written; else one trailing dot dropped and the rest an
// IDNA2008 domain name, stored as its U-labels.
Result<PreparedText> prepare_domain(std::string_view text);
// The same without its one-pass shortcut for the usual non-ASCII domain.
Result<PreparedText> prepare_domain_general(std::string_view text);

Result<JidValue> parse_address(std::string_view text);
Result<JidValue> parse_bare_address(std::string_view text);
// The part-by-part route alone, without parse_address's shortcut for plain
// ASCII (its twin, for the tests and the fuzzer).
Result<JidValue> parse_address_general(std::string_view text);

// quorvel::parse_plain_short under RFC 7622's rules.
std::optional<Separators> parse_plain_short(std::string_view text, char* out) noexcept;

}  // namespace quorvel::precis

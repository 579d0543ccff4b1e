// The PRECIS profiles RFC 7622 prepares the parts of an address with
// (RFC 8265): UsernameCaseMapped for the localpart, OpaqueString for the
// resourcepart. quorvel/precis.h builds addresses on them.
#pragma once

#include <cstdint>
#include <string_view>

#include "quorvel/prepared_text.h"
#include "quorvel/result.h"

namespace quorvel::precis {

// Why a profile refused its input (for tests and the comparison tool;
// addresses report a JidError kind per part).
enum class Failure : std::uint8_t {
  Disallowed,   // a code point the string class does not allow (or unassigned)
  Context,      // a CONTEXTJ or CONTEXTO code point out of its context
  Bidi,         // the Bidi Rule (UsernameCaseMapped only)
  Empty,        // nothing to prepare
  Unstable,     // a second application would change the result
  InvalidUtf8,  // not well-formed UTF-8 (only reachable from C++ callers)
};

using ProfileResult = Result<PreparedText, Failure>;

// The profiles alone, without the address's own refusals and limits.
ProfileResult username_case_mapped(std::string_view text);
ProfileResult opaque_string(std::string_view text);
// The same without the shortcuts for plain ASCII and for text no rule maps
// (their twins, for the tests and the fuzzer).
ProfileResult username_case_mapped_general(std::string_view text);
ProfileResult opaque_string_general(std::string_view text);

}  // namespace quorvel::precis

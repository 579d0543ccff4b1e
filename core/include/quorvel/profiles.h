// The three stringprep profiles and the whole preparation of a domain.
//
// The profiles are composed from the RFC 3454 tables with the NFKC and the
// bidirectional classes of Unicode 16.0, built into the library; see
// profiles.cpp for the steps.
#pragma once

#include <cstdint>
#include <string_view>

#include "quorvel/jid_error.h"
#include "quorvel/prepared_text.h"
#include "quorvel/result.h"

namespace quorvel {

// Why a profile refused its input. Callers only see the JidError kind of the
// part; the cause exists for tests and diagnostics.
enum class ProfileFailure : std::uint8_t {
  Prohibited,   // a character of the profile's prohibited set
  Bidi,         // the bidirectional rule
  Unassigned,   // unassigned in Unicode 3.2 (Table A.1) after NFKC, or new in 17.0
  InvalidUtf8,  // not well-formed UTF-8 (only reachable from C++ callers)
};

using ProfileResult = Result<PreparedText, ProfileFailure>;

ProfileResult nodeprep(std::string_view text);
ProfileResult nameprep(std::string_view text);
ProfileResult resourceprep(std::string_view text);

// IP literals, one trailing dot dropped, the UTS #46 check, then nameprep.
// Fails with JidError::Idna or JidError::NamePrep.
Result<PreparedText> prepare_domain(std::string_view text);

}  // namespace quorvel

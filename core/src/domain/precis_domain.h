// The domainpart of an RFC 7622 address (precis_domain.cpp): an IP literal
// as written, or an IDNA2008 name stored as U-labels. quorvel/precis.h
// offers it as precis::prepare_domain.
#pragma once

#include <string_view>

#include "quorvel/jid_error.h"
#include "quorvel/prepared_text.h"
#include "quorvel/result.h"

namespace quorvel::precis {

Result<PreparedText> idna2008_domain(std::string_view text);
// Without the one-pass route for the usual non-ASCII domain (its twin).
Result<PreparedText> idna2008_domain_general(std::string_view text);

}  // namespace quorvel::precis

// The preparation of a domainpart without the one-pass route for non-ASCII
// text (domain_one_pass.h): its slow twin, which prepare_domain falls back on
// and the differential tests hold it to.
#pragma once

#include <string_view>

#include "quorvel/prepared_text.h"
#include "quorvel/result.h"

namespace quorvel {

Result<PreparedText> prepare_domain_general(std::string_view text);

}  // namespace quorvel

// The three profiles without the one pass for text they leave as written
// (kept_as_written in profiles.cpp): its slow twins, which the differential
// tests hold it to.
#pragma once

#include <string_view>

#include "quorvel/profiles.h"

namespace quorvel {

ProfileResult nodeprep_general(std::string_view text);
ProfileResult nameprep_general(std::string_view text);
ProfileResult resourceprep_general(std::string_view text);

}  // namespace quorvel

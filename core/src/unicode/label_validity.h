// The validity criteria of UTS #46 section 4.1 (non-transitional) that are
// judged character by character, for one label of the processed domain.
#pragma once

#include <cstdint>
#include <string_view>

#include "idna_options.h"

namespace quorvel::unicode::idna {

struct LabelVerdict {
  std::uint32_t errors = 0;
  // For the domain-wide part of CheckBidi: whether this label holds an R,
  // AL or AN character, and whether it meets the Bidi Rule.
  bool has_rtl_character = false;
  bool passes_bidi_rule = true;
};

// `label` is non-empty UTF-8. With `check_status` every character's status
// is looked up in `table`; without it the caller vouches for the statuses
// (the mapping step recorded them and nothing has changed the text since).
// Left to the caller: NFC (criterion 1) and the domain-wide Bidi decision.
LabelVerdict check_label(std::string_view label, const Options& options,
                         const MappingTable& table, bool check_status) noexcept;

}  // namespace quorvel::unicode::idna

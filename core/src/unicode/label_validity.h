// The validity criteria of UTS #46 section 4.1 (non-transitional) that are
// judged character by character, for one label of the processed domain.
#pragma once

#include <cstdint>
#include <string_view>

#include "unicode/idna_options.h"

namespace quorvel::unicode::idna {

struct LabelVerdict {
  std::uint32_t errors = 0;
  // For the domain-wide part of CheckBidi: whether this label holds an R,
  // AL or AN character, and whether it meets the Bidi Rule.
  bool has_rtl_character = false;
  bool passes_bidi_rule = true;
  // What the ASCII form's length depends on: characters in all, those
  // below U+0080 (Punycode's basic code points), and the largest.
  std::size_t characters = 0;
  std::size_t basic = 0;
  char32_t largest = 0;
};

// What the caller already knows about a label.
struct LabelContext {
  // Without it the caller vouches for the statuses: the mapping step
  // recorded them and nothing has changed the text since.
  bool check_status = true;
  // False when the label cannot hold U+200C or U+200D, which spares
  // CONTEXTJ's bookkeeping.
  bool may_hold_joiners = true;
};

// `label` is non-empty UTF-8. Left to the caller: NFC (criterion 1) and the
// domain-wide Bidi decision. A label of plain ASCII takes a shortcut of byte
// tables; every other label goes character by character.
LabelVerdict check_label(std::string_view label, const Options& options,
                         const MappingTable& table, LabelContext context) noexcept;

// The character-by-character way for any label: the slow twin of the ASCII
// shortcut, exposed for the differential test.
LabelVerdict check_label_per_character(std::string_view label, const Options& options,
                                       const MappingTable& table, LabelContext context) noexcept;

}  // namespace quorvel::unicode::idna

#include "label_validity.h"

#include "bidi_rule.h"
#include "contextj.h"
#include "idna_properties.h"
#include "utf8.h"

namespace quorvel::unicode::idna {
namespace {

bool is_ldh(char32_t c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

LabelVerdict check_label(std::string_view label, const Options& options,
                         const MappingTable& table, bool check_status) noexcept {
  LabelVerdict verdict;
  std::uint32_t& errors = verdict.errors;
  BidiRule bidi;
  JoinerRule joiners;
  // Hyphen positions count characters, not bytes.
  std::size_t position = 0;
  bool third_is_hyphen = false;
  char32_t last = 0;
  for (std::size_t i = 0; i < label.size();) {
    char32_t c = static_cast<unsigned char>(label[i]);
    if (c < 0x80) {
      ++i;
      // ASCII needs no look-up: the tables give capitals "mapped" and
      // everything else "valid" (the generator checks that).
      if (check_status && c >= 'A' && c <= 'Z') errors |= kDisallowed;
      if (c == '.') errors |= kLabelHasDot;
      if (options.use_std3_ascii_rules && !is_ldh(c)) errors |= kStd3;
      if (options.denied != nullptr && (*options.denied)[c]) errors |= kDenied;
    } else {
      c = utf8::decode(label, i);
      if (c == utf8::kInvalid) {
        errors |= kInvalidUtf8;
        continue;
      }
      if (check_status && !is_valid_nontransitional(table, c)) errors |= kDisallowed;
    }
    const CharProperties p = properties(c);
    if (position == 0 && p.is_mark()) errors |= kLeadingMark;
    if (c == '-') {
      if (position == 0) errors |= kHyphenAtEdge;
      if (position == 2) third_is_hyphen = true;
      if (position == 3 && third_is_hyphen) errors |= kHyphen3And4;
    }
    joiners.add(c, p);
    bidi.add(p.bidi_class());
    last = c;
    ++position;
  }
  if (last == '-') errors |= kHyphenAtEdge;
  if (!options.check_hyphens) {
    errors &= ~static_cast<std::uint32_t>(kHyphenAtEdge | kHyphen3And4);
    if (label.size() >= 4 && label.substr(0, 4) == "xn--") errors |= kAcePrefix;
  }
  if (options.check_joiners && !joiners.passes()) errors |= kJoiner;
  verdict.has_rtl_character = bidi.has_rtl_character();
  verdict.passes_bidi_rule = bidi.passes();
  return verdict;
}

}  // namespace quorvel::unicode::idna

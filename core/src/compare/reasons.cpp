#include <array>

#include "prep/char_tables.h"
#include "precis/properties.h"
#include "quorvel/compare.h"
#include "unicode/idna_properties.h"
#include "unicode/utf8_codec.h"

namespace quorvel::compare {
namespace {

constexpr std::array<std::string_view, kReasonCount> kNames = {
    "not in Unicode 3.2", "symbol or emoji",     "case mapping differs", "compatibility form",
    "width form",         "non-ASCII space",     "A-label decoded",      "mapped to nothing",
    "right-to-left text", "prohibited by one profile",
};

// Whether stringprep's case folding (Table B.2) and PRECIS's toLowerCase
// give `c` different text. U+03A3 counts always: its lower case depends on
// the context (final sigma), its folding does not.
bool case_mapping_differs(char32_t c) {
  if (c == 0x03A3) return true;
  std::string_view fold = tables::case_fold(c);
  std::string_view lower = precis::lower_mapping(c);
  std::string self;
  if (fold.empty() && lower.empty()) return false;
  if (fold.empty() || lower.empty()) {
    utf8::append(self, c);
    if (fold.empty()) fold = self;
    if (lower.empty()) lower = self;
  }
  return fold != lower;
}

bool holds_a_label(std::string_view domain) {
  for (std::size_t start = 0; start <= domain.size();) {
    std::size_t end = domain.find('.', start);
    if (end == std::string_view::npos) end = domain.size();
    const std::string_view label = domain.substr(start, end - start);
    if (label.size() >= 4 && (label[0] | 0x20) == 'x' && (label[1] | 0x20) == 'n' && label[2] == '-' &&
        label[3] == '-') {
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

std::uint32_t reasons(std::string_view part, PartKind kind) {
  std::uint32_t out = 0;
  if (kind == PartKind::Domain && holds_a_label(part)) out |= kALabel;
  for (std::size_t i = 0; i < part.size();) {
    const char32_t c = utf8::decode(part, i);
    if (c == utf8::kInvalid || c < 0x80) continue;
    const tables::Flags f = tables::flags(c);
    const precis::CodePointInfo p = precis::info(c);
    if ((f & (tables::kUnassigned | tables::kAssignedAfter16)) != 0) out |= kNotInUnicode32;
    const std::uint8_t r = precis::generated::reason_lookup(c);
    if ((r & precis::generated::kSymbol) != 0) out |= kSymbol;
    if (p.has(precis::generated::kWidth)) {
      out |= kWidth;
    } else if ((r & precis::generated::kCompat) != 0 && !p.has(precis::generated::kNonAsciiSpace)) {
      out |= kCompatibility;
    }
    if (p.has(precis::generated::kNonAsciiSpace)) out |= kSpace;
    if ((f & tables::kMapToNothing) != 0) out |= kMappedToNothing;
    if (kind != PartKind::Resource && case_mapping_differs(c)) out |= kCaseMapping;
    if (p.has(precis::generated::kRtl)) out |= kBidi;
  }
  return out != 0 ? out : kProhibited;
}

std::string_view reason_name(Reason r) noexcept {
  for (int i = 0; i < kReasonCount; ++i) {
    if (r == (1u << i)) return kNames[static_cast<std::size_t>(i)];
  }
  return {};
}

}  // namespace quorvel::compare

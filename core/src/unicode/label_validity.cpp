#include "unicode/label_validity.h"

#include <array>
#include <cstdint>

#include "simd/scan.h"
#include "unicode/bidi_rule.h"
#include "unicode/contextj.h"
#include "unicode/idna_properties.h"
#include "unicode/utf8_codec.h"

namespace quorvel::unicode::idna {
namespace {

constexpr bool is_ldh(char32_t c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// What the label rules need to know of each ASCII character, from the
// generated properties, so that a label of plain ASCII is judged by OR-ing
// one table entry per byte.
enum AsciiFacts : std::uint8_t {
  kCapital = 1 << 0,      // mapped, not valid, by UTS #46
  kFullStop = 1 << 1,     // "."
  kNotLdh = 1 << 2,       // outside a-z 0-9 "-" (what STD3 refuses)
  kNotLtr = 1 << 3,       // a Bidi_Class an LTR label may not hold (condition 5)
  kEndsLtr = 1 << 4,      // L or EN: may end an LTR label (condition 6)
  kStartsLtr = 1 << 5,    // L: starts an LTR label (condition 1)
  kMarkOrRtl = 1 << 6,    // a mark, or R, AL, AN, NSM: never in ASCII
};

constexpr std::array<std::uint8_t, 128> kAsciiFacts = [] {
  using enum BidiClass;
  std::array<std::uint8_t, 128> t{};
  for (char32_t c = 0; c < 0x80; ++c) {
    const CharProperties p = properties(c);
    const BidiClass b = p.bidi_class();
    std::uint8_t f = 0;
    if (c >= 'A' && c <= 'Z') f |= kCapital;
    if (c == '.') f |= kFullStop;
    if (!is_ldh(c)) f |= kNotLdh;
    if (b != L && b != EN && b != ES && b != CS && b != ET && b != ON && b != BN) f |= kNotLtr;
    if (b == L || b == EN) f |= kEndsLtr;
    if (b == L) f |= kStartsLtr;
    if (p.is_mark() || b == R || b == AL || b == AN || b == NSM) f |= kMarkOrRtl;
    t[c] = f;
  }
  return t;
}();

// The shortcut relies on ASCII holding no marks and no right-to-left
// characters; new data that broke this would stop the build here.
constexpr bool ascii_has_no_marks_or_rtl() {
  for (std::uint8_t f : kAsciiFacts) {
    if (f & kMarkOrRtl) return false;
  }
  return true;
}
static_assert(ascii_has_no_marks_or_rtl());

bool has_ace_prefix(std::string_view label) noexcept {
  return label.size() >= 4 && label.substr(0, 4) == "xn--";
}

LabelVerdict check_ascii_label(std::string_view label, const Options& options,
                               LabelContext context) noexcept {
  LabelVerdict verdict;
  std::uint8_t facts = 0;
  bool denied = false;
  unsigned char largest = 0;
  for (char ch : label) {
    const auto b = static_cast<unsigned char>(ch);
    facts |= kAsciiFacts[b];
    largest = b > largest ? b : largest;
    if (options.denied != nullptr) denied |= (*options.denied)[b];
  }
  std::uint32_t& errors = verdict.errors;
  if (context.check_status && (facts & kCapital)) errors |= kDisallowed;
  if (facts & kFullStop) errors |= kLabelHasDot;
  if (options.use_std3_ascii_rules && (facts & kNotLdh)) errors |= kStd3;
  if (denied) errors |= kDenied;
  if (options.check_hyphens) {
    if (label.front() == '-' || label.back() == '-') errors |= kHyphenAtEdge;
    if (label.size() >= 4 && label[2] == '-' && label[3] == '-') errors |= kHyphen3And4;
  } else if (has_ace_prefix(label)) {
    errors |= kAcePrefix;
  }
  const auto first = static_cast<unsigned char>(label.front());
  const auto last = static_cast<unsigned char>(label.back());
  verdict.passes_bidi_rule = (kAsciiFacts[first] & kStartsLtr) && !(facts & kNotLtr) &&
                             (kAsciiFacts[last] & kEndsLtr);
  verdict.characters = label.size();
  verdict.basic = label.size();
  verdict.largest = largest;
  return verdict;
}

}  // namespace

LabelVerdict check_label(std::string_view label, const Options& options,
                         const MappingTable& table, LabelContext context) noexcept {
  if (scan::is_ascii(label)) return check_ascii_label(label, options, context);
  return check_label_per_character(label, options, table, context);
}

LabelVerdict check_label_per_character(std::string_view label, const Options& options,
                                       const MappingTable& table, LabelContext context) noexcept {
  const bool check_status = context.check_status;
  const bool check_joiners = options.check_joiners && context.may_hold_joiners;
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
      ++verdict.basic;
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
    if (check_joiners) joiners.add(c, p);
    bidi.add(p.bidi_class());
    if (c > verdict.largest) verdict.largest = c;
    last = c;
    ++position;
  }
  verdict.characters = position;
  if (last == '-') errors |= kHyphenAtEdge;
  if (!options.check_hyphens) {
    errors &= ~static_cast<std::uint32_t>(kHyphenAtEdge | kHyphen3And4);
    if (has_ace_prefix(label)) errors |= kAcePrefix;
  }
  if (check_joiners && !joiners.passes()) errors |= kJoiner;
  verdict.has_rtl_character = bidi.has_rtl_character();
  verdict.passes_bidi_rule = bidi.passes();
  return verdict;
}

}  // namespace quorvel::unicode::idna

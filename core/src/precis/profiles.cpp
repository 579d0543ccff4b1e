// UsernameCaseMapped (RFC 8265 section 3.3) and OpaqueString (section 4.2),
// with the rules in the order RFC 8264 section 7 gives: width mapping, the
// additional mapping, case mapping, normalisation, directionality, then the
// string class's verdict on each code point. A result that is not what a
// second application gives is refused (section 7's stability rule), so a
// stored value always prepares to itself.
#include <string>
#include <vector>

#include "precis/bidi_groups.h"
#include "precis/context_rules.h"
#include "precis/properties.h"
#include "quorvel/precis_profiles.h"
#include "unicode/bidi_rule.h"
#include "unicode/idna_properties.h"
#include "unicode/normalize.h"
#include "unicode/utf8_codec.h"

namespace quorvel::precis {
namespace {

enum class Profile { UsernameCaseMapped, OpaqueString };

constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kFinalSigma = 0x03C2;

bool is_cased(char32_t c) noexcept { return info(c).has(generated::kCased); }
bool is_case_ignorable(char32_t c) noexcept { return info(c).has(generated::kCaseIgnorable); }

// Unicode's Final_Sigma condition (chapter 3, table 3-17) for the sigma at i:
// a cased letter before it and none after it, case-ignorable ones skipped.
bool final_sigma(const std::u32string& s, std::size_t i) noexcept {
  std::size_t j = i;
  bool before = false;
  while (j > 0) {
    const char32_t c = s[--j];
    if (is_case_ignorable(c)) continue;
    before = is_cased(c);
    break;
  }
  if (!before) return false;
  for (std::size_t k = i + 1; k < s.size(); ++k) {
    if (is_case_ignorable(s[k])) continue;
    return !is_cased(s[k]);
  }
  return true;
}

// The string class's verdict on each code point (step 6), gathered code
// point by code point, and whether the Bidi Rule (step 5) has to be judged.
class ClassCheck {
 public:
  explicit ClassCheck(Profile profile) noexcept : profile_(profile) {}

  // False when the class does not allow the code point at all.
  bool add(CodePointInfo ci) noexcept {
    switch (ci.precis()) {
      case Derived::Pvalid:
        break;
      case Derived::FreePval:
        // The IdentifierClass reads FREE_PVAL as ID_DIS.
        if (profile_ == Profile::UsernameCaseMapped) return false;
        break;
      case Derived::Contextj:
      case Derived::Contexto:
        contextual_ = true;
        break;
      case Derived::Disallowed:
      case Derived::Unassigned:
        return false;
    }
    rtl_ |= ci.has(generated::kRtl);
    return true;
  }

  // For code points with the profile's kept bit (kKeptUsername,
  // kKeptOpaque), which skip add(): the OR of their bits.
  void add_kept(std::uint32_t any_bits) noexcept { rtl_ |= (any_bits & generated::kRtl) != 0; }

  // Whether a CONTEXTJ or CONTEXTO code point was added (passes_context_rules
  // decides those).
  bool contextual() const noexcept { return contextual_; }

  // RFC 8265 section 3.3.1 rule 5: the Bidi Rule, for a string that holds a
  // right-to-left character (R, AL or AN, as RFC 5893 counts them), judged
  // on all of `text` (well-formed UTF-8, the code points added); OpaqueString
  // has no directionality rule. The classes are read only for such a string,
  // in a pass of their own, which the usual string never takes.
  bool fails_bidi_rule(std::string_view text) const noexcept {
    if (profile_ != Profile::UsernameCaseMapped || !rtl_) return false;
    unicode::idna::BidiRule bidi;
    for (std::size_t i = 0; i < text.size();) bidi.add(info(utf8::decode(text, i)).bidi_class());
    return !bidi.passes();
  }
  // The same from the values of those code points OR'ed (`any_bits`),
  // whose group bits are the classes' part the rule reads, and those of the
  // first and the last.
  bool fails_bidi_rule(std::string_view text, std::uint32_t any_bits, std::uint32_t first_bits,
                       std::uint32_t last_bits) const noexcept {
    return profile_ == Profile::UsernameCaseMapped && rtl_ &&
           !bidi_groups::text_passes(text, any_bits, first_bits, last_bits);
  }

 private:
  Profile profile_;
  bool contextual_ = false;
  bool rtl_ = false;
};

// The mapping rules (steps 1-3) into UTF-8. Returns false on ill-formed input.
bool map(std::string_view text, Profile profile, std::string& out) {
  std::u32string widened;
  widened.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = utf8::decode(text, i);
    if (c == utf8::kInvalid) return false;
    const CodePointInfo ci = info(c);
    if (profile == Profile::UsernameCaseMapped) {
      if (ci.has(generated::kWidth)) c = width_mapping(c);
    } else if (ci.has(generated::kNonAsciiSpace)) {
      c = U' ';
    }
    widened.push_back(c);
  }
  out.clear();
  out.reserve(text.size());
  for (std::size_t i = 0; i < widened.size(); ++i) {
    const char32_t c = widened[i];
    if (profile == Profile::UsernameCaseMapped && info(c).has(generated::kLower)) {
      if (c == kCapitalSigma) {
        utf8::append(out, final_sigma(widened, i) ? kFinalSigma : kSmallSigma);
      } else {
        out.append(lower_mapping(c));
      }
    } else {
      utf8::append(out, c);
    }
  }
  return true;
}

// Steps 4-6 on the mapped text: NFC, then the Bidi Rule and the class.
ProfileResult finish(std::string mapped, Profile profile) {
  std::string normalised;
  if (unicode::to_nfc(mapped, normalised)) mapped.swap(normalised);

  std::u32string points;
  points.reserve(mapped.size());
  for (std::size_t i = 0; i < mapped.size();) points.push_back(utf8::decode(mapped, i));

  ClassCheck check(profile);
  for (char32_t c : points) {
    if (!check.add(info(c))) return Failure::Disallowed;
  }
  if (check.contextual() && !passes_context_rules(points)) return Failure::Context;
  if (check.fails_bidi_rule(mapped)) return Failure::Bidi;
  return PreparedText::owned(std::move(mapped));
}

// Plain printable ASCII, the usual part, in one pass: every such byte is
// PVALID and left alone by the width, space and normalisation rules, and no
// such string has a right-to-left character. OpaqueString also takes the
// space. Returns whether the fast path decides, and the result in `out`.
// The verdicts of the two shortcuts, returned rather than written into a
// result the caller made: the caller builds its result once, in place.
enum class Kept : std::uint8_t { No, Unchanged, Lowered };

Kept ascii(std::string_view text, Profile profile) noexcept {
  const char low = profile == Profile::OpaqueString ? 0x20 : 0x21;
  bool capitals = false;
  for (char c : text) {
    if (c < low || c > 0x7E) return Kept::No;  // also every byte >= 0x80 (char is signed)
    capitals |= c >= 'A' && c <= 'Z';
  }
  return profile == Profile::UsernameCaseMapped && capitals ? Kept::Lowered : Kept::Unchanged;
}

// Text that no mapping rule touches and that is NFC already (most non-ASCII
// parts met: lower-case, composed) is judged where it lies, with no copy and
// no second application. Only an acceptance is decided here: anything that
// fails, or needs mapping, takes the general route (a width form would be
// refused before its mapping otherwise).
bool unmapped(std::string_view text, Profile profile) {
  const std::uint16_t mapped =
      profile == Profile::UsernameCaseMapped ? generated::kWidth | generated::kLower
                                             : generated::kNonAsciiSpace;
  // The usual code point answers from one bit; the rest go through the
  // class's own rules.
  const std::uint32_t kept = profile == Profile::UsernameCaseMapped ? generated::kKeptUsername
                                                                     : generated::kKeptOpaque;
  // The values OR'ed also hold the Bidi Rule's groups of the text, so a
  // right-to-left string needs no second decoding.
  ClassCheck check(profile);
  std::uint32_t any_bits = 0;
  std::uint32_t all_bits = generated::kNfcInert;
  std::uint32_t first_bits = 0;
  std::uint32_t last_bits = 0;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c;
    CodePointInfo ci;
    if (!next(text, i, c, ci)) return false;
    if (!ci.has(kept) && (ci.has(mapped) || !check.add(ci))) return false;
    // Gathered in registers, read once after the loop. Every value has a
    // group bit, so any_bits is 0 only before the first code point.
    first_bits = any_bits == 0 ? ci.bits : first_bits;
    last_bits = ci.bits;
    any_bits |= ci.bits;
    all_bits &= ci.bits;
  }
  check.add_kept(any_bits);
  // Every code point NFC_QC=Yes with class 0: the text is its own NFC.
  const bool inert = (all_bits & generated::kNfcInert) != 0;
  if (!inert && !unicode::is_nfc(text)) return false;
  if (check.contextual()) {
    std::u32string points;
    for (std::size_t i = 0; i < text.size();) points.push_back(utf8::decode(text, i));
    if (!passes_context_rules(points)) return false;
  }
  return !check.fails_bidi_rule(text, any_bits, first_bits, last_bits);
}

ProfileResult apply_general(std::string_view text, Profile profile);

ProfileResult apply(std::string_view text, Profile profile) {
  if (text.empty()) return Failure::Empty;
  switch (ascii(text, profile)) {
    case Kept::Unchanged:
      return PreparedText::unchanged(text);
    case Kept::Lowered:
      return PreparedText::ascii_lowered(text);
    case Kept::No:
      break;
  }
  if (unmapped(text, profile)) return PreparedText::unchanged(text);
  return apply_general(text, profile);
}

// The rules one after another, on any text: the twin of the two shortcuts.
ProfileResult apply_general(std::string_view text, Profile profile) {
  if (text.empty()) return Failure::Empty;

  std::string mapped;
  if (!map(text, profile, mapped)) return Failure::InvalidUtf8;
  ProfileResult first = finish(std::move(mapped), profile);
  if (!first) return first;
  const std::string_view once = first->view();
  if (once == text) return PreparedText::unchanged(text);
  // The stability rule. The mapping steps are idempotent on nearly every
  // string; a second pass costs little next to the first and only runs for
  // text that changed.
  std::string again;
  if (!map(once, profile, again)) return Failure::InvalidUtf8;
  ProfileResult second = finish(std::move(again), profile);
  if (!second || second->view() != once) return Failure::Unstable;
  return first;
}

}  // namespace

ProfileResult username_case_mapped(std::string_view text) {
  return apply(text, Profile::UsernameCaseMapped);
}

ProfileResult opaque_string(std::string_view text) { return apply(text, Profile::OpaqueString); }

ProfileResult username_case_mapped_general(std::string_view text) {
  return apply_general(text, Profile::UsernameCaseMapped);
}

ProfileResult opaque_string_general(std::string_view text) {
  return apply_general(text, Profile::OpaqueString);
}

}  // namespace quorvel::precis

// Nodeprep, Nameprep and Resourceprep, composed from the RFC 3454 tables.
//
// The published profiles normalise with Unicode 3.2 data and take their bidi
// classes from the RFC's own tables. Here NFKC and the bidi classes are those
// of Unicode 16.0, and Table A.1 is consulted only after normalisation, so a
// character unassigned in 3.2 whose normal form is made of 3.2 characters is
// accepted. Addresses prepared elsewhere with the same rules compare equal to
// ours; that, not fidelity to 3.2, is the point.
//
// Unicode 16.0 comes from the built-in 17.0 tables. Normalisation is stable:
// a text of characters assigned in 16.0 has the same NFKC under both, and
// their bidi classes are the same. A character first assigned in 17.0 is
// unassigned under 16.0 (and in 3.2, so in A.1): it would pass NFKC
// untouched and fail the unassigned check. So such a character anywhere in
// the mapped text fails the profile as unassigned, even where the 17.0 NFKC
// would have turned it into older characters.
//
// The steps, in order: mapping (B.1 to nothing, B.2 case folding where the
// profile folds), NFKC, prohibited output, the bidi rule, unassigned code
// points. Plain ASCII takes the byte-class shortcut of profile_ascii.h; other
// text that every step leaves as written takes the one pass of
// kept_as_written() below.
#include <optional>
#include <string>

#include "prep/bidi.h"
#include "prep/char_tables.h"
#include "prep/profile_ascii.h"
#include "prep/profiles_twins.h"
#include "quorvel/profiles.h"
#include "simd/scan.h"
#include "unicode/normalize.h"
#include "unicode/utf8_codec.h"

namespace quorvel {
namespace {

struct Profile {
  bool case_fold;
  tables::Flags prohibited;  // flags of char_tables.h that the profile refuses
  const ascii::ClassTable& ascii_classes;
};

constexpr tables::Flags kAlwaysProhibited = tables::kProhibited;

const Profile kNodeprep{true,
                        kAlwaysProhibited | tables::kAsciiSpace | tables::kAsciiControl |
                            tables::kNodeExtra,
                        ascii::kNodeClasses};
const Profile kNameprep{true, kAlwaysProhibited, ascii::kNameClasses};
const Profile kResourceprep{false, kAlwaysProhibited | tables::kAsciiControl,
                            ascii::kResourceClasses};

// Steps 4 to 6 over the normalised text: the prohibited set, the
// bidirectional rule and unassigned code points. All but the bidi rule need
// only the union of the code points' flags, so adding a code point is one
// OR; the first and last code points, which the bidi rule also needs, are
// looked up from the text itself, and only when it holds RandALCat.
class OutputCheck {
 public:
  explicit OutputCheck(tables::Flags prohibited_mask) noexcept
      : prohibited_mask_(prohibited_mask) {}

  void add(tables::Flags flags) noexcept { any_ |= flags; }

  void add_all(std::string_view text) noexcept {
    for (std::size_t i = 0; i < text.size();) add(tables::flags(utf8::decode(text, i)));
  }

  // A code point the profiles' Unicode version does not have, found before
  // normalisation.
  void add_unassigned() noexcept { any_ |= tables::kUnassigned; }

  void reset() noexcept { any_ = 0; }

  // `text` is the checked text, valid UTF-8.
  std::optional<ProfileFailure> failure(std::string_view text) const noexcept {
    if (any_ & prohibited_mask_) return ProfileFailure::Prohibited;
    // First and last are looked up only for a text with a RandALCat character.
    if ((any_ & tables::kRandAL) &&
        !prep::passes_bidi(any_, first_flags(text), last_flags(text), tables::kRandAL,
                           tables::kLCat)) {
      return ProfileFailure::Bidi;
    }
    if (any_ & tables::kUnassigned) return ProfileFailure::Unassigned;
    return std::nullopt;
  }

 private:
  static tables::Flags first_flags(std::string_view text) noexcept {
    std::size_t i = 0;
    return tables::flags(utf8::decode(text, i));
  }

  static tables::Flags last_flags(std::string_view text) noexcept {
    std::size_t i = text.size() - 1;
    while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
    return tables::flags(utf8::decode(text, i));
  }

  tables::Flags prohibited_mask_;
  tables::Flags any_ = 0;
};

// Steps 2 to 7 of the profile procedure for a text that is not plain ASCII.
ProfileResult prepare_general(std::string_view input, const Profile& profile) {
  // Mapping. The mapped text is only materialised once something changes,
  // and its code points are checked as output on the way, which is what
  // they are whenever normalisation leaves the text alone (the usual case);
  // otherwise the check starts again on the normalised text.
  OutputCheck check(profile.prohibited);
  std::string mapped;
  bool mapping_changed = false;
  std::size_t copied = 0;  // input[0, copied) is in `mapped`, mapped
  bool newer = false;      // a code point first assigned after Unicode 16.0
  // kNfkcInert while every code point of the mapped text is NFKC-inert.
  tables::Flags inert = tables::kNfkcInert;
  for (std::size_t i = 0; i < input.size();) {
    const std::size_t start = i;
    const auto b = static_cast<unsigned char>(input[i]);
    if (b < 0x80 && !(profile.case_fold && static_cast<unsigned>(b - 'A') < 26u)) {
      // ASCII that stays: never in B.1, always NFKC-inert, never new.
      check.add(tables::generated::ascii_flags[b]);
      ++i;
      continue;
    }
    const char32_t c = utf8::decode(input, i);
    if (c == utf8::kInvalid) return ProfileFailure::InvalidUtf8;
    const tables::Flags f = tables::flags(c);
    newer |= (f & tables::kAssignedAfter16) != 0;
    const bool drop = (f & tables::kMapToNothing) != 0;
    const bool fold = profile.case_fold && (f & tables::kCaseFold) != 0;
    if (!drop && !fold) {
      inert &= f;
      check.add(f);
      continue;
    }
    if (!mapping_changed) {
      mapping_changed = true;
      mapped.reserve(input.size());  // folding rarely grows a text; short ones stay inline
    }
    mapped.append(input.substr(copied, start - copied));
    copied = i;
    if (fold) {
      const std::string_view folded = tables::case_fold(c);
      mapped.append(folded);
      check.add_all(folded);
      if (!(f & tables::kFoldInert)) inert = 0;
    }
  }
  if (mapping_changed) mapped.append(input.substr(copied));
  const std::string_view mapped_view = mapping_changed ? std::string_view(mapped) : input;

  // Normalisation. A text whose every code point is NFKC-inert is its own
  // NFKC, which is the common case and needs no second pass. (Code points
  // mapped to nothing do not matter: inert ones stay inert side by side.)
  std::string normalized;
  const bool normalization_changed = !inert && unicode::to_nfkc(mapped_view, normalized);

  if (normalization_changed) {
    check.reset();
    check.add_all(normalized);
  }
  if (newer) check.add_unassigned();
  if (auto failed = check.failure(normalization_changed ? std::string_view(normalized) : mapped_view)) {
    return *failed;
  }
  if (normalization_changed) return PreparedText::owned(std::move(normalized));
  if (mapping_changed) return PreparedText::owned(std::move(mapped));
  return PreparedText::unchanged(input);
}

// The usual non-ASCII part (a localpart like "j\u00fcrgen", a resource in
// any script): each character one that the mapping keeps (ASCII capitals
// aside, under a folding profile), NFKC-inert and refused by nothing, so
// the text is its own output, or that with ASCII capitals folded. One flags
// look-up per character decides; anything else, refusals included, is
// left to prepare_general (Undecided), which the tests hold it to.
enum class Kept : std::uint8_t { Unchanged, Lowered, Undecided };

// What the one pass takes for granted of ASCII, which it reads from the flat
// array without the checks it makes of other characters.
constexpr bool ascii_is_kept_by_mapping_and_nfkc() {
  for (tables::Flags f : tables::generated::ascii_flags) {
    if (f & (tables::kMapToNothing | tables::kAssignedAfter16 | tables::kUnassigned)) return false;
    if (!(f & tables::kNfkcInert)) return false;
  }
  return true;
}
static_assert(ascii_is_kept_by_mapping_and_nfkc());

Kept kept_as_written(std::string_view input, const Profile& profile) noexcept {
  const tables::Flags leave = tables::kMapToNothing | tables::kAssignedAfter16 |
                              tables::kUnassigned | profile.prohibited |
                              (profile.case_fold ? tables::kCaseFold : 0);
  const auto* p = reinterpret_cast<const unsigned char*>(input.data());
  const std::size_t n = input.size();
  // ASCII bytes only gather their flags into `ascii`: none is RandALCat, so
  // the bidi rule needs nothing else of them, and the loop over an ASCII run
  // stays a load, a look-up and an OR per byte. The flags of the first and
  // last characters come from the ends of the text afterwards.
  tables::Flags any = 0;
  tables::Flags ascii = 0;  // of the ASCII bytes alone: refused, or capitals to fold
  tables::Flags first_wide = 0;
  tables::Flags last_wide = 0;
  std::size_t last_wide_end = 0;
  for (std::size_t i = 0; i < n;) {
    if (p[i] < 0x80) {
      ascii |= tables::generated::ascii_flags[p[i]];
      ++i;
      continue;
    }
    const char32_t c = utf8::decode(input, i);
    if (c == utf8::kInvalid) return Kept::Undecided;
    const tables::Flags f = tables::generated::flags_lookup(c);
    if ((f & leave) || !(f & tables::kNfkcInert)) return Kept::Undecided;
    // kNfkcInert is set, so `any` is zero exactly until the first of these.
    if (any == 0) first_wide = f;
    any |= f;
    last_wide = f;
    last_wide_end = i;
  }
  const tables::Flags first = p[0] < 0x80 ? tables::generated::ascii_flags[p[0]] : first_wide;
  const tables::Flags last =
      last_wide_end == n ? last_wide : tables::generated::ascii_flags[p[n - 1]];
  any |= ascii;
  if (ascii & profile.prohibited) return Kept::Undecided;
  // The bidi rule: RandALCat only without LCat, and then first and last.
  if (!prep::passes_bidi(any, first, last, tables::kRandAL, tables::kLCat)) {
    return Kept::Undecided;
  }
  return profile.case_fold && (ascii & tables::kCaseFold) ? Kept::Lowered : Kept::Unchanged;
}

ProfileResult run_profile(std::string_view input, const Profile& profile, bool one_pass) {
  // The word-at-a-time ASCII test first: a text that is not ASCII would
  // otherwise pay for a table look-up per byte before the general path.
  if (!scan::is_ascii(input)) {
    if (one_pass) {
      switch (kept_as_written(input, profile)) {
        case Kept::Unchanged:
          return PreparedText::unchanged(input);
        case Kept::Lowered:
          return PreparedText::ascii_lowered(input);
        case Kept::Undecided:
          break;
      }
    }
    return prepare_general(input, profile);
  }
  switch (ascii::classify(input, profile.ascii_classes)) {
    case ascii::Outcome::Unchanged:
      return PreparedText::unchanged(input);
    case ascii::Outcome::Lowered:
      return PreparedText::ascii_lowered(input);
    case ascii::Outcome::Prohibited:
      return ProfileFailure::Prohibited;
    case ascii::Outcome::NotAscii:
      break;
  }
  return prepare_general(input, profile);
}

}  // namespace

ProfileResult nodeprep(std::string_view text) { return run_profile(text, kNodeprep, true); }
ProfileResult nameprep(std::string_view text) { return run_profile(text, kNameprep, true); }
ProfileResult resourceprep(std::string_view text) {
  return run_profile(text, kResourceprep, true);
}

ProfileResult nodeprep_general(std::string_view text) {
  return run_profile(text, kNodeprep, false);
}
ProfileResult nameprep_general(std::string_view text) {
  return run_profile(text, kNameprep, false);
}
ProfileResult resourceprep_general(std::string_view text) {
  return run_profile(text, kResourceprep, false);
}

}  // namespace quorvel

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
// points. Plain ASCII takes the byte-class shortcut of profile_ascii.h.
#include <optional>
#include <string>

#include "char_tables.h"
#include "profile_ascii.h"
#include "quorvel/profiles.h"
#include "unicode/normalize.h"
#include "utf8.h"

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

// Steps 4 to 6 over the normalised text, one code point at a time: the
// prohibited set, the bidirectional rule and unassigned code points.
class OutputCheck {
 public:
  explicit OutputCheck(const Profile& profile) noexcept
      : prohibited_mask_(profile.prohibited) {}

  void add(tables::Flags flags) noexcept {
    prohibited_ |= (flags & prohibited_mask_) != 0;
    unassigned_ |= (flags & tables::kUnassigned) != 0;
    const bool randal = (flags & tables::kRandAL) != 0;
    any_randal_ |= randal;
    any_l_ |= (flags & tables::kLCat) != 0;
    if (!seen_any_) first_randal_ = randal;
    seen_any_ = true;
    last_randal_ = randal;
  }

  void add_all(std::string_view text) noexcept {
    for (std::size_t i = 0; i < text.size();) add(tables::flags(utf8::decode(text, i)));
  }

  // A code point the profiles' Unicode version does not have, found before
  // normalisation.
  void add_unassigned() noexcept { unassigned_ = true; }

  std::optional<ProfileFailure> failure() const noexcept {
    if (prohibited_) return ProfileFailure::Prohibited;
    if (any_randal_ && (any_l_ || !first_randal_ || !last_randal_)) return ProfileFailure::Bidi;
    if (unassigned_) return ProfileFailure::Unassigned;
    return std::nullopt;
  }

 private:
  tables::Flags prohibited_mask_;
  bool prohibited_ = false;
  bool unassigned_ = false;
  bool any_randal_ = false;
  bool any_l_ = false;
  bool first_randal_ = false;
  bool last_randal_ = false;
  bool seen_any_ = false;
};

// Steps 2 to 7 of the profile procedure for a text that is not plain ASCII.
ProfileResult prepare_general(std::string_view input, const Profile& profile) {
  // Mapping. The mapped text is only materialised once something changes.
  // Until then the input's code points are also checked as output, which
  // is what they are in the usual case of an already prepared part.
  OutputCheck input_check(profile);
  std::string mapped;
  bool mapping_changed = false;
  tables::Flags seen_any = 0;                       // union of the input's flags
  tables::Flags seen_all = tables::kNfkcInert;      // intersection, for kNfkcInert
  for (std::size_t i = 0; i < input.size();) {
    const std::size_t start = i;
    const char32_t c = utf8::decode(input, i);
    if (c == utf8::kInvalid) return ProfileFailure::InvalidUtf8;
    const tables::Flags f = tables::flags(c);
    seen_any |= f;
    seen_all &= f;
    const bool drop = (f & tables::kMapToNothing) != 0;
    const bool fold = profile.case_fold && (f & tables::kCaseFold) != 0;
    if (!drop && !fold) {
      if (mapping_changed) {
        mapped.append(input.substr(start, i - start));
      } else {
        input_check.add(f);
      }
      continue;
    }
    if (!mapping_changed) {
      mapping_changed = true;
      mapped.reserve(input.size() + 8);
      mapped.append(input.substr(0, start));
    }
    if (fold) mapped.append(tables::case_fold(c));
  }
  const std::string_view mapped_view = mapping_changed ? std::string_view(mapped) : input;
  const bool newer = (seen_any & tables::kAssignedAfter16) != 0;

  // Normalisation. A text whose every code point is NFKC-inert is its own
  // NFKC, which is the common case and needs no second pass.
  std::string normalized;
  const bool normalization_changed =
      !(!mapping_changed && (seen_all & tables::kNfkcInert)) &&
      unicode::to_nfkc(mapped_view, normalized);
  const std::string_view out = normalization_changed ? std::string_view(normalized) : mapped_view;

  if (!mapping_changed && !normalization_changed) {
    if (newer) input_check.add_unassigned();
    if (auto failed = input_check.failure()) return *failed;
    return PreparedText::unchanged(input);
  }
  OutputCheck output_check(profile);
  output_check.add_all(out);
  if (newer) output_check.add_unassigned();
  if (auto failed = output_check.failure()) return *failed;
  if (normalization_changed) return PreparedText::owned(std::move(normalized));
  return PreparedText::owned(std::move(mapped));
}

ProfileResult run_profile(std::string_view input, const Profile& profile) {
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

ProfileResult nodeprep(std::string_view text) { return run_profile(text, kNodeprep); }
ProfileResult nameprep(std::string_view text) { return run_profile(text, kNameprep); }
ProfileResult resourceprep(std::string_view text) { return run_profile(text, kResourceprep); }

}  // namespace quorvel

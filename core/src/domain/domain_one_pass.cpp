#include "domain/domain_one_pass.h"

#include <array>

#include "domain/idna_check.h"
#include "domain/label_shape.h"
#include "domain/limits.h"
#include "prep/bidi.h"
#include "prep/char_tables.h"
#include "simd/scan.h"
#include "tables/domain_one_pass.h"
#include "unicode/bidi_rule.h"
#include "unicode/idna_properties.h"
#include "unicode/utf8_codec.h"

namespace quorvel::domain_one_pass {
namespace {

using unicode::idna::BidiClass;

using label_shape::ascii_form_length;
using label_shape::hyphens_at_3_and_4;
// Every character of a domain that passes costs at least one byte of its
// ASCII form and at most four of UTF-8: a longer text cannot pass, and is
// not worth a look here.
constexpr std::size_t kMaxBytes = 4 * dns::kMaxDomainBytes;

// What the pass knows of one character, as one word, so that a label is
// judged by OR-ing the words of its characters: the bit of its Bidi_Class
// (1 << class, as the bidi rule keeps its sets) below, flags above.
using Facts = std::uint32_t;
constexpr Facts kRefused = 1u << 31;  // decided by the general path: denied, or not in the table
constexpr Facts kCapital = 1u << 30;  // ASCII A-Z: mapped by UTS #46, folded by nameprep
constexpr Facts kFolds = 1u << 29;    // folded by nameprep (kFold of the table)
constexpr Facts kHyphen = 1u << 28;
constexpr Facts kMark = 1u << 27;     // General_Category Mark: may not start a label
constexpr Facts kBidiBits = (1u << 23) - 1;
static_assert(static_cast<unsigned>(BidiClass::PDI) < 23, "a Bidi_Class bit would hit a flag");

constexpr Facts bidi_bit(BidiClass c) noexcept { return Facts{1} << static_cast<unsigned>(c); }
constexpr Facts kNsm = bidi_bit(BidiClass::NSM);
constexpr Facts kRandAL = bidi_bit(BidiClass::R) | bidi_bit(BidiClass::AL);
constexpr Facts kL = bidi_bit(BidiClass::L);

constexpr std::array<Facts, 128> kAsciiFacts = [] {
  std::array<Facts, 128> t{};
  for (std::size_t c = 0; c < t.size(); ++c) {
    Facts f = bidi_bit(static_cast<BidiClass>(unicode::idna::generated::kPropertyAscii[c] &
                                              unicode::idna::generated::kBidiMask));
    if (idna::kDeniedBytes[c]) f |= kRefused;
    if (c >= 'A' && c <= 'Z') f |= kCapital;
    if (c == '-') f |= kHyphen;
    t[c] = f;
  }
  return t;
}();

// The facts of a non-ASCII character from its byte of the generated table.
constexpr std::array<Facts, 256> kTableFacts = [] {
  std::array<Facts, 256> t{};
  for (std::size_t v = 0; v < t.size(); ++v) {
    if (!(v & (generated::kKeep | generated::kFold))) {
      t[v] = kRefused;
      continue;
    }
    Facts f = bidi_bit(static_cast<BidiClass>(v & generated::kBidiMask));
    if (v & generated::kFold) f |= kFolds;
    if (v & generated::kMark) f |= kMark;
    t[v] = f;
  }
  return t;
}();

// Nameprep reads ASCII from its own flags; the pass reads the Bidi_Class. The
// two must tell the same, and nameprep must refuse no ASCII character (the
// IDNA check's deny set is what refuses them in a domain). ASCII holds no
// marks and no NSM, which the loop below relies on.
constexpr bool ascii_agrees_with_nameprep() {
  for (std::size_t c = 0; c < 128; ++c) {
    const tables::Flags f = tables::generated::ascii_flags[c];
    const Facts a = kAsciiFacts[c];
    if (((f & tables::kRandAL) != 0) != ((a & kRandAL) != 0)) return false;
    if (((f & tables::kLCat) != 0) != ((a & kL) != 0)) return false;
    if (f & (tables::kProhibited | tables::kUnassigned | tables::kMapToNothing)) return false;
    if (((f & tables::kCaseFold) != 0) != (c >= 'A' && c <= 'Z')) return false;
    if (!(f & tables::kNfkcInert)) return false;
    if (a & (kMark | kNsm)) return false;
  }
  return true;
}
static_assert(ascii_agrees_with_nameprep());

// What folding one character does to its label, so that nameprep's output
// is judged in the same pass: the characters its mapping has, how many of
// them are ASCII, and the largest of the others. `plain` says the mapping
// is made of characters of the folded one's Bidi_Class that the pass keeps
// and that are neither marks nor hyphens; only then do the label's rules
// other than its lengths give the same verdict on the output.
struct FoldGrowth {
  std::size_t characters = 0;
  std::size_t basic = 0;
  char32_t largest = 0;
  bool plain = true;
};

FoldGrowth fold_growth(char32_t c, Facts folded) noexcept {
  FoldGrowth g;
  const std::string_view mapping = tables::case_fold(c);
  for (std::size_t i = 0; i < mapping.size();) {
    const char32_t m = utf8::decode(mapping, i);
    Facts f;
    if (m < 0x80) {
      f = kAsciiFacts[m];
      ++g.basic;
    } else {
      f = m == utf8::kInvalid ? kRefused : kTableFacts[generated::one_pass_lookup(m)];
      if (m > g.largest) g.largest = m;
    }
    if ((f & (kRefused | kCapital | kFolds | kHyphen | kMark)) ||
        (f & kBidiBits) != (folded & kBidiBits)) {
      g.plain = false;
    }
    ++g.characters;
  }
  if (g.characters == 0) g.plain = false;
  return g;
}

// What a pass found that nameprep changes, and whether nameprep's output
// is known to pass the IDNA check as well (judged from the folds' growth).
struct Changes {
  bool capitals = false;
  bool folds = false;
  bool folded_passes = false;
};

// Whether `text`, taken as both the mapped text of the IDNA check and
// nameprep's input, passes both, every character being one the table keeps
// or folds; false for anything else, refusals included.
bool passes(std::string_view text, Changes& changes) noexcept {
  const std::size_t n = text.size();
  if (n == 0 || n > kMaxBytes) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t ascii_length = 0;  // of the ASCII form, Punycode lengths bounded from above
  Facts domain_seen = 0;
  bool bidi_domain = false;
  bool every_label_passes_bidi = true;
  Facts domain_first = 0;  // nameprep's bidi rule reads the first and last character
  Facts last = 0;
  // The same of nameprep's output, where folds change the lengths.
  std::size_t folded_ascii_length = 0;
  bool folded_plain = true;
  std::size_t i = 0;
  while (true) {
    const std::size_t start = i;
    Facts seen = 0;
    Facts first = 0;
    Facts last_not_nsm = 0;  // the bidi rule's end conditions look past NSMs
    std::size_t characters = 0;
    std::size_t basic = 0;
    char32_t largest = 0;
    // The folded label: characters and ASCII ones its folds add, and a
    // bound on its largest non-ASCII character.
    bool label_folds = false;
    std::size_t folded_added = 0;
    std::size_t folded_basic = 0;
    char32_t folded_largest = 0;
    while (i < n && p[i] != '.') {
      if (p[i] < 0x80) {
        // A run of ASCII: one OR per byte; its ends are the only bytes
        // the first and last characters can be (ASCII has no NSM).
        const std::size_t run = i;
        Facts run_seen = 0;
        do {
          run_seen |= kAsciiFacts[p[i]];
          ++i;
        } while (i < n && p[i] < 0x80 && p[i] != '.');
        if (characters == 0) first = kAsciiFacts[p[run]];
        last = last_not_nsm = kAsciiFacts[p[i - 1]];
        seen |= run_seen;
        characters += i - run;
        basic += i - run;
        continue;
      }
      const char32_t c = utf8::decode(text, i);
      if (c == utf8::kInvalid) return false;
      const Facts f = kTableFacts[generated::one_pass_lookup(c)];
      if (c > largest) largest = c;
      if (f & kFolds) {
        // Replaced by its mapping in the output (one character counted
        // here becomes g.characters there).
        const FoldGrowth g = fold_growth(c, f);
        label_folds = true;
        folded_plain &= g.plain;
        folded_added += g.characters - (g.characters > 0 ? 1 : 0);
        folded_basic += g.basic;
        if (g.largest > folded_largest) folded_largest = g.largest;
      }
      if (characters == 0) first = f;
      seen |= f;
      last = f;
      if (!(f & kNsm)) last_not_nsm = f;
      ++characters;
    }
    if (characters == 0 || (seen & kRefused) || (first & kMark)) return false;
    const std::string_view label = text.substr(start, i - start);
    // CheckHyphens, counted in characters.
    if ((seen & kHyphen) &&
        (label.front() == '-' || label.back() == '-' || hyphens_at_3_and_4(label))) {
      return false;
    }
    const std::size_t length = ascii_form_length(characters, basic, largest);
    if (length > dns::kMaxLabelBytes) return false;
    ascii_length += length;
    if (label_folds) {
      // Hyphens may move into the third and fourth places: the output's
      // own pass decides such a label.
      folded_plain &= !(seen & kHyphen);
      const std::size_t folded_length =
          ascii_form_length(characters + folded_added, basic + folded_basic,
                            folded_largest > largest ? folded_largest : largest);
      folded_plain &= folded_length <= dns::kMaxLabelBytes;
      folded_ascii_length += folded_length;
    } else {
      folded_ascii_length += length;
    }
    const Facts bidi = seen & kBidiBits;
    bidi_domain |= unicode::idna::has_rtl_character(bidi);
    every_label_passes_bidi &=
        unicode::idna::label_passes_bidi_rule(bidi, first & kBidiBits, last_not_nsm & kBidiBits);
    if (start == 0) domain_first = first;
    domain_seen |= seen;
    if (i == n) break;
    ++i;  // the dot
    ++ascii_length;
    ++folded_ascii_length;
  }
  if (ascii_length > dns::kMaxDomainBytes) return false;
  if (bidi_domain && !every_label_passes_bidi) return false;
  if (!prep::passes_bidi(domain_seen, domain_first, last, kRandAL, kL)) return false;
  changes.capitals = (domain_seen & kCapital) != 0;
  changes.folds = (domain_seen & kFolds) != 0;
  changes.folded_passes =
      changes.folds && folded_plain && folded_ascii_length <= dns::kMaxDomainBytes;
  return true;
}

// Nameprep's mapping of a text the pass took: capitals and the characters
// the table folds, replaced by their B.2 mappings. Each folded character
// maps to as many bytes as it takes (the generator checks that), so the
// text is copied once and changed in place; a mapping of another length
// would leave the text to the general path.
bool fold(std::string_view text, std::string& out) {
  out.assign(text);
  char* w = out.data();
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (static_cast<unsigned>(b - 'A') < 26u) w[i] = static_cast<char>(b | 0x20);
      ++i;
      continue;
    }
    const std::size_t start = i;
    const char32_t c = utf8::decode(text, i);
    if (!(generated::one_pass_lookup(c) & generated::kFold)) continue;
    const std::string_view mapped = tables::case_fold(c);
    if (mapped.size() != i - start) return false;
    for (std::size_t k = 0; k < mapped.size(); ++k) w[start + k] = mapped[k];
  }
  return true;
}

// Whether nameprep's output, a new text, passes the IDNA check as well.
bool folded_passes(std::string_view folded) noexcept {
  // ß folds to ASCII: the byte scan of plain ASCII domains decides.
  if (scan::is_ascii(folded)) return idna::check_ascii(folded) == idna::Verdict::Pass;
  Changes again;
  return passes(folded, again) && !again.capitals && !again.folds;
}

}  // namespace

Outcome prepare(std::string_view domain, std::string& folded) {
  Changes changes;
  if (!passes(domain, changes)) return Outcome::Undecided;
  if (!changes.folds) return changes.capitals ? Outcome::Lowered : Outcome::Unchanged;
  // Nameprep's output is a new text, which the IDNA check must pass too (see
  // prepare_domain.cpp); it is made of kept characters or the pass refuses it.
  // When the pass could judge the output too, the fold is all that is left.
  if (!fold(domain, folded) || !(changes.folded_passes || folded_passes(folded))) {
    return Outcome::Undecided;
  }
  return Outcome::Folded;
}

std::size_t quick_length_bound_for_tests(std::size_t characters, std::size_t basic,
                                         char32_t largest) noexcept {
  return label_shape::quick_length_bound(characters, basic, largest);
}

}  // namespace quorvel::domain_one_pass

#include "unicode/to_ascii.h"

#include <array>
#include <span>

#include "tables/idna_properties.h"
#include "unicode/dns_length.h"
#include "unicode/label_validity.h"
#include "unicode/normalize.h"
#include "unicode/punycode.h"
#include "unicode/text_buffer.h"
#include "unicode/utf8_codec.h"

namespace quorvel::unicode::idna {
namespace {

constexpr std::string_view kAcePrefix = "xn--";
// A label with a non-ASCII character becomes "xn--" and its Punycode, which
// takes at least one byte per character.
constexpr std::size_t kMaxLabelCharacters = dns::kMaxLabelBytes - kAcePrefix.size();
// Every character of a domain that passes takes at least one byte of its
// ASCII form, and normalisation shrinks a text at most by the longest
// canonical decomposition: a mapped text longer than this (four bytes per
// character) cannot pass. It is also the size of the stack buffer that
// holds it, so a verdict never allocates for mapping.
constexpr std::size_t kMaxMappedBytes =
    4 * generated::kMaxCanonicalDecomposition * dns::kMaxDomainBytes;
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
// ZERO WIDTH NON-JOINER and JOINER, the two characters CONTEXTJ is about;
// no mapping produces either, so the mapping step sees every one.
constexpr char32_t kZwnj = 0x200C;
constexpr char32_t kZwj = 0x200D;

enum class Operation { ToAscii, ToUnicode };

// Scratch space for one label's characters: on the stack for labels that can
// pass, on the heap for longer ones (conformance runs keep going after an
// error, and ToUnicode has no length limit).
class CodePoints {
 public:
  std::span<char32_t> get(std::size_t n) {
    if (n <= small_.size()) return {small_.data(), n};
    large_.resize(n);
    return {large_.data(), n};
  }

 private:
  std::array<char32_t, dns::kMaxLabelBytes> small_;
  std::u32string large_;
};

class Processor {
 public:
  Processor(const Options& options, Operation operation, bool verdict_only, bool estimate_lengths)
      : options_(options),
        table_(options.table != nullptr ? *options.table : mapping_17_0_0()),
        operation_(operation),
        verdict_only_(verdict_only),
        verify_dns_length_(operation == Operation::ToAscii && options.verify_dns_length),
        estimate_lengths_(estimate_lengths) {}

  std::uint32_t run(std::string_view domain, std::string* out);

  // Whether the domain came out too long only because some labels' lengths
  // were estimated: then their exact lengths decide.
  bool needs_exact_lengths() const noexcept {
    return estimated_ && errors_ == kDomainLength;
  }

 private:
  bool stopped() const noexcept { return verdict_only_ && errors_ != 0; }
  bool map(std::string_view domain);
  void label(std::string_view label, bool only, bool last, std::string* out);
  std::size_t ascii_form(std::string_view unicode, std::span<const char32_t> decoded,
                         const LabelVerdict& facts, std::string* out);

  const Options& options_;
  const MappingTable& table_;
  const Operation operation_;
  const bool verdict_only_;
  const bool verify_dns_length_;
  const bool estimate_lengths_;
  std::uint32_t errors_ = 0;
  bool estimated_ = false;
  // Whether the mapped text holds U+200C or U+200D.
  bool joiners_seen_ = false;
  // Whether normalisation changed the mapped text, so that its statuses
  // must be looked up again.
  bool normalised_ = false;
  bool bidi_domain_ = false;
  bool all_labels_pass_bidi_ = true;
  std::size_t ascii_length_ = 0;

  TextBuffer<kMaxMappedBytes + 64> mapped_;
  CodePoints code_points_;
  TextBuffer<4 * dns::kMaxLabelBytes> decoded_;
  TextBuffer<dns::kMaxLabelBytes + 1> encoded_;
};

// Step 1: each character's status and mapping. Returns whether the result
// holds a character that may need normalising.
bool Processor::map(std::string_view domain) {
  const bool bounded = verdict_only_ && verify_dns_length_;
  bool attention = false;
  const std::size_t n = domain.size();
  for (std::size_t i = 0; i < n;) {
    if (static_cast<unsigned char>(domain[i]) < 0x80) {
      // A run of ASCII: capitals fold, everything else stays.
      std::size_t end = i + 1;
      while (end < n && static_cast<unsigned char>(domain[end]) < 0x80) ++end;
      if (bounded && mapped_.size() + (end - i) > kMaxMappedBytes) {
        errors_ |= kDomainLength;
        return false;
      }
      char* out = mapped_.extend(end - i);
      for (; i < end; ++i) {
        const char c = domain[i];
        *out++ = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
      }
      continue;
    }
    const std::size_t start = i;
    const char32_t c = utf8::decode(domain, i);
    if (c == utf8::kInvalid) {
      errors_ |= kInvalidUtf8;
      if (verdict_only_) return false;
      mapped_.append(kReplacementCharacter);
      continue;
    }
    const Mapping m = lookup(table_, c);
    attention |= m.nfc_attention;
    switch (m.status) {
      case Status::Disallowed:
        // Kept, so that the output shows it; the label fails.
        errors_ |= kDisallowed;
        if (verdict_only_) return false;
        mapped_.append(domain.data() + start, i - start);
        break;
      case Status::Deviation:
        joiners_seen_ |= c == kZwnj || c == kZwj;
        [[fallthrough]];
      case Status::Valid:
        mapped_.append(domain.data() + start, i - start);
        break;
      case Status::Ignored:
        break;
      case Status::Mapped:
        mapped_.append(m.replacement);
        break;
    }
    if (bounded && mapped_.size() > kMaxMappedBytes) {
      errors_ |= kDomainLength;
      return false;
    }
  }
  return attention;
}

// The length of a processed label's ASCII form, appended to `out` if
// given: the label itself when it is ASCII, else "xn--" and the Punycode of
// its characters (`decoded` when the caller has them already). A verdict
// takes Punycode's cheap length bound instead where that shows the label
// fits, and notes that it did.
std::size_t Processor::ascii_form(std::string_view unicode, std::span<const char32_t> decoded,
                                  const LabelVerdict& facts, std::string* out) {
  if (facts.basic == facts.characters) {
    if (out != nullptr) out->append(unicode);
    return unicode.size();
  }
  const bool bounded = verdict_only_ && verify_dns_length_;
  if (bounded) {
    if (facts.characters > kMaxLabelCharacters) {
      errors_ |= kLabelLength;
      return 0;
    }
    const std::size_t bound =
        kAcePrefix.size() +
        punycode::encoded_length_bound(facts.characters, facts.basic, facts.largest);
    if (estimate_lengths_ && bound <= dns::kMaxLabelBytes) {
      estimated_ = true;
      return bound;
    }
  }
  if (decoded.empty()) {
    const std::span<char32_t> points = code_points_.get(facts.characters);
    std::size_t k = 0;
    for (std::size_t i = 0; i < unicode.size() && k < points.size();) {
      points[k++] = utf8::decode(unicode, i);
    }
    decoded = points;
  }
  // A verdict needs room for a label that can pass only; anything else gets
  // room for any result.
  std::array<char, dns::kMaxLabelBytes> small;
  std::string large;
  std::span<char> room = std::span<char>(small).first(kMaxLabelCharacters);
  if (!bounded) {
    large.resize(punycode::max_encoded_length(decoded.size()));
    room = std::span<char>(large);
  }
  const std::optional<std::size_t> n = punycode::encode(decoded, room);
  if (!n) {
    errors_ |= bounded ? kLabelLength : kEncodeOverflow;
    return 0;
  }
  if (out != nullptr) out->append(kAcePrefix).append(room.data(), *n);
  return kAcePrefix.size() + *n;
}

void Processor::label(std::string_view label, bool only, bool last, std::string* out) {
  if (label.empty()) {
    if (verify_dns_length_) errors_ |= kLabelLength;
    if (operation_ == Operation::ToUnicode && (only || !last)) errors_ |= kEmptyLabel;
    return;
  }
  std::string_view unicode = label;
  std::span<const char32_t> decoded;
  LabelVerdict verdict;
  if (label.size() >= kAcePrefix.size() && label.substr(0, kAcePrefix.size()) == kAcePrefix) {
    // Step 4, for a label in Punycode: decode, then judge what it stands for.
    const std::string_view body = label.substr(kAcePrefix.size());
    const std::size_t room =
        verdict_only_ && verify_dns_length_ ? kMaxLabelCharacters : body.size();
    const std::span<char32_t> points = code_points_.get(room);
    bool ascii = true;
    for (char c : body) ascii &= static_cast<unsigned char>(c) < 0x80;
    const std::optional<std::size_t> n = ascii ? punycode::decode(body, points) : std::nullopt;
    if (!n) {
      // The label stays as written, and is not judged further; only its
      // ASCII form is still wanted.
      errors_ |= kPunycode;
      if (verdict_only_) return;
      verdict = check_label(label, options_, table_, {});
      verdict.errors = 0;
      verdict.has_rtl_character = false;
      verdict.passes_bidi_rule = true;
    } else {
      decoded = points.first(*n);
      decoded_.clear();
      for (char32_t c : decoded) {
        char bytes[4];
        decoded_.append(bytes, utf8::encode(c, bytes));
      }
      unicode = decoded_.view();
      if (decoded.empty()) {
        errors_ |= kPunycode;
      } else {
        if (!is_nfc(unicode)) errors_ |= kNotNfc;
        verdict = check_label(unicode, options_, table_, {});
        // A Punycode label must stand for a label that needed it.
        if (verdict.basic == verdict.characters) errors_ |= kPunycode;
      }
    }
  } else {
    verdict = check_label(label, options_, table_,
                          {.check_status = normalised_, .may_hold_joiners = joiners_seen_});
  }
  errors_ |= verdict.errors;
  bidi_domain_ |= verdict.has_rtl_character;
  all_labels_pass_bidi_ &= verdict.passes_bidi_rule;
  if (stopped()) return;

  if (operation_ == Operation::ToUnicode) {
    if (out != nullptr) out->append(unicode);
    return;
  }
  const std::size_t length = ascii_form(unicode, decoded, verdict, out);
  if (stopped()) return;
  if (verify_dns_length_ && length > dns::kMaxLabelBytes) errors_ |= kLabelLength;
  ascii_length_ += length;
}

std::uint32_t Processor::run(std::string_view domain, std::string* out) {
  const bool attention = map(domain);
  if (stopped()) return errors_;

  // Step 2: NFC, skipped when every character is already simple for it.
  std::string normalised;
  std::string_view text = mapped_.view();
  if (attention && to_nfc(text, normalised)) {
    text = normalised;
    normalised_ = true;
  }

  // Steps 3 and 4 (and the labels' part of ToASCII): label by label.
  if (out != nullptr) out->clear();
  for (std::size_t start = 0;;) {
    std::size_t end = text.find('.', start);
    const bool last = end == std::string_view::npos;
    if (last) end = text.size();
    label(text.substr(start, end - start), start == 0 && last, last, out);
    if (stopped()) return errors_;
    if (last) break;
    if (out != nullptr) out->push_back('.');
    ++ascii_length_;
    start = end + 1;
  }
  if (options_.check_bidi && bidi_domain_ && !all_labels_pass_bidi_) errors_ |= kBidi;
  if (verify_dns_length_ && (ascii_length_ == 0 || ascii_length_ > dns::kMaxDomainBytes)) {
    errors_ |= kDomainLength;
  }
  return errors_;
}

}  // namespace

std::uint32_t to_ascii(std::string_view domain, const Options& options, std::string* out) {
  if (out != nullptr) return Processor(options, Operation::ToAscii, false, false).run(domain, out);
  std::uint32_t errors;
  {
    Processor estimating(options, Operation::ToAscii, true, true);
    errors = estimating.run(domain, nullptr);
    if (!estimating.needs_exact_lengths()) return errors;
  }
  return Processor(options, Operation::ToAscii, true, false).run(domain, nullptr);
}

std::uint32_t to_unicode(std::string_view domain, const Options& options, std::string& out) {
  return Processor(options, Operation::ToUnicode, false, false).run(domain, &out);
}

}  // namespace quorvel::unicode::idna

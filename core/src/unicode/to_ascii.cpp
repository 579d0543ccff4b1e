#include "to_ascii.h"

#include <array>
#include <span>

#include "generated/idna_properties.h"
#include "label_validity.h"
#include "normalize.h"
#include "punycode.h"
#include "text_buffer.h"
#include "utf8.h"

namespace quorvel::unicode::idna {
namespace {

constexpr std::size_t kMaxDomain = 253;
constexpr std::size_t kMaxLabel = 63;
constexpr std::string_view kAcePrefix = "xn--";
// A label with a non-ASCII character becomes "xn--" and its Punycode, which
// takes at least one byte per character.
constexpr std::size_t kMaxLabelCharacters = kMaxLabel - kAcePrefix.size();
// Every character of a domain that passes takes at least one byte of its
// ASCII form, and normalisation shrinks a text at most by the longest
// canonical decomposition: a mapped text longer than this (four bytes per
// character) cannot pass. It is also the size of the stack buffer that
// holds it, so a verdict never allocates for mapping.
constexpr std::size_t kMaxMappedBytes = 4 * generated::kMaxCanonicalDecomposition * kMaxDomain;
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// The UTF-8 bytes of a code point; returns how many.
std::size_t encode_utf8(char32_t c, char* out) noexcept {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

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
  std::array<char32_t, kMaxLabel> small_;
  std::u32string large_;
};

class Processor {
 public:
  Processor(const Options& options, Operation operation, bool verdict_only)
      : options_(options),
        table_(options.table != nullptr ? *options.table : mapping_17_0_0()),
        operation_(operation),
        verdict_only_(verdict_only),
        verify_dns_length_(operation == Operation::ToAscii && options.verify_dns_length) {}

  std::uint32_t run(std::string_view domain, std::string* out);

 private:
  bool stopped() const noexcept { return verdict_only_ && errors_ != 0; }
  bool map(std::string_view domain);
  void label(std::string_view label, bool only, bool last, std::string* out);
  std::string_view ascii_form(std::string_view unicode, std::span<const char32_t> decoded);

  const Options& options_;
  const MappingTable& table_;
  const Operation operation_;
  const bool verdict_only_;
  const bool verify_dns_length_;
  std::uint32_t errors_ = 0;
  // Whether normalisation changed the mapped text, so that its statuses
  // must be looked up again.
  bool normalised_ = false;
  bool bidi_domain_ = false;
  bool all_labels_pass_bidi_ = true;
  std::size_t ascii_length_ = 0;

  TextBuffer<kMaxMappedBytes + 64> mapped_;
  CodePoints code_points_;
  TextBuffer<4 * kMaxLabel> decoded_;
  TextBuffer<kMaxLabel + 1> encoded_;
};

// Step 1: each character's status and mapping. Returns whether the result
// holds a character that may need normalising.
bool Processor::map(std::string_view domain) {
  const bool bounded = verdict_only_ && verify_dns_length_;
  bool attention = false;
  for (std::size_t i = 0; i < domain.size();) {
    const auto b = static_cast<unsigned char>(domain[i]);
    if (b < 0x80) {
      mapped_.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b));
      ++i;
    } else {
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
          [[fallthrough]];
        case Status::Valid:
        case Status::Deviation:
          mapped_.append(domain.data() + start, i - start);
          break;
        case Status::Ignored:
          break;
        case Status::Mapped:
          mapped_.append(m.replacement);
          break;
      }
    }
    if (bounded && mapped_.size() > kMaxMappedBytes) {
      errors_ |= kDomainLength;
      return false;
    }
  }
  return attention;
}

// The ASCII form of a processed label: the label itself when it is ASCII,
// else "xn--" and the Punycode of its characters (`decoded` when the caller
// has them already).
std::string_view Processor::ascii_form(std::string_view unicode,
                                       std::span<const char32_t> decoded) {
  bool ascii = true;
  for (char c : unicode) ascii &= static_cast<unsigned char>(c) < 0x80;
  if (ascii) return unicode;
  if (decoded.empty()) {
    std::size_t n = 0;
    for (char c : unicode) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (verdict_only_ && verify_dns_length_ && n > kMaxLabelCharacters) {
      errors_ |= kLabelLength;
      return {};
    }
    const std::span<char32_t> points = code_points_.get(n);
    std::size_t k = 0;
    for (std::size_t i = 0; i < unicode.size();) points[k++] = utf8::decode(unicode, i);
    decoded = points;
  }
  encoded_.clear();
  encoded_.append(kAcePrefix);
  // A verdict needs room for a label that can pass only; anything else gets
  // room for any result.
  const bool bounded = verdict_only_ && verify_dns_length_;
  std::array<char, kMaxLabel> small;
  std::string large;
  std::span<char> room = std::span<char>(small).first(kMaxLabelCharacters);
  if (!bounded) {
    large.resize(punycode::max_encoded_length(decoded.size()));
    room = std::span<char>(large);
  }
  const std::optional<std::size_t> n = punycode::encode(decoded, room);
  if (!n) {
    errors_ |= bounded ? kLabelLength : kEncodeOverflow;
    return {};
  }
  encoded_.append(room.data(), *n);
  return encoded_.view();
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
      errors_ |= kPunycode;
      if (verdict_only_) return;
    } else {
      decoded = points.first(*n);
      bool only_ascii = true;
      decoded_.clear();
      for (char32_t c : decoded) {
        only_ascii &= c < 0x80;
        char bytes[4];
        decoded_.append(bytes, encode_utf8(c, bytes));
      }
      // A Punycode label must stand for a label that needed it.
      if (decoded.empty() || only_ascii) errors_ |= kPunycode;
      unicode = decoded_.view();
      if (!decoded.empty()) {
        if (!is_nfc(unicode)) errors_ |= kNotNfc;
        verdict = check_label(unicode, options_, table_, true);
      }
    }
  } else {
    verdict = check_label(label, options_, table_, normalised_);
  }
  errors_ |= verdict.errors;
  bidi_domain_ |= verdict.has_rtl_character;
  all_labels_pass_bidi_ &= verdict.passes_bidi_rule;
  if (stopped()) return;

  if (operation_ == Operation::ToUnicode) {
    if (out != nullptr) out->append(unicode);
    return;
  }
  const std::string_view ascii = ascii_form(unicode, decoded);
  if (stopped()) return;
  if (verify_dns_length_ && ascii.size() > kMaxLabel) errors_ |= kLabelLength;
  ascii_length_ += ascii.size();
  if (out != nullptr) out->append(ascii);
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
  if (verify_dns_length_ && (ascii_length_ == 0 || ascii_length_ > kMaxDomain)) {
    errors_ |= kDomainLength;
  }
  return errors_;
}

}  // namespace

std::uint32_t to_ascii(std::string_view domain, const Options& options, std::string* out) {
  Processor p(options, Operation::ToAscii, out == nullptr);
  return p.run(domain, out);
}

std::uint32_t to_unicode(std::string_view domain, const Options& options, std::string& out) {
  Processor p(options, Operation::ToUnicode, false);
  return p.run(domain, &out);
}

}  // namespace quorvel::unicode::idna

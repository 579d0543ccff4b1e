// The domainpart of an RFC 7622 address: an IP literal as written, or an
// internationalised domain name of IDNA2008 (RFC 5890-5893) reached through
// the UTS #46 mapping (non-transitional, STD3 rules), stored as U-labels.
//
// UTS #46 judges a label by its own statuses, which let through what
// IDNA2008 disallows (symbols and emoji are "valid, NV8" there); so after
// its processing every code point of a non-ASCII label is also held to its
// IDNA2008 derived property value, CONTEXTO rules included. The Bidi Rule,
// CONTEXTJ, the hyphen rules, Punycode and the DNS lengths are its part.
#include <array>
#include <span>
#include <string>

#include "domain/ip_literal.h"
#include "domain/limits.h"
#include "domain/precis_domain.h"
#include "precis/context_rules.h"
#include "precis/properties.h"
#include "simd/scan.h"
#include "unicode/bidi_rule.h"
#include "unicode/dns_length.h"
#include "unicode/idna_options.h"
#include "unicode/idna_properties.h"
#include "unicode/normalize.h"
#include "unicode/punycode.h"
#include "unicode/to_ascii.h"
#include "unicode/utf8_codec.h"

namespace quorvel::precis {
namespace {

using dns::kMaxDomainBytes;
using dns::kMaxLabelBytes;

constexpr unicode::idna::Options kOptions = {
    .table = nullptr,
    .check_hyphens = true,
    .check_bidi = true,
    .check_joiners = true,
    .use_std3_ascii_rules = true,
    .verify_dns_length = true,
    .denied = nullptr,
};

enum class AsciiOutcome { Unchanged, Lowered, Fail, NeedsFullCheck };

constexpr bool is_ldh(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// An ASCII domain of NR-LDH labels, decided in one pass: letters, digits and
// hyphens, no hyphen first or last, none in both the third and fourth place
// (an "xn--" label goes to the full check, which decodes it), 1 to 63 bytes a
// label and at most 253 in all.
AsciiOutcome check_ascii(std::string_view domain) noexcept {
  if (domain.empty() || domain.size() > kMaxDomainBytes) return AsciiOutcome::Fail;
  bool capitals = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= domain.size(); ++i) {
    if (i < domain.size() && domain[i] != '.') {
      const char c = domain[i];
      if (!is_ldh(c)) return AsciiOutcome::Fail;
      capitals |= c >= 'A' && c <= 'Z';
      continue;
    }
    const std::size_t n = i - start;
    if (n == 0 || n > kMaxLabelBytes) return AsciiOutcome::Fail;
    if (domain[start] == '-' || domain[i - 1] == '-') return AsciiOutcome::Fail;
    if (n >= 4 && domain[start + 2] == '-' && domain[start + 3] == '-') {
      return AsciiOutcome::NeedsFullCheck;
    }
    start = i + 1;
  }
  return capitals ? AsciiOutcome::Lowered : AsciiOutcome::Unchanged;
}

// IDNA2008's own verdict on each code point of a U-label.
bool label_passes_idna2008(std::string_view label) {
  std::u32string points;
  bool contextual = false;
  for (std::size_t i = 0; i < label.size();) {
    const char32_t c = utf8::decode(label, i);
    switch (info(c).idna2008()) {
      case Derived::Pvalid:
        break;
      case Derived::Contextj:
      case Derived::Contexto:
        contextual = true;
        break;
      default:
        return false;
    }
    points.push_back(c);
  }
  return !contextual || passes_context_rules(points);
}

bool passes_idna2008(std::string_view domain) {
  for (std::size_t start = 0; start <= domain.size();) {
    std::size_t end = domain.find('.', start);
    if (end == std::string_view::npos) end = domain.size();
    const std::string_view label = domain.substr(start, end - start);
    bool ascii = true;
    for (char c : label) ascii &= static_cast<unsigned char>(c) < 0x80;
    if (!ascii && !label_passes_idna2008(label)) return false;
    start = end + 1;
  }
  return true;
}

enum class OnePass { Unchanged, Lowered, Undecided };

// One label's facts for the one-pass route.
struct LabelFacts {
  std::size_t characters = 0;
  std::size_t basic = 0;
  char32_t largest = 0;
  bool hyphen_first = false;
  bool hyphen_last = false;
  bool hyphen_third = false;
  bool hyphens_3_and_4 = false;
};

// The ASCII form's length of a label, or 0 when only the full route can
// tell (the Punycode bound does not show that it fits).
std::size_t ascii_length(const LabelFacts& f, std::size_t bytes) noexcept {
  if (f.basic == f.characters) return bytes <= kMaxLabelBytes ? bytes : 0;
  const std::size_t bound =
      4 + unicode::punycode::encoded_length_bound(f.characters, f.basic, f.largest);
  return bound <= kMaxLabelBytes ? bound : 0;
}

// The usual non-ASCII domain in one pass: labels of IDNA2008 PVALID code
// points (which the UTS #46 mapping leaves as they are: PVALID means stable
// under NFKC and case folding), ASCII letters, digits and hyphens, no
// contextual code point, no label that begins with a mark or breaks the
// hyphen rules, the Bidi Rule on every label of a domain with right-to-left
// text (RFC 5893: then every label, the ASCII ones included, must meet it),
// the whole NFC, and lengths that Punycode's bound shows to fit. Only an
// acceptance is decided here; anything else takes the general route, which
// is this route's twin.
//
// The Bidi Rule is judged only for a domain that holds right-to-left text,
// from the classes kept as each code point is read (a label boundary kept as
// kLabelEnd), so that no code point is decoded twice.
constexpr std::uint8_t kLabelEnd = 0xFF;

bool labels_pass_bidi_rule(std::span<const std::uint8_t> classes) noexcept {
  unicode::idna::BidiRule rule;
  for (std::uint8_t c : classes) {
    if (c == kLabelEnd) {
      if (!rule.passes()) return false;
      rule = unicode::idna::BidiRule();
    } else {
      rule.add(static_cast<unicode::idna::BidiClass>(c));
    }
  }
  return true;
}

// What the one pass needs of an ASCII byte, from one look-up: whether a
// label may hold it (letters, digits, hyphen), whether it is a capital, and
// its Bidi_Class (L, EN or ES).
struct AsciiFacts {
  std::uint8_t ldh : 1;
  std::uint8_t capital : 1;
  std::uint8_t bidi : 6;
};

constexpr std::array<AsciiFacts, 128> kAsciiFacts = [] {
  using unicode::idna::BidiClass;
  std::array<AsciiFacts, 128> t{};
  for (unsigned c = 0; c < 128; ++c) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    const BidiClass bidi = letter ? BidiClass::L : digit ? BidiClass::EN : BidiClass::ES;
    t[c] = {static_cast<std::uint8_t>(letter || digit || c == '-'),
            static_cast<std::uint8_t>(c >= 'A' && c <= 'Z'), static_cast<std::uint8_t>(bidi)};
  }
  return t;
}();

OnePass one_pass(std::string_view domain) {
  bool capitals = false;
  // The bits of every non-ASCII code point OR'ed (for kRtl) and AND'ed (for
  // kNfcInert: every code point NFC_QC=Yes with class 0), in registers.
  std::uint32_t any_bits = 0;
  std::uint32_t all_bits = generated::kNfcInert;
  std::size_t total = 0;
  std::size_t start = 0;
  LabelFacts f;
  // A code point takes a byte at least, and a domain that fits takes at
  // most kMaxDomainBytes of them; a longer one goes to the general route.
  std::array<std::uint8_t, kMaxDomainBytes + 1> classes;
  if (domain.size() >= classes.size()) return OnePass::Undecided;
  std::size_t n = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(domain.data());
  for (std::size_t i = 0;;) {
    if (i == domain.size() || p[i] == '.') {
      if (f.characters == 0 || f.hyphen_first || f.hyphen_last || f.hyphens_3_and_4) {
        return OnePass::Undecided;
      }
      const std::size_t length = ascii_length(f, i - start);
      if (length == 0) return OnePass::Undecided;
      total += length + (start == 0 ? 0 : 1);
      classes[n++] = kLabelEnd;
      if (i == domain.size()) break;
      start = ++i;
      f = LabelFacts();
      continue;
    }
    const std::size_t position = f.characters++;
    if (p[i] < 0x80) {
      const unsigned char c = p[i++];
      const AsciiFacts a = kAsciiFacts[c];
      if (!a.ldh) return OnePass::Undecided;
      ++f.basic;
      f.hyphen_last = c == '-';
      if (c == '-') {
        // Positions count code points, as CheckHyphens does.
        f.hyphen_first |= position == 0;
        f.hyphen_third |= position == 2;
        f.hyphens_3_and_4 |= position == 3 && f.hyphen_third;
      }
      capitals |= a.capital;
      classes[n++] = a.bidi;
      continue;
    }
    const char32_t c = utf8::decode(domain, i);
    f.hyphen_last = false;
    if (c == utf8::kInvalid) return OnePass::Undecided;
    const CodePointInfo ci = info(c);
    classes[n++] = static_cast<std::uint8_t>(ci.bidi_class());
    if (ci.idna2008() != Derived::Pvalid) return OnePass::Undecided;
    if (position == 0 && ci.has(generated::kMark)) return OnePass::Undecided;
    any_bits |= ci.bits;
    all_bits &= ci.bits;
    f.largest = c > f.largest ? c : f.largest;
  }
  const bool rtl = (any_bits & generated::kRtl) != 0;
  const bool inert = (all_bits & generated::kNfcInert) != 0;
  if (total > kMaxDomainBytes || (!inert && !unicode::is_nfc(domain))) {
    return OnePass::Undecided;
  }
  if (rtl && !labels_pass_bidi_rule(std::span(classes.data(), n))) return OnePass::Undecided;
  return capitals ? OnePass::Lowered : OnePass::Unchanged;
}

Result<PreparedText> prepare_general(std::string_view text, bool one_pass_first);

}  // namespace

Result<PreparedText> idna2008_domain(std::string_view text) { return prepare_general(text, true); }

Result<PreparedText> idna2008_domain_general(std::string_view text) {
  return prepare_general(text, false);
}

namespace {

Result<PreparedText> prepare_general(std::string_view text, bool one_pass_first) {
  if (ip::is_ipv4(text) || ip::is_bracketed_ipv6(text)) return PreparedText::unchanged(text);
  const bool dot_dropped = !text.empty() && text.back() == '.';
  const std::string_view domain = dot_dropped ? text.substr(0, text.size() - 1) : text;

  if (scan::is_ascii(domain)) {
    // Under the STD3 rules UTS #46 maps nothing in ASCII but capitals, so
    // the one-pass verdict is final for every ASCII name but an "xn--" one.
    switch (check_ascii(domain)) {
      case AsciiOutcome::Unchanged:
        return dot_dropped ? PreparedText::slice(domain) : PreparedText::unchanged(text);
      case AsciiOutcome::Lowered:
        return PreparedText::ascii_lowered(domain);
      case AsciiOutcome::Fail:
        return JidError::Idna;
      case AsciiOutcome::NeedsFullCheck:
        break;
    }
  }

  if (one_pass_first && !domain.empty()) {
    switch (one_pass(domain)) {
      case OnePass::Unchanged:
        return dot_dropped ? PreparedText::slice(domain) : PreparedText::unchanged(text);
      case OnePass::Lowered:
        // No byte of a multi-byte character is an ASCII capital.
        return PreparedText::ascii_lowered(domain);
      case OnePass::Undecided:
        break;
    }
  }
  if (unicode::idna::to_ascii(domain, kOptions) != 0) return JidError::Idna;
  std::string labels;
  if (unicode::idna::to_unicode(domain, kOptions, labels) != 0) return JidError::Idna;
  if (!passes_idna2008(labels)) return JidError::DomainIdna2008;
  if (!domain_fits_positions(labels.size())) return JidError::Idna;
  if (labels == domain) {
    return dot_dropped ? PreparedText::slice(domain) : PreparedText::unchanged(text);
  }
  return PreparedText::owned(std::move(labels));
}

}  // namespace
}  // namespace quorvel::precis

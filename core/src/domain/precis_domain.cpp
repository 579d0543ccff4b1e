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
#include <string>

#include "domain/ip_literal.h"
#include "domain/label_shape.h"
#include "domain/limits.h"
#include "domain/precis_domain.h"
#include "precis/bidi_groups.h"
#include "precis/context_rules.h"
#include "precis/properties.h"
#include "simd/scan.h"
#include "unicode/dns_length.h"
#include "unicode/idna_options.h"
#include "unicode/idna_properties.h"
#include "unicode/normalize.h"
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
// Each code point is one look-up whose value is OR'ed into its label's
// word and AND'ed into the domain's: every rule but the hyphens' and the
// lengths' is read from those words once a label or the domain is done (a
// derived value other than PVALID, 0, shows as a bit of its field; the
// Bidi Rule's groups are bits of their own). An ASCII byte is looked up as
// the table has it, capitals as their small letters (what UTS #46 maps them
// to): letters, digits and the hyphen are PVALID there and no other ASCII
// byte is.
constexpr std::uint32_t kCapital = 1u << 31;
static_assert((bidi_groups::kAll & kCapital) == 0);

constexpr std::array<std::uint32_t, 128> kAsciiBits = [] {
  std::array<std::uint32_t, 128> t{};
  for (char32_t c = 0; c < 128; ++c) {
    const bool capital = c >= 'A' && c <= 'Z';
    t[c] = generated::precis_lookup(capital ? c | 0x20 : c) | (capital ? kCapital : 0);
  }
  return t;
}();
static_assert((kAsciiBits['-'] & bidi_groups::kNeutral) != 0);

// A label of the one pass, once read.
struct Label {
  std::string_view text;
  std::uint32_t bits;  // its code points' values OR'ed
  std::uint32_t first_bits;
  std::size_t characters;
  std::size_t basic;
  char32_t largest;
};

// The length the label adds to the ASCII form, or 0 when the one pass
// cannot take it: an empty label, a mark first, CheckHyphens (counted in
// characters; the hyphen is of a neutral class, so a label with no neutral
// character has none), or too long.
std::size_t label_length(const Label& l) noexcept {
  if (l.characters == 0 || (l.first_bits & generated::kMark)) return 0;
  if ((l.bits & bidi_groups::kNeutral) &&
      (l.text.front() == '-' || l.text.back() == '-' || label_shape::hyphens_at_3_and_4(l.text))) {
    return 0;
  }
  const std::size_t length = label_shape::ascii_form_length(l.characters, l.basic, l.largest);
  return length <= kMaxLabelBytes ? length : 0;
}

OnePass one_pass(std::string_view domain) {
  const std::size_t n = domain.size();
  if (n > kMaxDomainBytes) return OnePass::Undecided;
  const auto* p = reinterpret_cast<const unsigned char*>(domain.data());
  std::uint32_t any_bits = 0;
  std::uint32_t all_bits = generated::kNfcInert;
  std::size_t total = 0;
  // What the Bidi Rule of a domain with right-to-left text reads of each
  // label, known to be needed once all are read. A label and its dot take
  // two bytes at least.
  struct Ends {
    std::uint16_t end;
    std::uint32_t bits;
    std::uint32_t first_bits;
    std::uint32_t last_bits;
  };
  std::array<Ends, kMaxDomainBytes / 2 + 1> labels;
  std::size_t count = 0;
  for (std::size_t i = 0;;) {
    const std::size_t start = i;
    std::uint32_t bits = 0;
    std::uint32_t first_bits = 0;
    std::uint32_t last_bits = 0;
    std::size_t characters = 0;
    std::size_t basic = 0;
    char32_t largest = 0;
    // The dot is ASCII: a non-ASCII code point needs no test for it.
    for (; i < n; ++characters) {
      std::uint32_t v;
      if (p[i] < 0x80) {
        if (p[i] == '.') break;
        v = kAsciiBits[p[i++]];
        ++basic;
      } else {
        char32_t c;
        CodePointInfo ci;
        if (!next(domain, i, c, ci)) return OnePass::Undecided;
        v = ci.bits;
        largest = c > largest ? c : largest;
      }
      // Every value has a group bit: bits is 0 only before the first.
      first_bits = bits == 0 ? v : first_bits;
      last_bits = v;
      bits |= v;
      all_bits &= v;
    }
    const Label label{domain.substr(start, i - start), bits, first_bits, characters, basic, largest};
    const std::size_t length = label_length(label);
    if (length == 0) return OnePass::Undecided;
    total += length + (start == 0 ? 0 : 1);
    any_bits |= bits;
    if (count < labels.size()) {
      labels[count] = {static_cast<std::uint16_t>(i), bits, first_bits, last_bits};
    }
    ++count;
    if (i == n) break;
    ++i;
  }
  if (((any_bits >> generated::kIdnaShift) & generated::kPrecisMask) != 0) {
    return OnePass::Undecided;
  }
  const bool inert = (all_bits & generated::kNfcInert) != 0;
  if (total > kMaxDomainBytes || count > labels.size() || (!inert && !unicode::is_nfc(domain))) {
    return OnePass::Undecided;
  }
  if (any_bits & generated::kRtl) {
    std::size_t start = 0;
    for (std::size_t k = 0; k < count; ++k) {
      const Ends& e = labels[k];
      const std::string_view label = domain.substr(start, e.end - start);
      if (!bidi_groups::text_passes(label, e.bits, e.first_bits, e.last_bits)) {
        return OnePass::Undecided;
      }
      start = e.end + std::size_t{1};
    }
  }
  return any_bits & kCapital ? OnePass::Lowered : OnePass::Unchanged;
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

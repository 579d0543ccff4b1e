// The domainpart of an RFC 7622 address: an IP literal as written, or an
// internationalised domain name of IDNA2008 (RFC 5890-5893) reached through
// the UTS #46 mapping (non-transitional, STD3 rules), stored as U-labels.
//
// UTS #46 judges a label by its own statuses, which let through what
// IDNA2008 disallows (symbols and emoji are "valid, NV8" there); so after
// its processing every code point of a non-ASCII label is also held to its
// IDNA2008 derived property value, CONTEXTO rules included. The Bidi Rule,
// CONTEXTJ, the hyphen rules, Punycode and the DNS lengths are its part.
#include <span>
#include <string>

#include "domain_limits.h"
#include "ip_literal.h"
#include "precis/context_rules.h"
#include "precis/properties.h"
#include "quorvel/precis.h"
#include "scan.h"
#include "unicode/idna_options.h"
#include "unicode/to_ascii.h"
#include "utf8.h"

namespace quorvel::precis {
namespace {

constexpr std::size_t kMaxDomain = 253;
constexpr std::size_t kMaxLabel = 63;

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
  if (domain.empty() || domain.size() > kMaxDomain) return AsciiOutcome::Fail;
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
    if (n == 0 || n > kMaxLabel) return AsciiOutcome::Fail;
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

}  // namespace

Result<PreparedText> prepare_domain(std::string_view text) {
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

}  // namespace quorvel::precis

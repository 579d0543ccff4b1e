#include "domain/idna_check.h"

#include "domain/limits.h"
#include "simd/scan.h"
#include "unicode/to_ascii.h"

namespace quorvel::idna {
namespace {


bool starts_with_ace_prefix(std::string_view label) noexcept {
  return label.size() >= 4 && (label[0] | 0x20) == 'x' && (label[1] | 0x20) == 'n' &&
         label[2] == '-' && label[3] == '-';
}

// The address core's choices: non-transitional (the only processing the
// built-in code offers), hyphens, joiners and bidi checked, DNS lengths
// verified (which also refuses a root dot: its empty label is too short),
// and the deny set in place of the STD3 rules.
constexpr unicode::idna::Options kAddressOptions{
    .table = nullptr,
    .check_hyphens = true,
    .check_bidi = true,
    .check_joiners = true,
    .use_std3_ascii_rules = false,
    .verify_dns_length = true,
    .denied = &kDeniedBytes,
};

}  // namespace

Verdict check_ascii(std::string_view domain) noexcept {
  if (domain.empty() || domain.size() > dns::kMaxDomainBytes) return Verdict::Fail;
  std::size_t start = 0;
  while (true) {
    std::size_t end = domain.find('.', start);
    if (end == std::string_view::npos) end = domain.size();
    const std::string_view label = domain.substr(start, end - start);
    if (label.empty() || label.size() > dns::kMaxLabelBytes) return Verdict::Fail;
    if (label.front() == '-' || label.back() == '-') return Verdict::Fail;
    if (label.size() >= 4 && label[2] == '-' && label[3] == '-') {
      if (starts_with_ace_prefix(label)) return Verdict::NeedsFullCheck;
      return Verdict::Fail;
    }
    for (unsigned char b : label) {
      if (kDeniedBytes[b]) return Verdict::Fail;
    }
    if (end == domain.size()) return Verdict::Pass;
    start = end + 1;
  }
}

bool check_full(std::string_view domain) {
  return unicode::idna::to_ascii(domain, kAddressOptions) == 0;
}

bool check(std::string_view domain) {
  if (scan::is_ascii(domain)) {
    switch (check_ascii(domain)) {
      case Verdict::Pass:
        return true;
      case Verdict::Fail:
        return false;
      case Verdict::NeedsFullCheck:
        break;
    }
  }
  return check_full(domain);
}

}  // namespace quorvel::idna

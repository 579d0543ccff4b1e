// The limits of a domainpart: the DNS lengths (unicode/dns_length.h, which
// the IDNA check below this layer applies too) and a bound on the prepared
// domain that keeps every position of an address within 16 bits.
#pragma once

#include <cstddef>

#include "quorvel/jid_value.h"
#include "unicode/dns_length.h"

namespace quorvel {

// A JidValue stores the localpart end and the slash position in 16 bits. The
// slash sits after at most kMaxPartBytes of localpart, the "@" and the domain.
// A domain that passed the IDNA check has at most dns::kMaxDomainBytes in ASCII form,
// and its prepared Unicode form is a few times that at most (each character
// of up to four UTF-8 bytes costs at least one ASCII byte), so real domains
// stay far below this bound. It exists so that a mistake in that reasoning
// refuses an address instead of truncating a position and corrupting it.
inline constexpr std::size_t kMaxPreparedDomainBytes = kMaxPosition - kMaxPartBytes - 1;
static_assert(dns::kMaxDomainBytes * 4 < kMaxPreparedDomainBytes);

constexpr bool domain_fits_positions(std::size_t prepared_domain_bytes) noexcept {
  return prepared_domain_bytes <= kMaxPreparedDomainBytes;
}

}  // namespace quorvel

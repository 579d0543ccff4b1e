// A bound on the prepared domain that keeps every position of an address
// within 16 bits.
#pragma once

#include <cstddef>

namespace quorvel {

// A JidValue stores the localpart end and the slash position in 16 bits. The
// slash sits after at most 1023 bytes of localpart, the "@" and the domain.
// A domain that passed the IDNA check has at most 253 bytes in ASCII form,
// and its prepared Unicode form is a few times that at most (each character
// of up to four UTF-8 bytes costs at least one ASCII byte), so real domains
// stay far below this bound. It exists so that a mistake in that reasoning
// refuses an address instead of truncating a position and corrupting it.
inline constexpr std::size_t kMaxPreparedDomainBytes = 65535 - 1023 - 1;

constexpr bool domain_fits_positions(std::size_t prepared_domain_bytes) noexcept {
  return prepared_domain_bytes <= kMaxPreparedDomainBytes;
}

}  // namespace quorvel

// Error kinds of the address core. Every failure of a core operation is one
// of these values; the kind carries no data, only a name and a fixed message.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

enum class JidError : std::uint8_t {
  NodeEmpty,
  ResourceEmpty,
  NodeTooLong,
  ResourceTooLong,
  NodePrep,
  NamePrep,
  ResourcePrep,
  ResourceMissingInFullJid,
  ResourceInBareJid,
  TooManyAts,
  Idna,
  // Kinds only addresses under RFC 7622 (quorvel/precis.h) report.
  NodePrecis,
  ResourcePrecis,
  DomainIdna2008,
  NodeUnstable,
  ResourceUnstable,
  NodeForbidden,
};

// The kinds of RFC 6122 addresses come first; every kind's number is its
// place in this list, which the batch results report.
inline constexpr int kStringprepErrorCount = 11;
inline constexpr int kJidErrorCount = 17;

// The user-facing message of a kind. Static storage; never fails.
std::string_view message(JidError kind) noexcept;

// The kind's identifier ("TooManyAts"), for diagnostics aimed at developers.
std::string_view name(JidError kind) noexcept;

}  // namespace quorvel

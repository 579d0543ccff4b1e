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
};

inline constexpr int kJidErrorCount = 11;

// The user-facing message of a kind. Static storage; never fails.
std::string_view message(JidError kind) noexcept;

// The kind's identifier ("TooManyAts"), for diagnostics aimed at developers.
std::string_view name(JidError kind) noexcept;

}  // namespace quorvel

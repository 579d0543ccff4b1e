// Escaping display text into a localpart (XEP-0106), the inverse of
// unescape_localpart.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "quorvel/jid_error.h"
#include "quorvel/result.h"

namespace quorvel {

// Why no localpart can show a text. The first three are the JidError kinds
// that preparing a localpart (or unescaping one) reports for the same cause,
// so that escaping and unescaping speak with one voice.
enum class EscapeError : std::uint8_t {
  NodeEmpty,    // nothing left once Nodeprep has mapped the text
  NodePrep,     // refused by Nodeprep, or a space at either end
  NodeTooLong,  // more than 1023 bytes once escaped and prepared
  JoinsEscape,  // a combining mark would join the escape sequence before it
  InvalidUtf8,  // not well-formed UTF-8 (only reachable from C++ callers)
};

// The user-facing message of a kind. Static storage; never fails.
std::string_view message(EscapeError kind) noexcept;
// The kind's identifier ("JoinsEscape"), for diagnostics and tests.
std::string_view name(EscapeError kind) noexcept;

// The localpart that shows `text`, as an address stores it: each of the ten
// characters space " & ' / : < > @ \ replaced by its escape (\20 \22 \26 \27
// \2f \3a \3c \3e \40 \5c), a backslash only where the two characters after
// it would otherwise read as an escape, then prepared by Nodeprep.
//
// Characters that Nodeprep would turn into one of the ten (a no-break space,
// a fullwidth apostrophe, U+2100 "a/c") are escaped as that character: the
// text is first mapped the way Nodeprep maps it (table B.1 removed, B.2 case
// folding, NFKC with the library's built-in Unicode data), and the backslash
// rule is judged on that mapped text.
//
// So unescape_localpart of the result is the mapped text, and the result is
// a localpart that prepares to itself.
Result<std::string, EscapeError> escape_localpart(std::string_view text);

}  // namespace quorvel

#include "quorvel/unescape.h"

#include <string>

#include "escape/escape_codes.h"
#include "simd/scan.h"

namespace quorvel {

Result<PreparedText> unescape_localpart(std::string_view text) {
  constexpr auto npos = std::string_view::npos;
  std::size_t i = scan::find_backslash(text, 0);
  if (i == npos) return PreparedText::unchanged(text);

  std::string out;
  out.reserve(text.size());  // every escape shrinks three bytes to one
  std::size_t copy_from = 0;
  while (i != npos) {
    out.append(text.substr(copy_from, i - copy_from));
    // A backslash among the last two bytes has no complete pair after it: it
    // stays, with what follows, like any other unrecognised sequence.
    const char c = i + 2 < text.size() ? escape_codes::unescaped(text[i + 1], text[i + 2]) : '\0';
    if (c != '\0') {
      out.push_back(c);
      copy_from = i + 3;
    } else {
      copy_from = i;
    }
    i = scan::find_backslash(text, i + 1);
  }
  out.append(text.substr(copy_from));

  if (out.front() == ' ' || out.back() == ' ') return JidError::NodePrep;
  return PreparedText::owned(std::move(out));
}

}  // namespace quorvel

#include "quorvel/unescape.h"

#include <string>

#include "scan.h"

namespace quorvel {
namespace {

// The ten escapes of XEP-0106, on lower-case hexadecimal digits (the text is
// a prepared localpart, so a caller's capitals have already been folded).
char unescaped(char hi, char lo) noexcept {
  switch (hi) {
    case '2':
      switch (lo) {
        case '0': return ' ';
        case '2': return '"';
        case '6': return '&';
        case '7': return '\'';
        case 'f': return '/';
      }
      break;
    case '3':
      switch (lo) {
        case 'a': return ':';
        case 'c': return '<';
        case 'e': return '>';
      }
      break;
    case '4':
      if (lo == '0') return '@';
      break;
    case '5':
      if (lo == 'c') return '\\';
      break;
  }
  return '\0';
}

}  // namespace

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
    const char c = i + 2 < text.size() ? unescaped(text[i + 1], text[i + 2]) : '\0';
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

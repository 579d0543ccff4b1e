// The ten escapes of XEP-0106, shared by escaping and unescaping so that the
// two directions can never disagree about them.
#pragma once

#include <string_view>

namespace quorvel::escape_codes {

// The character that "\" hi lo stands for, or '\0' when hi lo is not one of
// the ten codes. Only lower-case hex digits count: a prepared localpart has
// had its capitals folded.
constexpr char unescaped(char hi, char lo) noexcept {
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

// The escape sequence of one of the ten characters, empty for any other
// byte (a UTF-8 byte beyond ASCII included).
constexpr std::string_view escape_of(char c) noexcept {
  switch (c) {
    case ' ': return "\\20";
    case '"': return "\\22";
    case '&': return "\\26";
    case '\'': return "\\27";
    case '/': return "\\2f";
    case ':': return "\\3a";
    case '<': return "\\3c";
    case '>': return "\\3e";
    case '@': return "\\40";
    case '\\': return "\\5c";
    default: return {};
  }
}

}  // namespace quorvel::escape_codes

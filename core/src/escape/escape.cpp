// XEP-0106 escaping: display text to a localpart.
//
// The general route maps the text as Nodeprep would (B.1, B.2, NFKC), so
// that a character preparation would turn into one of the ten is escaped as
// that character, escapes the mapped text, prepares the result as any
// localpart and then reads it back: preparation must have left every escape
// as it was written. A combining mark after an escape would not (":" U+0301
// escapes to "\3a" U+0301, which composes to "\3á"), and such text is
// refused rather than escaped into a localpart that shows something else.
#include "quorvel/escape.h"

#include <array>

#include "escape/escape_codes.h"
#include "escape/escape_twin.h"
#include "prep/char_tables.h"
#include "quorvel/address.h"
#include "unicode/normalize.h"
#include "unicode/utf8_codec.h"

namespace quorvel {
namespace {

constexpr char ascii_lower(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Whether text[i] text[i+1] read as one of the ten codes once preparation
// has folded capitals.
bool code_at(std::string_view text, std::size_t i) noexcept {
  return i + 1 < text.size() &&
         escape_codes::unescaped(ascii_lower(text[i]), ascii_lower(text[i + 1])) != '\0';
}

// Appends the escaped form of `mapped` to `out`, and each character it
// escaped to `escaped`. A backslash is escaped only before a code: any other
// backslash reads back as itself, and escaping it would only lengthen the
// localpart (XEP-0106 section 4.3).
void append_escaped(std::string_view mapped, std::string& out, std::string& escaped) {
  for (std::size_t i = 0; i < mapped.size(); ++i) {
    const char c = mapped[i];
    if (c == '\\' && !code_at(mapped, i + 1)) {
      out.push_back(c);
      continue;
    }
    const std::string_view code = escape_codes::escape_of(c);
    if (code.empty()) {
      out.push_back(c);
    } else {
      out.append(code);
      escaped.push_back(c);
    }
  }
}

// The characters the escapes of a prepared localpart stand for, in order,
// read the way unescape_localpart reads them.
std::string read_back(std::string_view prepared) {
  std::string chars;
  for (std::size_t i = 0; i < prepared.size();) {
    const char c = prepared[i] == '\\' && i + 2 < prepared.size()
                       ? escape_codes::unescaped(prepared[i + 1], prepared[i + 2])
                       : '\0';
    if (c != '\0') {
      chars.push_back(c);
      i += 3;
    } else {
      ++i;
    }
  }
  return chars;
}

// Nodeprep's mapping and normalisation without its checks: B.1 removed, B.2
// case folding, NFKC. Fails with NodePrep for a code point first assigned in
// Unicode 17.0, which Nodeprep refuses as unassigned whatever the built-in
// NFKC would make of it.
Result<std::string, EscapeError> nodeprep_mapping(std::string_view text) {
  std::string mapped;
  mapped.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t c = utf8::decode(text, i);
    if (c == utf8::kInvalid) return EscapeError::InvalidUtf8;
    const tables::Flags f = tables::flags(c);
    if (f & tables::kAssignedAfter16) return EscapeError::NodePrep;
    if (f & tables::kMapToNothing) continue;
    if (f & tables::kCaseFold) {
      mapped.append(tables::case_fold(c));
    } else {
      mapped.append(text.substr(start, i - start));
    }
  }
  std::string normalized;
  if (unicode::to_nfkc(mapped, normalized)) return normalized;
  return mapped;
}

EscapeError from_prepare(JidError e) noexcept {
  switch (e) {
    case JidError::NodeEmpty: return EscapeError::NodeEmpty;
    case JidError::NodeTooLong: return EscapeError::NodeTooLong;
    default: return EscapeError::NodePrep;
  }
}

bool space_at_an_end(std::string_view localpart) noexcept {
  return localpart.starts_with("\\20") || localpart.ends_with("\\20");
}

constexpr std::array<std::string_view, 5> kNames = {"NodeEmpty", "NodePrep", "NodeTooLong",
                                                     "JoinsEscape", "InvalidUtf8"};

}  // namespace

std::string_view message(EscapeError kind) noexcept {
  switch (kind) {
    case EscapeError::NodeEmpty: return message(JidError::NodeEmpty);
    case EscapeError::NodePrep: return message(JidError::NodePrep);
    case EscapeError::NodeTooLong: return message(JidError::NodeTooLong);
    case EscapeError::JoinsEscape:
      return "localpart cannot be escaped: a combining mark would join an escape sequence";
    case EscapeError::InvalidUtf8: return "localpart cannot be escaped: not well-formed UTF-8";
  }
  return "localpart cannot be escaped";
}

std::string_view name(EscapeError kind) noexcept {
  return kNames[static_cast<std::size_t>(kind)];
}

Result<std::string, EscapeError> escape_localpart_general(std::string_view text) {
  auto mapped = nodeprep_mapping(text);
  if (!mapped) return mapped.error();
  std::string escaped;
  escaped.reserve(mapped->size() + 8);
  std::string escaped_chars;
  append_escaped(*mapped, escaped, escaped_chars);
  if (escaped.empty()) return EscapeError::NodeEmpty;

  // Preparation first, so that a text too long or refused says so whatever
  // its ends hold.
  auto prepared = prepare_node(escaped);
  if (!prepared) return from_prepare(prepared.error());
  std::string out = prepared->str();
  if (read_back(out) != escaped_chars) return EscapeError::JoinsEscape;
  if (space_at_an_end(out)) return EscapeError::NodePrep;
  return out;
}

Result<std::string, EscapeError> escape_localpart(std::string_view text) {
  // Printable ASCII, the usual text: Nodeprep's mapping is lower-casing,
  // nothing composes, and once the ten characters are escaped nothing is
  // left that Nodeprep refuses. So the escaped text is the localpart, with
  // no look from the profile, and every escape reads back as written.
  bool printable_ascii = !text.empty();
  for (char c : text) printable_ascii &= c >= 0x20 && c < 0x7F;
  if (printable_ascii) {
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = ascii_lower(text[i]);
      const std::string_view code =
          c == '\\' && !code_at(text, i + 1) ? std::string_view() : escape_codes::escape_of(c);
      if (code.empty()) {
        out.push_back(c);
      } else {
        out.append(code);
      }
    }
    // A longer one goes the general way, which tells why it is refused.
    if (out.size() <= kMaxPartBytes) {
      if (text.front() == ' ' || text.back() == ' ') return EscapeError::NodePrep;
      return out;
    }
  }
  return escape_localpart_general(text);
}

}  // namespace quorvel

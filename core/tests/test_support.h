// Helpers shared by the core tests.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "quorvel_core.h"
#include "unicode/utf8_codec.h"

namespace quorvel::testing {

// UTF-8 of one code point.
inline std::string u8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return out;
}

// `text` in double quotes for a test's parameter: well-formed UTF-8 as it
// is, every other byte and every control character as \xNN. Test reports
// (the XML ones above all) must stay valid UTF-8 whatever a row holds.
inline std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t c = utf8::decode(text, i);
    if (c == utf8::kInvalid || c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[start]));
      out += hex;
      i = start + 1;
    } else {
      out.append(text.substr(start, i - start));
    }
  }
  return out + "\"";
}

inline std::string repeat(std::string_view s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out.append(s);
  return out;
}

// "ok:<text>" or "err:<KindName>", for compact tables.
inline std::string describe(const Result<JidValue>& r) {
  if (!r) return "err:" + std::string(name(r.error()));
  return "ok:" + std::string(r->text());
}
inline std::string describe(const Result<PreparedText>& r) {
  if (!r) return "err:" + std::string(name(r.error()));
  return "ok:" + r->str();
}
inline std::string describe(const ProfileResult& r) {
  if (!r) return "fail";
  return "ok:" + r->str();
}

}  // namespace quorvel::testing

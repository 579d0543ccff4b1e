// Helpers shared by the core tests.
#pragma once

#include <string>

#include "quorvel/jid.h"

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

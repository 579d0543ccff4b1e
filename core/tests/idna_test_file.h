// Unicode's UTS #46 conformance file, IdnaTestV2-16.0.0.txt, read into rows:
// the conformance tests check every row, and the domain tests take its
// sources as inputs of every kind.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

namespace quorvel::testing {

// The conformance file's escapes: \uXXXX and \x{X...}. A lone surrogate has
// no UTF-8 form; its three-byte pattern is written anyway, which no UTF-8
// reader accepts, so the row must fail like the file says it does.
inline std::string unescape(std::string_view s, bool& has_surrogate) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = 0;
    if (s.compare(i, 2, "\\u") == 0 && i + 6 <= s.size()) {
      c = static_cast<char32_t>(std::stoul(std::string(s.substr(i + 2, 4)), nullptr, 16));
      i += 5;
    } else if (s.compare(i, 3, "\\x{") == 0) {
      const std::size_t close = s.find('}', i);
      c = static_cast<char32_t>(std::stoul(std::string(s.substr(i + 3, close - i - 3)), nullptr, 16));
      i = close;
    } else {
      out.push_back(s[i]);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      has_surrogate = true;
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += u8(c);
    }
  }
  return out;
}

inline std::string trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return "";
  return std::string(s.substr(b, s.find_last_not_of(" \t") - b + 1));
}

struct Row {
  int line = 0;
  std::string text;  // as written in the file, for messages
  std::string source;
  std::string to_unicode;
  std::string to_unicode_status;
  std::string to_ascii;
  std::string to_ascii_status;
  bool has_surrogate = false;
};

// A column's value: blank means `fallback`; "" means the empty string.
inline std::string column(const std::string& field, const std::string& fallback, bool& surrogate) {
  if (field.empty()) return fallback;
  if (field == "\"\"") return "";
  return unescape(field, surrogate);
}

inline std::vector<Row> read_rows() {
  std::ifstream in(std::string(QUORVEL_DATA_DIR) + "/unicode/idna/IdnaTestV2-16.0.0.txt");
  std::vector<Row> rows;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    line = line.substr(0, line.find('#'));
    if (trim(line).empty()) continue;
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string col; std::getline(ss, col, ';');) cols.push_back(trim(col));
    cols.resize(7);
    Row r;
    r.line = number;
    r.text = cols[0];
    r.source = column(cols[0], "", r.has_surrogate);
    r.to_unicode = column(cols[1], r.source, r.has_surrogate);
    r.to_unicode_status = cols[2].empty() ? "[]" : cols[2];
    r.to_ascii = column(cols[3], r.to_unicode, r.has_surrogate);
    r.to_ascii_status = cols[4].empty() ? r.to_unicode_status : cols[4];
    rows.push_back(std::move(r));
  }
  return rows;
}

inline const std::vector<Row>& rows() {
  static const std::vector<Row> all = read_rows();
  return all;
}

inline bool is_error(const std::string& status) { return status != "[]"; }

}  // namespace quorvel::testing

// Readers for the pinned Unicode data files under data/unicode/, for the
// conformance tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace quorvel::testing {

inline std::string data_path(const std::string& relative) {
  return std::string(QUORVEL_DATA_DIR) + "/" + relative;
}

// "0041 0301" as UTF-8.
inline std::string from_hex(const std::string& field) {
  std::istringstream in(field);
  std::string out;
  for (std::string word; in >> word;) out += u8(static_cast<char32_t>(std::stoul(word, nullptr, 16)));
  return out;
}

// Calls f(fields) for each data line of a semicolon-separated UCD file,
// comments removed; lines starting with '@' are passed as one field.
inline bool for_each_record(const std::string& path,
                            const std::function<void(const std::vector<std::string>&)>& f) {
  std::ifstream in(path);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    line = line.substr(0, line.find('#'));
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::vector<std::string> fields;
    std::stringstream ss(line);
    for (std::string field; std::getline(ss, field, ';');) {
      const auto b = field.find_first_not_of(' ');
      const auto e = field.find_last_not_of(" \r");
      fields.push_back(b == std::string::npos ? "" : field.substr(b, e - b + 1));
    }
    f(fields);
  }
  return true;
}

// Per code point, the (major, minor) of DerivedAge as major * 100 + minor; 0
// for unassigned.
inline std::vector<int> derived_age() {
  std::vector<int> age(0x110000, 0);
  for_each_record(data_path("unicode/ucd-17.0.0/DerivedAge.txt"), [&](const auto& f) {
    const auto dots = f[0].find("..");
    const char32_t first = static_cast<char32_t>(std::stoul(f[0].substr(0, dots), nullptr, 16));
    const char32_t last = dots == std::string::npos
                              ? first
                              : static_cast<char32_t>(std::stoul(f[0].substr(dots + 2), nullptr, 16));
    const auto dot = f[1].find('.');
    const int v = std::stoi(f[1].substr(0, dot)) * 100 + std::stoi(f[1].substr(dot + 1));
    for (char32_t c = first; c <= last; ++c) age[c] = v;
  });
  return age;
}

}  // namespace quorvel::testing

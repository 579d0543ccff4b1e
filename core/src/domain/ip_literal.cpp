#include "domain/ip_literal.h"

#include <cstddef>

namespace quorvel::ip {
namespace {

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
bool is_hex(char c) noexcept {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

bool is_ipv4(std::string_view text) noexcept {
  if (text.size() > 15) return false;
  std::size_t i = 0;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet > 0) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
    const std::size_t start = i;
    int value = 0;
    while (i < text.size() && is_digit(text[i]) && i - start < 3) {
      value = value * 10 + (text[i] - '0');
      ++i;
    }
    const std::size_t digits = i - start;
    if (digits == 0 || value > 255) return false;
    if (digits > 1 && text[start] == '0') return false;
  }
  return i == text.size();
}

bool is_bracketed_ipv6(std::string_view text) noexcept {
  if (text.size() < 4 || text.front() != '[' || text.back() != ']') return false;
  const std::string_view a = text.substr(1, text.size() - 2);

  int groups = 0;  // 16-bit groups written out, a dotted quad counting two
  bool compressed = false;
  std::size_t i = 0;
  if (a.substr(0, 2) == "::") {
    compressed = true;
    i = 2;
    if (i == a.size()) return true;  // "::"
  } else if (a.front() == ':') {
    return false;
  }
  while (i < a.size()) {
    // One group, or the trailing dotted quad.
    std::size_t j = i;
    while (j < a.size() && is_hex(a[j]) && j - i < 5) ++j;
    if (j < a.size() && a[j] == '.') {
      if (!is_ipv4(a.substr(i))) return false;
      groups += 2;
      i = a.size();
      break;
    }
    const std::size_t len = j - i;
    if (len == 0 || len > 4) return false;
    ++groups;
    i = j;
    if (i == a.size()) break;
    if (a[i] != ':') return false;  // "%zone", "/prefix" and any other byte end up here
    ++i;
    if (i < a.size() && a[i] == ':') {
      if (compressed) return false;
      compressed = true;
      ++i;
      if (i == a.size()) break;  // trailing "::"
    } else if (i == a.size()) {
      return false;  // a single trailing ":"
    }
    if (groups > 8) return false;
  }
  return compressed ? groups <= 7 : groups == 8;
}

}  // namespace quorvel::ip

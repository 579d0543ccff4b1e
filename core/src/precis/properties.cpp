#include "precis/properties.h"

#include <algorithm>
#include <iterator>

namespace quorvel::precis {
namespace {

const generated::Mapping* find(const generated::Mapping* first, const generated::Mapping* last,
                               char32_t c) noexcept {
  const auto* it = std::lower_bound(first, last, c, [](const generated::Mapping& m, char32_t x) {
    return m.from < x;
  });
  return it != last && it->from == c ? it : nullptr;
}

}  // namespace

std::string_view lower_mapping(char32_t c) noexcept {
  const auto* m = find(std::begin(generated::kLowerMappings), std::end(generated::kLowerMappings), c);
  if (m == nullptr) return {};
  return {reinterpret_cast<const char*>(generated::kLowerPool) + (m->to >> 3), m->to & 7u};
}

char32_t width_mapping(char32_t c) noexcept {
  const auto* m = find(std::begin(generated::kWidthMappings), std::end(generated::kWidthMappings), c);
  return m == nullptr ? c : static_cast<char32_t>(m->to);
}

}  // namespace quorvel::precis

#include "unicode/canonical_order.h"

#include <array>
#include <vector>

namespace quorvel::unicode::nf {
namespace {

// Up to this length a run is sorted in place: a few marks after a letter is
// the only case real text produces.
constexpr std::size_t kShortRun = 16;

void insertion_sort(Element* run, std::size_t n) noexcept {
  for (std::size_t i = 1; i < n; ++i) {
    const Element e = run[i];
    const std::uint8_t cc = combining_class(e);
    std::size_t j = i;
    while (j > 0 && combining_class(run[j - 1]) > cc) {
      run[j] = run[j - 1];
      --j;
    }
    run[j] = e;
  }
}

void counting_sort(Element* run, std::size_t n) {
  std::array<std::size_t, 257> start{};
  for (std::size_t i = 0; i < n; ++i) ++start[combining_class(run[i]) + 1u];
  for (std::size_t k = 1; k < start.size(); ++k) start[k] += start[k - 1];
  std::vector<Element> sorted(n);
  for (std::size_t i = 0; i < n; ++i) sorted[start[combining_class(run[i])]++] = run[i];
  for (std::size_t i = 0; i < n; ++i) run[i] = sorted[i];
}

}  // namespace

void canonical_order(Element* elements, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    if (combining_class(elements[i]) == 0) {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (end < n && combining_class(elements[end]) != 0) ++end;
    if (end - i <= kShortRun) {
      insertion_sort(elements + i, end - i);
    } else {
      counting_sort(elements + i, end - i);
    }
    i = end;
  }
}

}  // namespace quorvel::unicode::nf

// Canonical ordering: each run of non-starters sorted by combining class,
// keeping the order of equal classes.
#pragma once

#include <cstddef>

#include "unicode/normalization_data.h"

namespace quorvel::unicode::nf {

// Orders elements[0, n). Linear in n: short runs by insertion, long ones by
// counting on the 256 classes, so no input can make it quadratic.
void canonical_order(Element* elements, std::size_t n);

}  // namespace quorvel::unicode::nf

#include "simd/isa.h"

namespace quorvel::ascii {

bool has_avx2() noexcept {
#if defined(QUORVEL_HAVE_X86_SIMD)
  // Asked once; the answer cannot change while the process runs.
  static const bool usable = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                             __builtin_cpu_supports("bmi2");
  return usable;
#else
  return false;
#endif
}

Isa best_isa() noexcept {
#if defined(QUORVEL_HAVE_X86_SIMD)
  static const Isa best = has_avx2() ? Isa::Avx2 : Isa::Sse2;
  return best;
#else
  return Isa::Bytes;
#endif
}

}  // namespace quorvel::ascii

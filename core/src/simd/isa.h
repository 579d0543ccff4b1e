// The instruction sets the core has kernels for, and the one choice among
// them. Every kernel comes as one function per instruction set beside its
// portable twin, all compiled on x86-64 so that the tests run each of them;
// which one the hot path calls is fixed where it is compiled (SSE2 is the
// baseline of x86-64) or, for AVX2, asked of the processor once and kept.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>
#define QUORVEL_HAVE_X86_SIMD 1
#endif

#define QUORVEL_ALWAYS_INLINE __attribute__((always_inline)) inline
// AVX2 code in a file compiled for the baseline: BMI1 and BMI2 come with
// every processor that has AVX2, and has_avx2() asks for all three.
#define QUORVEL_AVX2_TARGET __attribute__((target("avx2,bmi,bmi2")))
#define QUORVEL_AVX2_INLINE __attribute__((target("avx2,bmi,bmi2"), always_inline)) inline

namespace quorvel::ascii {

// The instruction sets the kernels are compiled for. Bytes is the portable
// twin of each, compiled everywhere.
enum class Isa { Bytes, Sse2, Avx2 };

// True when this processor runs the AVX2 variants (AVX2, BMI1 and BMI2).
bool has_avx2() noexcept;

// The variant this processor runs best, asked once.
Isa best_isa() noexcept;

}  // namespace quorvel::ascii

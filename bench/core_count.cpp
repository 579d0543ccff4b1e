// Instructions per address, for callgrind or perf counters rather than the
// clock: on a shared machine an instruction count is the figure that stays
// put from run to run. Runs one workload over one corpus of bench/corpus.h a
// number of times inside measured_passes(), which callgrind is told to
// count alone:
//
//   valgrind --tool=callgrind --toggle-collect='*measured_passes*'
//       quorvel_core_count parse ascii 20
//
// then divides the instructions by passes x 1000 inputs (scripts/count.sh
// does both and prints one line per workload).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "address/fast/ascii_address.h"
#include "corpus.h"
#include "quorvel/address.h"
#include "quorvel/precis.h"

namespace {

using quorvel::bench::Corpus;

// The floor of the core benchmarks: a new std::string of the input.
__attribute__((noinline)) void copy_once(const std::string& s) {
  std::string copy(s);
  asm volatile("" : : "r"(copy.data()) : "memory");
}

__attribute__((noinline)) bool parse_once(const std::string& s) {
  auto r = quorvel::parse_address(s);
  asm volatile("" : : "r"(&r) : "memory");
  return r.ok();
}

// The same text as an RFC 7622 address (quorvel.precis.JID's parse).
__attribute__((noinline)) bool precis_once(const std::string& s) {
  auto r = quorvel::precis::parse_address(s);
  asm volatile("" : : "r"(&r) : "memory");
  return r.ok();
}

// One variant of the short-address path, chosen by name.
__attribute__((noinline)) bool parse_with_once(const std::string& s, quorvel::ascii::Isa isa) {
  auto r = quorvel::parse_address_with(s, isa);
  asm volatile("" : : "r"(&r) : "memory");
  return r.ok();
}

enum class Work { Copy, Parse, Precis, Sse2, Avx2 };

__attribute__((noinline)) int measured_passes(const Corpus& corpus, Work work, int passes) {
  int refused = 0;
  for (int p = 0; p < passes; ++p) {
    for (const std::string& s : corpus) {
      switch (work) {
        case Work::Copy:
          copy_once(s);
          break;
        case Work::Parse:
          refused += parse_once(s) ? 0 : 1;
          break;
        case Work::Precis:
          refused += precis_once(s) ? 0 : 1;
          break;
        case Work::Sse2:
          refused += parse_with_once(s, quorvel::ascii::Isa::Sse2) ? 0 : 1;
          break;
        case Work::Avx2:
          refused += parse_with_once(s, quorvel::ascii::Isa::Avx2) ? 0 : 1;
          break;
      }
    }
  }
  return refused;
}

}  // namespace

int main(int argc, char** argv) {
  Work work = Work::Parse;
  if (argc == 4 && std::strcmp(argv[1], "copy") == 0) {
    work = Work::Copy;
  } else if (argc == 4 && std::strcmp(argv[1], "precis") == 0) {
    work = Work::Precis;
  } else if (argc == 4 && std::strcmp(argv[1], "parse-sse2") == 0) {
    work = Work::Sse2;
  } else if (argc == 4 && std::strcmp(argv[1], "parse-avx2") == 0 && quorvel::ascii::has_avx2()) {
    work = Work::Avx2;
  } else if (argc != 4 || std::strcmp(argv[1], "parse") != 0) {
    std::fprintf(stderr, "usage: %s parse|precis|parse-sse2|parse-avx2|copy CORPUS PASSES\n", argv[0]);
    return 2;
  }
  const Corpus corpus = quorvel::bench::make_corpus(argv[2]);
  if (corpus.empty()) {
    std::fprintf(stderr, "unknown corpus %s\n", argv[2]);
    return 2;
  }
  // One pass outside the count: first-use set-up (ICU, tables) is not the
  // per-address cost.
  measured_passes(corpus, work, 1);
  const int refused = measured_passes(corpus, work, std::atoi(argv[3]));
  if (refused != 0) {
    std::fprintf(stderr, "%d inputs refused\n", refused);
    return 1;
  }
  return 0;
}

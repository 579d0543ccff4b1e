// The address core against two floors measured in the same binary: copying
// the input into a new std::string (what storing any text costs), and for
// non-ASCII inputs the raw ICU calls the core cannot avoid (NFKC of the
// parts, UTS #46 nameToASCII_UTF8 of the domain). A scaling series over long
// inputs shows that the cost grows linearly with the text.
#include <benchmark/benchmark.h>
#include <unicode/bytestream.h>
#include <unicode/idna.h>
#include <unicode/normalizer2.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "address/fast/ascii_address.h"
#include "corpus.h"
#include "domain/idna_check.h"
#include "quorvel/address.h"
#include "quorvel/profiles.h"

namespace {

using quorvel::bench::Corpus;
using quorvel::bench::kCorpora;
using quorvel::bench::kInputs;
using quorvel::bench::make_corpus;

void BM_parse(benchmark::State& state, const char* name) {
  const Corpus corpus = make_corpus(name);
  std::size_t bytes = 0;
  for (const auto& s : corpus) bytes += s.size();
  for (auto _ : state) {
    for (const auto& s : corpus) {
      auto r = quorvel::parse_address(s);
      if (!r.ok()) state.SkipWithError("refused an input of the corpus");
      benchmark::DoNotOptimize(r);
    }
  }
  state.SetItemsProcessed(state.iterations() * kInputs);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// One variant of the short-address path on its own, to show that the one
// picked at run time pays for itself.
void BM_parse_variant(benchmark::State& state, const char* name, quorvel::ascii::Isa isa) {
  const Corpus corpus = make_corpus(name);
  for (auto _ : state) {
    for (const auto& s : corpus) {
      auto r = quorvel::parse_address_with(s, isa);
      if (!r.ok()) state.SkipWithError("refused an input of the corpus");
      benchmark::DoNotOptimize(r);
    }
  }
  state.SetItemsProcessed(state.iterations() * kInputs);
}

void BM_copy_floor(benchmark::State& state, const char* name) {
  const Corpus corpus = make_corpus(name);
  std::size_t bytes = 0;
  for (const auto& s : corpus) bytes += s.size();
  for (auto _ : state) {
    for (const auto& s : corpus) {
      std::string copy(s);
      benchmark::DoNotOptimize(copy.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * kInputs);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// The raw ICU work of a non-ASCII address: NFKC of localpart and resource
// into new strings, and UTS #46 to ASCII of the domain. Instances are made
// once, as the core makes them.
struct Icu {
  const icu::Normalizer2* nfkc;
  std::unique_ptr<icu::IDNA> uts46;
  Icu() {
    UErrorCode status = U_ZERO_ERROR;
    nfkc = icu::Normalizer2::getNFKCInstance(status);
    uts46.reset(icu::IDNA::createUTS46Instance(
        UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE | UIDNA_CHECK_BIDI |
            UIDNA_CHECK_CONTEXTJ,
        status));
  }
};

void normalize(const Icu& icu, std::string_view s) {
  std::string out;
  icu::StringByteSink<std::string> sink(&out, static_cast<int32_t>(s.size()));
  UErrorCode status = U_ZERO_ERROR;
  icu.nfkc->normalizeUTF8(0, icu::StringPiece(s.data(), static_cast<int32_t>(s.size())), sink,
                          nullptr, status);
  benchmark::DoNotOptimize(out.data());
}

// The three parts of an address of the corpus, split the way the parser
// splits: at the first "@", then at the first "/" after it.
struct Parts {
  std::optional<std::string_view> node;
  std::string_view domain;
  std::optional<std::string_view> resource;
};

Parts split(std::string_view s) {
  const std::size_t at = s.find('@');
  const std::size_t start = at == s.npos ? 0 : at + 1;
  const std::size_t slash = s.find('/', start);
  Parts parts;
  if (at != s.npos) parts.node = s.substr(0, at);
  parts.domain = s.substr(start, (slash == s.npos ? s.size() : slash) - start);
  if (slash != s.npos) parts.resource = s.substr(slash + 1);
  return parts;
}

// Raw ICU UTS #46 ToASCII of a domain, into a buffer on the stack.
void icu_to_ascii(const Icu& icu, std::string_view domain) {
  char buffer[256];
  icu::CheckedArrayByteSink sink(buffer, sizeof buffer);
  icu::IDNAInfo info;
  UErrorCode status = U_ZERO_ERROR;
  icu.uts46->nameToASCII_UTF8(
      icu::StringPiece(domain.data(), static_cast<int32_t>(domain.size())), sink, info, status);
  benchmark::DoNotOptimize(sink.NumberOfBytesWritten());
}

void BM_icu_floor(benchmark::State& state, const char* name) {
  const Corpus corpus = make_corpus(name);
  const Icu icu;
  std::size_t bytes = 0;
  for (const auto& s : corpus) bytes += s.size();
  for (auto _ : state) {
    for (const std::string_view s : corpus) {
      const Parts parts = split(s);
      if (parts.node) normalize(icu, *parts.node);
      if (parts.resource) normalize(icu, *parts.resource);
      icu_to_ascii(icu, parts.domain);
    }
  }
  state.SetItemsProcessed(state.iterations() * kInputs);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// The three profiles alone on the parts of an address (nodeprep of the
// localpart, nameprep of the domain, resourceprep of the resource), without
// the IDNA check: the share of the work the stringprep tables and NFKC carry.
void BM_profiles(benchmark::State& state, const char* name) {
  const Corpus corpus = make_corpus(name);
  std::size_t bytes = 0;
  for (const auto& s : corpus) bytes += s.size();
  for (auto _ : state) {
    for (const std::string_view s : corpus) {
      const Parts parts = split(s);
      if (parts.node) benchmark::DoNotOptimize(quorvel::nodeprep(*parts.node));
      benchmark::DoNotOptimize(quorvel::nameprep(parts.domain));
      if (parts.resource) benchmark::DoNotOptimize(quorvel::resourceprep(*parts.resource));
    }
  }
  state.SetItemsProcessed(state.iterations() * kInputs);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// Raw ICU NFKC of the same three parts: the floor of BM_profiles.
void BM_icu_nfkc_floor(benchmark::State& state, const char* name) {
  const Corpus corpus = make_corpus(name);
  const Icu icu;
  std::size_t bytes = 0;
  for (const auto& s : corpus) bytes += s.size();
  for (auto _ : state) {
    for (const std::string_view s : corpus) {
      const Parts parts = split(s);
      if (parts.node) normalize(icu, *parts.node);
      normalize(icu, parts.domain);
      if (parts.resource) normalize(icu, *parts.resource);
    }
  }
  state.SetItemsProcessed(state.iterations() * kInputs);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// The domain's UTS #46 verdict alone, as the core computes it.
void BM_idna(benchmark::State& state, const char* name) {
  const Corpus corpus = make_corpus(name);
  for (auto _ : state) {
    for (const std::string_view s : corpus) {
      if (!quorvel::idna::check(split(s).domain)) state.SkipWithError("refused a domain of the corpus");
    }
  }
  state.SetItemsProcessed(state.iterations() * kInputs);
}

// Raw ICU UTS #46 ToASCII of the same domains: the floor of BM_idna.
void BM_icu_uts46_floor(benchmark::State& state, const char* name) {
  const Corpus corpus = make_corpus(name);
  const Icu icu;
  for (auto _ : state) {
    for (const std::string_view s : corpus) {
      icu_to_ascii(icu, split(s).domain);
    }
  }
  state.SetItemsProcessed(state.iterations() * kInputs);
}

// The whole preparation of the domain: IDNA check and nameprep.
void BM_domain(benchmark::State& state, const char* name) {
  const Corpus corpus = make_corpus(name);
  for (auto _ : state) {
    for (const std::string_view s : corpus) {
      auto r = quorvel::prepare_domain(split(s).domain);
      if (!r.ok()) state.SkipWithError("refused a domain of the corpus");
      benchmark::DoNotOptimize(r);
    }
  }
  state.SetItemsProcessed(state.iterations() * kInputs);
}

// Raw ICU NFKC and UTS #46 ToASCII of the same domains: the floor of
// BM_domain.
void BM_icu_domain_floor(benchmark::State& state, const char* name) {
  const Corpus corpus = make_corpus(name);
  const Icu icu;
  for (auto _ : state) {
    for (const std::string_view s : corpus) {
      const std::string_view domain = split(s).domain;
      normalize(icu, domain);
      icu_to_ascii(icu, domain);
    }
  }
  state.SetItemsProcessed(state.iterations() * kInputs);
}

// ---- long inputs -------------------------------------------------------------

// U+00AD SOFT HYPHEN maps to nothing in every profile and in UTS #46, so a
// text of any length prepares to a short one.
std::string soft_hyphens(std::size_t bytes) {
  std::string s;
  s.reserve(bytes + 1);
  while (s.size() + 2 <= bytes) s += "\xc2\xad";
  return s;
}

void BM_long_resource(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::string text = "user@example.com/r" + soft_hyphens(n);
  for (auto _ : state) {
    auto r = quorvel::parse_address(text);
    if (!r.ok()) state.SkipWithError("refused");
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_long_domain(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::string text = "user@exa" + soft_hyphens(n) + "mple.com/r";
  for (auto _ : state) {
    auto r = quorvel::parse_address(text);
    if (!r.ok()) state.SkipWithError("refused");
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// An ASCII resource at the length limit: the separator scan, the profile's
// byte classes and one copy.
void BM_ascii_resource(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::string resource;
  for (std::size_t i = 0; i < n; ++i) resource += static_cast<char>('a' + i % 26);
  const std::string text = "user@example.com/" + resource;
  for (auto _ : state) {
    auto r = quorvel::parse_address(text);
    if (!r.ok()) state.SkipWithError("refused");
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void register_all() {
  for (const char* name : kCorpora) {
    benchmark::RegisterBenchmark((std::string("parse/") + name).c_str(), BM_parse, name);
    benchmark::RegisterBenchmark((std::string("copy_floor/") + name).c_str(), BM_copy_floor, name);
    const std::string n = name;
    if (n == "ascii" || n == "mixed" || n == "domain") {
      benchmark::RegisterBenchmark(("parse_sse2/" + n).c_str(), BM_parse_variant, name,
                                   quorvel::ascii::Isa::Sse2);
      if (quorvel::ascii::has_avx2()) {
        benchmark::RegisterBenchmark(("parse_avx2/" + n).c_str(), BM_parse_variant, name,
                                     quorvel::ascii::Isa::Avx2);
      }
    } else {
      benchmark::RegisterBenchmark((std::string("icu_floor/") + name).c_str(), BM_icu_floor, name);
      benchmark::RegisterBenchmark((std::string("profiles/") + name).c_str(), BM_profiles, name);
      benchmark::RegisterBenchmark((std::string("icu_nfkc_floor/") + name).c_str(),
                                   BM_icu_nfkc_floor, name);
      benchmark::RegisterBenchmark((std::string("idna/") + name).c_str(), BM_idna, name);
      benchmark::RegisterBenchmark((std::string("icu_uts46_floor/") + name).c_str(),
                                   BM_icu_uts46_floor, name);
      benchmark::RegisterBenchmark((std::string("domain/") + name).c_str(), BM_domain, name);
      benchmark::RegisterBenchmark((std::string("icu_domain_floor/") + name).c_str(),
                                   BM_icu_domain_floor, name);
    }
  }
  benchmark::RegisterBenchmark("long_resource", BM_long_resource)->RangeMultiplier(32)->Range(1, 1 << 20);
  benchmark::RegisterBenchmark("long_domain", BM_long_domain)->RangeMultiplier(32)->Range(1, 1 << 20);
  benchmark::RegisterBenchmark("ascii_resource", BM_ascii_resource)->Arg(1000);
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

#include "unicode_support.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "utf8.h"

namespace quorvel::unicode_icu {
namespace {

void check(UErrorCode status) {
  if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
}

// The normalisation data the addresses are defined with is Unicode 16.0.
// An ICU with newer data would also decompose characters encoded after it,
// so there the normaliser is restricted to what 16.0 assigned.
class Nfkc {
 public:
  static const Nfkc& get() {
    static const Nfkc instance;
    return instance;
  }
  const icu::Normalizer2& normalizer() const { return *active_; }

 private:
  Nfkc() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
    if (U_FAILURE(status) || nfkc == nullptr) throw std::bad_alloc();
    active_ = nfkc;
    UVersionInfo version;
    u_getUnicodeVersion(version);
    if (version[0] > 16) {
      status = U_ZERO_ERROR;
      assigned_ = std::make_unique<icu::UnicodeSet>(icu::UnicodeString(u"[:age=16.0:]"), status);
      if (U_SUCCESS(status)) {
        assigned_->freeze();
        filtered_ = std::make_unique<icu::FilteredNormalizer2>(*nfkc, *assigned_);
        active_ = filtered_.get();
      }
    }
  }

  const icu::Normalizer2* active_ = nullptr;
  std::unique_ptr<icu::UnicodeSet> assigned_;
  std::unique_ptr<icu::FilteredNormalizer2> filtered_;
};

// Above this many bytes a text may hold a run of combining marks long enough
// for the normaliser's insertion-based canonical ordering to go quadratic.
constexpr std::size_t kLongText = 1024;

// Decomposes `s` fully (compatibility decomposition, no reordering), then
// orders each run of non-starters with a stable sort by combining class.
// The result is canonically equivalent to `s` and already in canonical
// order, so normalising it costs the normaliser linear time and gives the
// same NFKC as `s`.
std::string decompose_and_order(std::string_view s, const icu::Normalizer2& n) {
  std::vector<char32_t> cps;
  cps.reserve(s.size());
  icu::UnicodeString decomposition;
  for (std::size_t i = 0; i < s.size();) {
    const char32_t c = utf8::decode(s, i);
    if (n.getDecomposition(static_cast<UChar32>(c), decomposition)) {
      for (int32_t k = 0; k < decomposition.length();) {
        const UChar32 d = decomposition.char32At(k);
        cps.push_back(static_cast<char32_t>(d));
        k += U16_LENGTH(d);
      }
    } else {
      cps.push_back(c);
    }
  }
  std::vector<std::uint8_t> ccc(cps.size());
  for (std::size_t k = 0; k < cps.size(); ++k) {
    ccc[k] = n.getCombiningClass(static_cast<UChar32>(cps[k]));
  }
  std::vector<std::pair<std::uint8_t, char32_t>> run;
  for (std::size_t k = 0; k < cps.size();) {
    if (ccc[k] == 0) {
      ++k;
      continue;
    }
    std::size_t end = k;
    while (end < cps.size() && ccc[end] != 0) ++end;
    if (end - k > 1) {
      run.clear();
      for (std::size_t m = k; m < end; ++m) run.emplace_back(ccc[m], cps[m]);
      std::stable_sort(run.begin(), run.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      for (std::size_t m = k; m < end; ++m) cps[m] = run[m - k].second;
    }
    k = end;
  }
  std::string out;
  out.reserve(s.size());
  for (char32_t c : cps) utf8::append(out, c);
  return out;
}

}  // namespace

bool to_nfkc(std::string_view s, std::string& out) {
  const icu::Normalizer2& n = Nfkc::get().normalizer();
  std::string ordered;
  if (s.size() > kLongText) {
    // Even the normaliser's own "is it normalised?" test reorders marks the
    // slow way, so long texts always take the linear route.
    ordered = decompose_and_order(s, n);
  } else {
    UErrorCode status = U_ZERO_ERROR;
    const UBool yes =
        n.isNormalizedUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())), status);
    check(status);
    if (U_SUCCESS(status) && yes) return false;
  }
  const std::string_view src = ordered.empty() ? s : std::string_view(ordered);
  icu::StringByteSink<std::string> sink(&out, static_cast<int32_t>(src.size()));
  UErrorCode status = U_ZERO_ERROR;
  n.normalizeUTF8(0, icu::StringPiece(src.data(), static_cast<int32_t>(src.size())), sink,
                  nullptr, status);
  check(status);
  if (U_FAILURE(status)) throw std::bad_alloc();  // only a resource failure is possible here
  return out != s;
}

}  // namespace quorvel::unicode_icu

// One stringprep profile, chosen at build time (QUORVEL_PROFILE): no crash,
// the outcome of its slow twin (the general steps without the one pass for
// text left as written), an unchanged result only when it is the input, and a
// fixed point on its own output. The prepare_* wrappers add the emptiness and
// length kinds.
#include "checks.h"
#include "prep/profiles_twins.h"

using namespace quorvel;

namespace {

#if QUORVEL_PROFILE == 1
constexpr bool kFolds = true;
ProfileResult run(std::string_view s) { return nodeprep(s); }
ProfileResult general(std::string_view s) { return nodeprep_general(s); }
Result<PreparedText> wrapped(std::string_view s) { return prepare_node(s); }
constexpr JidError kPrep = JidError::NodePrep, kEmpty = JidError::NodeEmpty,
                   kLong = JidError::NodeTooLong;
#elif QUORVEL_PROFILE == 2
constexpr bool kFolds = true;
ProfileResult run(std::string_view s) { return nameprep(s); }
ProfileResult general(std::string_view s) { return nameprep_general(s); }
#elif QUORVEL_PROFILE == 3
constexpr bool kFolds = false;
ProfileResult run(std::string_view s) { return resourceprep(s); }
ProfileResult general(std::string_view s) { return resourceprep_general(s); }
Result<PreparedText> wrapped(std::string_view s) { return prepare_resource(s); }
constexpr JidError kPrep = JidError::ResourcePrep, kEmpty = JidError::ResourceEmpty,
                   kLong = JidError::ResourceTooLong;
#else
#error "QUORVEL_PROFILE must be 1 (nodeprep), 2 (nameprep) or 3 (resourceprep)"
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  const ProfileResult r = run(input);
  const ProfileResult twin = general(input);
  QUORVEL_CHECK(r.ok() == twin.ok(), input);
  if (r) {
    QUORVEL_CHECK(r->str() == twin->str() && r->unchanged() == twin->unchanged(), input);
  } else {
    QUORVEL_CHECK(r.error() == twin.error(), input);
  }
  if (!fuzz::valid_utf8(input)) {
    QUORVEL_CHECK(!r, input);
  }
#if QUORVEL_PROFILE != 2
  // The wrapper's kind follows from the profile's verdict and the output.
  const Result<PreparedText> w = wrapped(input);
  if (!r) {
    QUORVEL_CHECK(!w && w.error() == kPrep, input);
  } else if (r->empty()) {
    QUORVEL_CHECK(!w && w.error() == kEmpty, input);
  } else if (r->size() > kMaxPartBytes) {
    QUORVEL_CHECK(!w && w.error() == kLong, input);
  } else {
    QUORVEL_CHECK(w.ok() && w->str() == r->str() && w->unchanged() == r->unchanged(), input);
  }
#endif
  if (!r) return 0;
  const std::string out = fuzz::checked_output(*r, input);
  QUORVEL_CHECK(out.size() <= 18 * input.size() + 16, input);  // NFKC grows by at most 18x
  fuzz::check_fixed_point(run, out, kFolds, input);
  return 0;
}

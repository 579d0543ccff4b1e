// A domainpart: no crash, IP literals untouched, one trailing dot dropped,
// the ASCII shortcut agreeing with the full check, the one-pass route for
// non-ASCII text agreeing with the general one, and a fixed point on its own
// output.
#include "checks.h"
#include "domain/idna_check.h"
#include "domain/ip_literal.h"
#include "domain/prepare_domain.h"
#include "simd/scan.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  const Result<PreparedText> r = prepare_domain(input);

  // The one pass (domain_one_pass.h) and its slow twin: the same error, or
  // the same bytes and the same unchanged flag.
  const Result<PreparedText> general = prepare_domain_general(input);
  QUORVEL_CHECK(r.ok() == general.ok(), input);
  if (r) {
    QUORVEL_CHECK(r->str() == general->str() && r->unchanged() == general->unchanged(), input);
  } else {
    QUORVEL_CHECK(r.error() == general.error(), input);
  }

  // The ASCII fast path must reach the verdict of the full check.
  const bool dot = !input.empty() && input.back() == '.';
  const std::string_view body = dot ? input.substr(0, input.size() - 1) : input;
  if (scan::is_ascii(body)) {
    const idna::Verdict fast = idna::check_ascii(body);
    if (fast != idna::Verdict::NeedsFullCheck) {
      QUORVEL_CHECK((fast == idna::Verdict::Pass) == idna::check_full(body), input);
    }
  }

  if (!r) {
    QUORVEL_CHECK(r.error() == JidError::Idna || r.error() == JidError::NamePrep, input);
    QUORVEL_CHECK(!ip::is_ipv4(input) && !ip::is_bracketed_ipv6(input), input);
    return 0;
  }
  const std::string out = fuzz::checked_output(*r, input);
  QUORVEL_CHECK(!out.empty(), input);
  QUORVEL_CHECK(out.size() <= 65535 - 1024, input);
  QUORVEL_CHECK(out.find_first_of("@/") == std::string::npos || ip::is_bracketed_ipv6(input) ||
                    ip::is_ipv4(input),
                input);
  if (ip::is_ipv4(input) || ip::is_bracketed_ipv6(input)) {
    QUORVEL_CHECK(r->unchanged(), input);
    return 0;
  }
  // A dropped dot always counts as a change, and leaves the same result as
  // preparing the text without it.
  if (dot) {
    QUORVEL_CHECK(!r->unchanged(), input);
    auto without = prepare_domain(body);
    QUORVEL_CHECK(without.ok() && without->str() == out, input);
  }
  fuzz::check_fixed_point(prepare_domain, out, true, input);
  return 0;
}

// The preparation of a domainpart: IP literals, one trailing dot, the UTS #46
// check, then nameprep of the same text; for the usual non-ASCII domain both
// in one pass (domain_one_pass.h).
//
// The stored domain is the nameprep form of what was written, not the ASCII
// form the IDNA check computes: a Unicode label stays Unicode and a Punycode
// label stays Punycode, so two spellings of one name are two domains here.
// Interoperating servers compare the same way.
#include "domain/prepare_domain.h"

#include "domain/domain_one_pass.h"
#include "domain/idna_check.h"
#include "domain/ip_literal.h"
#include "domain/limits.h"
#include "quorvel/profiles.h"
#include "simd/scan.h"

namespace quorvel {
namespace {

// Both passes at once for plain ASCII (the usual domain): the IDNA check, and
// nameprep, which on ASCII only folds capitals.
enum class AsciiOutcome { Unchanged, Lowered, Fail, NeedsFullCheck };

AsciiOutcome prepare_ascii(std::string_view domain) noexcept {
  switch (idna::check_ascii(domain)) {
    case idna::Verdict::Fail:
      return AsciiOutcome::Fail;
    case idna::Verdict::NeedsFullCheck:
      return AsciiOutcome::NeedsFullCheck;
    case idna::Verdict::Pass:
      break;
  }
  for (char c : domain) {
    if (c >= 'A' && c <= 'Z') return AsciiOutcome::Lowered;
  }
  return AsciiOutcome::Unchanged;
}

// The IDNA check judged the text as written, but the value stores nameprep's
// output, which can differ in ways the check cares about: "\u00df--c" passes
// and folds to "ss--c", which breaks the hyphen rule; a label of many "\u00df"
// passes as Punycode and folds to more than 63 bytes. Such a domain could be
// stored but never parsed back, so its address could not be copied, pickled
// or sent and read again. It is refused like any other domain IDNA refuses.
bool prepared_passes_idna(const PreparedText& prepared, std::string_view checked) {
  if (prepared.has_view()) {
    const std::string_view out = prepared.view();
    return out == checked || idna::check(out);
  }
  // Only capitals folded: the check ignores ASCII case, so the verdict stands.
  return true;
}

// The UTS #46 check and nameprep, each on its own: the general path for a
// domain that is not plain ASCII or holds a Punycode label. `domain` is
// `text` without its trailing dot, if it had one.
Result<PreparedText> prepare_checked(std::string_view text, std::string_view domain,
                                     bool dot_dropped) {
  if (!idna::check_full(domain)) return JidError::Idna;
  ProfileResult prepared = nameprep(domain);
  if (!prepared) return JidError::NamePrep;
  if (!domain_fits_positions(prepared->size())) return JidError::Idna;
  if (prepared->unchanged()) {
    return dot_dropped ? PreparedText::slice(domain) : PreparedText::unchanged(text);
  }
  if (!prepared_passes_idna(*prepared, domain)) return JidError::Idna;
  return std::move(prepared).value();
}

enum class Route { OnePass, General };

Result<PreparedText> prepare(std::string_view text, Route route) {
  if (ip::is_ipv4(text) || ip::is_bracketed_ipv6(text)) return PreparedText::unchanged(text);

  const bool dot_dropped = !text.empty() && text.back() == '.';
  const std::string_view domain = dot_dropped ? text.substr(0, text.size() - 1) : text;

  if (scan::is_ascii(domain)) {
    switch (prepare_ascii(domain)) {
      case AsciiOutcome::Fail:
        return JidError::Idna;
      case AsciiOutcome::Unchanged:
        return dot_dropped ? PreparedText::slice(domain) : PreparedText::unchanged(text);
      case AsciiOutcome::Lowered:
        return PreparedText::ascii_lowered(domain);
      case AsciiOutcome::NeedsFullCheck:
        break;
    }
  } else if (route == Route::OnePass) {
    std::string folded;
    switch (domain_one_pass::prepare(domain, folded)) {
      case domain_one_pass::Outcome::Unchanged:
        return dot_dropped ? PreparedText::slice(domain) : PreparedText::unchanged(text);
      case domain_one_pass::Outcome::Lowered:
        // Bytes of multi-byte characters are never capitals: folding them
        // while copying leaves the rest as it is.
        return PreparedText::ascii_lowered(domain);
      case domain_one_pass::Outcome::Folded:
        if (domain_fits_positions(folded.size())) return PreparedText::owned(std::move(folded));
        break;
      case domain_one_pass::Outcome::Undecided:
        break;
    }
  }
  return prepare_checked(text, domain, dot_dropped);
}

}  // namespace

Result<PreparedText> prepare_domain(std::string_view text) { return prepare(text, Route::OnePass); }

Result<PreparedText> prepare_domain_general(std::string_view text) {
  return prepare(text, Route::General);
}

}  // namespace quorvel

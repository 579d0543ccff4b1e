// Any bytes as an RFC 7622 address, and as each of its parts: no crash; the
// ASCII shortcut agrees with the part-by-part route; a
// stored value prepares to itself, part by part and whole (what str(),
// pickling and comparison with text rely on); the profiles never accept
// ill-formed UTF-8 and never return it.
#include "checks.h"
#include "quorvel/precis.h"

using namespace quorvel;

namespace {

void check_part(const Result<PreparedText>& r, Result<PreparedText> (*prepare)(std::string_view),
                std::string_view input) {
  if (!r) return;
  const std::string out = r->str();
  QUORVEL_CHECK(fuzz::valid_utf8(input) && fuzz::valid_utf8(out), input);
  const Result<PreparedText> again = prepare(out);
  QUORVEL_CHECK(again.ok() && again->str() == out, input);
}

template <class R>
bool same(const R& a, const R& b) {
  if (a.ok() != b.ok()) return false;
  return a.ok() ? a->str() == b->str() : a.error() == b.error();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  // Each shortcut against the rules applied one after another.
  QUORVEL_CHECK(same(precis::username_case_mapped(input), precis::username_case_mapped_general(input)),
                input);
  QUORVEL_CHECK(same(precis::opaque_string(input), precis::opaque_string_general(input)), input);
  QUORVEL_CHECK(same(precis::prepare_domain(input), precis::prepare_domain_general(input)), input);
  check_part(precis::prepare_node(input), precis::prepare_node, input);
  check_part(precis::prepare_resource(input), precis::prepare_resource, input);
  check_part(precis::prepare_domain(input), precis::prepare_domain, input);

  const Result<JidValue> r = precis::parse_address(input);
  // The shortcut for plain ASCII and the part-by-part route agree.
  const Result<JidValue> general = precis::parse_address_general(input);
  QUORVEL_CHECK(r.ok() == general.ok(), input);
  QUORVEL_CHECK(r.ok() ? r->text() == general->text() : r.error() == general.error(), input);
  if (!r) {
    const auto kind = static_cast<int>(r.error());
    QUORVEL_CHECK(kind >= 0 && kind < kJidErrorCount, input);
    return 0;
  }
  const std::string_view text = r->text();
  QUORVEL_CHECK(fuzz::valid_utf8(text), input);
  const Result<JidValue> again = precis::parse_address(text);
  QUORVEL_CHECK(again.ok() && again->text() == text &&
                    again->localpart_end() == r->localpart_end() &&
                    again->slash_position() == r->slash_position(),
                input);
  const Result<JidValue> bare = precis::parse_bare_address(bare_text(*r));
  QUORVEL_CHECK(bare.ok() && bare->text() == bare_text(*r), input);
  return 0;
}

// Any bytes as an address: no crash, and a success or failure that agrees
// with preparing the raw parts one by one.
#include "address/fast/ascii_address.h"
#include "checks.h"

using namespace quorvel;

namespace {

// Same outcome: the same text and positions, or the same error kind.
bool same(const Result<JidValue>& a, const Result<JidValue>& b) {
  if (a.ok() != b.ok()) return false;
  if (!a.ok()) return a.error() == b.error();
  return a->text() == b->text() && a->localpart_end() == b->localpart_end() &&
         a->slash_position() == b->slash_position();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  const Result<JidValue> r = parse_address(input);

  // Every variant of the fast path this processor runs, and the general
  // path alone, give the same outcome.
  QUORVEL_CHECK(same(r, parse_address_general(input)), input);
  QUORVEL_CHECK(same(r, parse_address_with(input, ascii::Isa::Bytes)), input);
  QUORVEL_CHECK(same(r, parse_address_with(input, ascii::Isa::Sse2)), input);
  if (ascii::has_avx2()) QUORVEL_CHECK(same(r, parse_address_with(input, ascii::Isa::Avx2)), input);
  const std::optional<JidError> expected = fuzz::expected_parse_error(input);
  if (!r) {
    QUORVEL_CHECK(expected.has_value() && *expected == r.error(), input);
    QUORVEL_CHECK(r.error() != JidError::ResourceInBareJid &&
                      r.error() != JidError::ResourceMissingInFullJid,
                  input);
    return 0;
  }
  QUORVEL_CHECK(!expected.has_value(), input);
  fuzz::check_value(*r, input);

  // The stored parts are exactly the raw slices, prepared on their own.
  const std::size_t first = input.find_first_of("@/");
  const bool has_node = first != std::string_view::npos && input[first] == '@';
  QUORVEL_CHECK(has_node == node_part(*r).has_value(), input);
  QUORVEL_CHECK((input.find('/', has_node ? first : 0) != std::string_view::npos) ==
                    resource_part(*r).has_value(),
                input);
  if (has_node) {
    QUORVEL_CHECK(prepare_node(input.substr(0, first))->str() == *node_part(*r), input);
  }
  if (auto res = resource_part(*r)) {
    const std::size_t slash = input.find('/', has_node ? first : 0);
    QUORVEL_CHECK(prepare_resource(input.substr(slash + 1))->str() == *res, input);
  }
  return 0;
}

// The bare parser is the full parser plus one refusal, decided last.
#include "checks.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  const Result<JidValue> bare = parse_bare_address(input);
  const Result<JidValue> full = parse_address(input);
  if (!full) {
    QUORVEL_CHECK(!bare && bare.error() == full.error(), input);
    return 0;
  }
  if (!full->is_bare()) {
    QUORVEL_CHECK(!bare && bare.error() == JidError::ResourceInBareJid, input);
    return 0;
  }
  QUORVEL_CHECK(bare.ok(), input);
  QUORVEL_CHECK(*bare == *full && bare->localpart_end() == full->localpart_end() &&
                    bare->is_bare(),
                input);
  fuzz::check_value(*bare, input);
  return 0;
}

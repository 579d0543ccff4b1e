// The plain-URI splitter of quorvel.uri.parse (binding/text/uri_plain.h): its
// mask route against its byte-at-a-time twin, and decoding what it accepts.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "checks.h"
#include "text/uri_plain.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Most inputs are made URIs, so that the splitter gets past the scheme.
  const std::string_view raw = fuzz::as_text(data, size);
  for (const std::string& uri : {std::string(raw), "xmpp:" + std::string(raw)}) {
    binding::PlainUri fast, slow;
    const bool fast_ok = binding::split_plain_uri(uri, fast);
    const bool slow_ok = binding::split_plain_uri_portable(uri, slow);
    QUORVEL_CHECK(fast_ok == slow_ok, uri);
    if (!fast_ok) continue;
    QUORVEL_CHECK(fast.path == slow.path && fast.action == slow.action && fast.encoded == slow.encoded, uri);
    // Exactly as long as it needs: ASan catches a write past the end.
    const auto out = std::make_unique<char[]>(fast.path.size());
    const std::size_t length = binding::decode_plain_path(fast.path, out.get());
    QUORVEL_CHECK(length <= fast.path.size() && (fast.encoded || length == fast.path.size()), uri);
  }
  return 0;
}

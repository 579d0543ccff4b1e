// XEP-0106 escaping (escape_localpart): its printable-ASCII route against
// the general one, and what an escaped localpart must be: a localpart that
// prepares to itself, unescapes to the text as Nodeprep maps it, and
// escapes back to itself from that display text.
#include "checks.h"
#include "escape/escape_twin.h"
#include "prep/char_tables.h"
#include "unicode/normalize.h"
#include "unicode/utf8_codec.h"

using namespace quorvel;

namespace {

std::string describe(const Result<std::string, EscapeError>& r) {
  return r ? "ok:" + *r : "err:" + std::string(name(r.error()));
}

// Nodeprep's mapping written out from the tables, apart from escape.cpp's:
// B.1 removed, B.2 folded, then NFKC. Nothing for text that is not UTF-8.
std::optional<std::string> mapped(std::string_view text) {
  std::string folded;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t c = utf8::decode(text, i);
    if (c == utf8::kInvalid) return std::nullopt;
    const tables::Flags f = tables::flags(c);
    if (f & tables::kMapToNothing) continue;
    folded.append(f & tables::kCaseFold ? tables::case_fold(c) : text.substr(start, i - start));
  }
  std::string out;
  return unicode::to_nfkc(folded, out) ? out : folded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  const auto escaped = escape_localpart(input);
  QUORVEL_CHECK(describe(escaped) == describe(escape_localpart_general(input)), input);
  QUORVEL_CHECK(escaped || escaped.error() != EscapeError::InvalidUtf8 || !fuzz::valid_utf8(input), input);

  // With nothing to escape, escaping is preparing, except that escaping
  // maps the text before preparing it, so a character that folds again once
  // mapped (U+1CCD6 is "A" after NFKC, which folds to "a") is folded there.
  const auto prepared = prepare_node(input);
  if (prepared && prepared->str().find('\\') == std::string::npos &&
      !may_fold_again(prepared->str())) {
    QUORVEL_CHECK(escaped && *escaped == prepared->str(), input);
  }
  if (!escaped) return 0;

  const std::string& out = *escaped;
  QUORVEL_CHECK(!out.empty() && out.size() <= kMaxPartBytes && fuzz::valid_utf8(out), input);
  fuzz::check_fixed_point(prepare_node, out, /*folds=*/true, input);

  // The display text is the mapped input, except where a character folds
  // again once mapped (refold.h), and it escapes back to the same localpart.
  const auto display = unescape_localpart(out);
  QUORVEL_CHECK(display.ok(), input);
  const std::string shown = display->str();
  const auto want = mapped(input);
  QUORVEL_CHECK(want.has_value(), input);
  if (may_fold_again(*want) || may_fold_again(out)) return 0;
  QUORVEL_CHECK(shown == *want, input);
  const auto again = escape_localpart(shown);
  QUORVEL_CHECK(again && *again == out, input);
  return 0;
}

// XEP-0106 unescaping, as unescape_node runs it (prepare, then unescape) and
// on raw bytes, against a plain reference of the ten escapes.
#include "checks.h"

using namespace quorvel;

namespace {

std::optional<std::string> reference(std::string_view t) {
  // Without a backslash the text is passed on as it is (a prepared localpart
  // cannot have a space at either end).
  if (t.find('\\') == std::string_view::npos) return std::string(t);
  static constexpr const char* kEscapes[][2] = {
      {"20", " "}, {"22", "\""}, {"26", "&"}, {"27", "'"}, {"2f", "/"},
      {"3a", ":"}, {"3c", "<"},  {"3e", ">"}, {"40", "@"}, {"5c", "\\"}};
  std::string out;
  std::size_t i = 0;
  while (i < t.size()) {
    bool matched = false;
    if (t[i] == '\\' && i + 2 < t.size()) {
      for (const auto& e : kEscapes) {
        if (t.substr(i + 1, 2) == e[0]) {
          out += e[1];
          i += 3;
          matched = true;
          break;
        }
      }
    }
    if (!matched) out += t[i++];
  }
  if (!out.empty() && (out.front() == ' ' || out.back() == ' ')) return std::nullopt;
  return out;
}

void check(std::string_view t, std::string_view input) {
  const Result<PreparedText> r = unescape_localpart(t);
  const std::optional<std::string> want = reference(t);
  if (!r) {
    QUORVEL_CHECK(r.error() == JidError::NodePrep && !want, input);
    return;
  }
  QUORVEL_CHECK(want.has_value(), input);
  const std::string out = fuzz::checked_output(*r, t);
  QUORVEL_CHECK(out == *want, input);
  QUORVEL_CHECK(out.size() <= t.size() && (t.empty() || !out.empty()), input);
  if (t.find('\\') == std::string_view::npos) QUORVEL_CHECK(r->unchanged(), input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  check(input, input);
  if (auto prepared = prepare_node(input)) check(prepared->str(), input);
  return 0;
}

// Parsing an address, preparing single parts, and building values from
// parts that were already prepared.
#pragma once

#include <optional>
#include <string_view>

#include "quorvel/jid_error.h"
#include "quorvel/jid_value.h"
#include "quorvel/prepared_text.h"
#include "quorvel/result.h"

namespace quorvel {

// kMaxPartBytes, the longest localpart or resourcepart, is in jid_value.h
// with the positions it bounds.

Result<JidValue> parse_address(std::string_view text);
Result<JidValue> parse_bare_address(std::string_view text);

// The longest text parse_plain_short takes.
inline constexpr std::size_t kPlainShortMax = 63;
// parse_address's first route without the value: when `text` (at most
// kPlainShortMax bytes) is plain ASCII that is a valid address as written or
// with its capitals folded, writes that normalised text, text.size() bytes,
// to `out` and gives its separators; otherwise nullopt, and parse_address
// decides. For callers that copy each result elsewhere (a column), so that
// the usual address costs no allocation.
std::optional<Separators> parse_plain_short(std::string_view text, char* out) noexcept;

Result<PreparedText> prepare_node(std::string_view text);
Result<PreparedText> prepare_resource(std::string_view text);

// True when `text` is a valid resourcepart that preparation leaves exactly
// as it is because it is plain printable ASCII of 1 to 1023 bytes: the
// usual resource, decided in one pass without the profile. False decides
// nothing; prepare_resource does.
bool is_plain_resource(std::string_view text) noexcept;
// prepare_domain lives in profiles.h with the rest of the domain rules.

// A prepared part handed to the builders: a prepared text, or a view into an
// existing value (already prepared when that value was made).
class Part {
 public:
  Part(const PreparedText& p) noexcept : prepared_(&p) {}  // NOLINT: implicit
  Part(std::string_view v) noexcept : view_(v) {}          // NOLINT: implicit
  std::size_t size() const noexcept { return prepared_ ? prepared_->size() : view_.size(); }
  void copy_to(char* dst) const noexcept {
    if (prepared_) {
      prepared_->copy_to(dst);
    } else if (!view_.empty()) {
      std::memcpy(dst, view_.data(), view_.size());
    }
  }

 private:
  const PreparedText* prepared_ = nullptr;
  std::string_view view_;
};

// Building. No checks beyond the internal invariants: every part must come
// from the preparing operations above or from an existing value.
JidValue join_parts(std::optional<Part> localpart, Part domain,
                    std::optional<Part> resource);
JidValue attach_resource(const JidValue& bare, Part resource);
// The value with its resource (if any) replaced by `resource`.
JidValue replace_resource(const JidValue& value, Part resource);
JidValue bare_copy(const JidValue& value);
void strip_resource(JidValue& value) noexcept;

}  // namespace quorvel

#include "quorvel/address.h"

#include <cassert>

#include "address/fast/ascii_address.h"
#include "address/fast/ascii_short.h"
#include "address/part_by_part.h"
#include "domain/limits.h"
#include "prep/refold.h"
#include "quorvel/profiles.h"
#include "simd/scan.h"

namespace quorvel {
namespace {

// Writes the parts into one new buffer: [localpart "@"] domain ["/" resource].
JidValue build(const std::optional<Part>& localpart, const Part& domain,
               const std::optional<Part>& resource) {
  const std::size_t node_size = localpart ? localpart->size() : 0;
  const std::size_t domain_start = localpart ? node_size + 1 : 0;
  const std::size_t domain_end = domain_start + domain.size();
  const std::size_t total = domain_end + (resource ? resource->size() + 1 : 0);
  // Guaranteed by the preparing operations (see domain_limits.h).
  assert(node_size <= kMaxPartBytes && domain_end <= 0xFFFF);

  auto buffer = JidValue::allocate(total);
  char* p = buffer.get();
  if (localpart) {
    localpart->copy_to(p);
    p[node_size] = '@';
  }
  domain.copy_to(p + domain_start);
  if (resource) {
    p[domain_end] = '/';
    resource->copy_to(p + domain_end + 1);
  }
  return JidValue::adopt(std::move(buffer), static_cast<std::uint32_t>(total),
                         static_cast<std::uint16_t>(node_size),
                         resource ? static_cast<std::uint16_t>(domain_end) : 0);
}

// A localpart or resourcepart: the profile's verdict, then emptiness, then
// length, each judged on the prepared text.
Result<PreparedText> checked_part(ProfileResult r, JidError prep, JidError empty,
                                  JidError too_long) {
  if (!r) return prep;
  if (r->empty()) return empty;
  if (r->size() > kMaxPartBytes) return too_long;
  return std::move(r).value();
}

Result<PreparedText> prepare_node_once(std::string_view text) {
  return checked_part(nodeprep(text), JidError::NodePrep, JidError::NodeEmpty,
                      JidError::NodeTooLong);
}

// How many further preparations a localpart may need before it is its own
// preparation. Every localpart met so far settles after one; see
// prepare_node.
constexpr int kMaxRefolds = 4;

}  // namespace

// Nodeprep folds case before it normalises, so a few results are not their
// own preparation (see refold.h): preparing them again folds them once
// more, which can make them longer than a localpart may be. Such a value
// would be accepted now while its own text, which pickling saves and str()
// prints, is refused later. So a result that may change is prepared again,
// and again while that changes it too, and a failure on the way refuses the
// input with that failure's kind. The value keeps the first preparation
// (what the text itself prepares to); only its acceptance depends on the
// rest. A result that is a view of the input (unchanged, or only ASCII
// capitals folded) is always its own preparation, so the usual localpart
// pays nothing.
Result<PreparedText> prepare_node(std::string_view text) {
  Result<PreparedText> first = prepare_node_once(text);
  if (!first || first->form() != PreparedText::Form::Owned || !may_fold_again(first->view())) {
    return first;
  }
  std::string current(first->view());
  for (int round = 0; round < kMaxRefolds; ++round) {
    Result<PreparedText> again = prepare_node_once(current);
    if (!again) return again.error();
    if (again->form() != PreparedText::Form::Owned || again->view() == current ||
        !may_fold_again(again->view())) {
      return first;
    }
    current = again->view();
  }
  // Still changing: not a value whose text can be trusted to come back.
  return JidError::NodePrep;
}

// Resourceprep folds nothing, so its result is always its own preparation:
// no normal form holds a character it maps to nothing, and normalisation is
// idempotent. The tests hold every code point to that.
Result<PreparedText> prepare_resource(std::string_view text) {
  return checked_part(resourceprep(text), JidError::ResourcePrep, JidError::ResourceEmpty,
                      JidError::ResourceTooLong);
}

Result<JidValue> parse_address_general(std::string_view text) {
  struct Stringprep {
    static Result<PreparedText> node(std::string_view t) { return prepare_node(t); }
    static Result<PreparedText> domain(std::string_view t) { return prepare_domain(t); }
    static Result<PreparedText> resource(std::string_view t) { return prepare_resource(t); }
  };
  return parse_part_by_part<Stringprep>(text);
}

Result<JidValue> parse_address(std::string_view text) {
  // Nearly every address met in practice is plain ASCII that is valid as
  // written; that case skips the per-part machinery of the general path.
  if (text.size() <= ascii::kShortLayoutMax) return ascii::best_short_parser()(text);
  const PlainLayout plain = long_plain_ascii_layout(text);
  if (plain.ok) return build_plain(text, plain);
  return parse_address_general(text);
}

Result<JidValue> parse_bare_address(std::string_view text) {
  Result<JidValue> r = parse_address(text);
  if (!r) return r;
  if (!r->is_bare()) return JidError::ResourceInBareJid;
  return r;
}

JidValue join_parts(std::optional<Part> localpart, Part domain, std::optional<Part> resource) {
  return build(localpart, domain, resource);
}

bool is_plain_resource(std::string_view text) noexcept { return plain_resource(text); }

JidValue attach_resource(const JidValue& bare, Part resource) {
  assert(bare.is_bare());
  return replace_resource(bare, resource);
}

JidValue replace_resource(const JidValue& value, Part resource) {
  const std::string_view base = bare_text(value);
  const std::size_t total = base.size() + 1 + resource.size();
  auto buffer = JidValue::allocate(total);
  std::memcpy(buffer.get(), base.data(), base.size());
  buffer[base.size()] = '/';
  resource.copy_to(buffer.get() + base.size() + 1);
  return JidValue::adopt(std::move(buffer), static_cast<std::uint32_t>(total),
                         value.localpart_end(), static_cast<std::uint16_t>(base.size()));
}

JidValue bare_copy(const JidValue& value) {
  return JidValue(bare_text(value), value.localpart_end(), 0);
}

void strip_resource(JidValue& value) noexcept { value.truncate_to_bare(); }

}  // namespace quorvel

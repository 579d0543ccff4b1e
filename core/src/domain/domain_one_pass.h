// Both preparations of a non-ASCII domain, the UTS #46 check and nameprep,
// in one pass, for the text nearly every such domain is: characters that
// both leave alone (or, for U+00DF and U+03C2, that only nameprep folds),
// in labels of a plain shape.
//
// The general path reads a domain five times over: it maps it into a new
// buffer, splits that into labels and judges each character again, then
// nameprep decodes the text a third time, and a domain nameprep changes is
// checked once more. Of a text of such characters all of that comes down to
// the shape of its labels (emptiness, hyphens, a leading mark, the deny
// set, the bidi rules of both, the DNS lengths), which one look-up per
// character in a generated table (tools/unicode/domain_one_pass.py) decides.
//
// The pass only ever says "this is the prepared form"; anything it is not
// sure of, every refusal included, goes to the general path, which it must
// agree with on every text it takes (see the differential tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel::domain_one_pass {

enum class Outcome : std::uint8_t {
  Undecided,  // the general path decides
  Unchanged,  // both passes keep the text as it is
  Lowered,    // the text passes; nameprep only folds ASCII capitals
  Folded,     // the text passes; nameprep's output was written to `folded`
};

// `domain` is a domain without its trailing dot. `folded` is written only for
// Outcome::Folded.
Outcome prepare(std::string_view domain, std::string& folded);

// The cheap bound on a label's Punycode length the pass takes before
// punycode::encoded_length_bound, for a label of at most 59 characters
// (`basic` of them ASCII, none above `largest`); exposed for the test that
// holds it above that bound.
std::size_t quick_length_bound_for_tests(std::size_t characters, std::size_t basic,
                                         char32_t largest) noexcept;

}  // namespace quorvel::domain_one_pass

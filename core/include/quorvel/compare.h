// Why RFC 6122 (stringprep) and RFC 7622 (PRECIS) may prepare one part of an
// address differently: the characters of the part that the two standards
// treat otherwise, as a small fixed set of reasons.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel::compare {

// One bit per reason, in the order the comparison reports them.
enum Reason : std::uint32_t {
  kNotInUnicode32 = 1u << 0,   // unassigned in Unicode 3.2, so stringprep refuses it
  kSymbol = 1u << 1,           // a symbol or emoji (General_Category S*)
  kCaseMapping = 1u << 2,      // stringprep's case folding and toLowerCase differ
  kCompatibility = 1u << 3,    // a compatibility form (NFKC replaces it; PRECIS refuses or keeps it)
  kWidth = 1u << 4,            // a fullwidth or halfwidth form
  kSpace = 1u << 5,            // a non-ASCII space
  kALabel = 1u << 6,           // an "xn--" label, decoded under RFC 7622
  kMappedToNothing = 1u << 7,  // deleted by stringprep (Table B.1), refused by PRECIS
  kBidi = 1u << 8,             // right-to-left text, whose rules differ
  kProhibited = 1u << 9,       // none of the above: prohibited by one profile only
};
inline constexpr int kReasonCount = 10;

enum class PartKind : std::uint8_t { Localpart, Domain, Resource };

// The reasons `part` (UTF-8, as written) gives; kProhibited when none of the
// others applies. Ill-formed bytes are skipped.
std::uint32_t reasons(std::string_view part, PartKind kind);

// The reason's name as the tools print it ("case mapping differs").
std::string_view reason_name(Reason r) noexcept;

}  // namespace quorvel::compare

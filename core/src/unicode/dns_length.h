// The lengths DNS allows a domain in its ASCII form, which UTS #46's
// VerifyDnsLength applies and every shortcut of the domain check must apply
// the same way: the one home of both numbers.
#pragma once

#include <cstddef>

namespace quorvel::dns {

// A whole domain, without a root dot.
inline constexpr std::size_t kMaxDomainBytes = 253;
// One label.
inline constexpr std::size_t kMaxLabelBytes = 63;

}  // namespace quorvel::dns

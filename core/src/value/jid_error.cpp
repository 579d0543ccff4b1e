#include "quorvel/jid_error.h"

#include <array>

namespace quorvel {
namespace {

// Indexed by the enumeration's order. The apostrophes are U+2019.
constexpr std::array<std::string_view, kJidErrorCount> kMessages = {
    "nodepart empty despite the presence of a @",
    "resource empty despite the presence of a /",
    "localpart longer than 1023 bytes",
    "resource longer than 1023 bytes",
    "localpart doesn\u2019t pass nodeprep validation",
    "domain doesn\u2019t pass nameprep validation",
    "resource doesn\u2019t pass resourceprep validation",
    "no resource found in this full JID",
    "resource found while parsing a bare JID",
    "second @ found before parsing the resource",
    "domain doesn\u2019t pass idna validation",
    "localpart doesn\u2019t pass usernamecasemapped validation",
    "resource doesn\u2019t pass opaquestring validation",
    "domain doesn\u2019t pass idna2008 validation",
    "localpart isn\u2019t stable under usernamecasemapped",
    "resource isn\u2019t stable under opaquestring",
    "localpart holds a character RFC 7622 forbids",
};

constexpr std::array<std::string_view, kJidErrorCount> kNames = {
    "NodeEmpty",  "ResourceEmpty", "NodeTooLong",  "ResourceTooLong",
    "NodePrep",   "NamePrep",      "ResourcePrep", "ResourceMissingInFullJid",
    "ResourceInBareJid", "TooManyAts", "Idna",
    "NodePrecis", "ResourcePrecis", "DomainIdna2008", "NodeUnstable", "ResourceUnstable",
    "NodeForbidden",
};

}  // namespace

std::string_view message(JidError kind) noexcept {
  return kMessages[static_cast<std::size_t>(kind)];
}

std::string_view name(JidError kind) noexcept {
  return kNames[static_cast<std::size_t>(kind)];
}

}  // namespace quorvel

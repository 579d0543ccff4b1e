// The shape of xmpp: URI that quorvel.uri.parse meets most: "xmpp:", an
// address in the URI form (ASCII, percent-encoded), and at most a bare
// action ("?message"). Recognised here without the interpreter, so that
// such a URI costs little more than the address it holds; every other URI,
// and every fault, is left to the Python parser (python/quorvel/uri.py),
// which is this route's slow twin and the one that words the errors.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::binding {

struct PlainUri {
  std::string_view path;    // as written
  std::string decoded;      // the path percent-decoded (not yet checked as UTF-8), when it holds a "%"
  bool encoded = false;     // whether it does
  std::string_view action;  // empty: no query at all

  std::string_view address() const noexcept { return encoded ? std::string_view(decoded) : path; }
};

// The URI's address and action when `uri` is of the plain shape: lower-case
// scheme; no authority, fragment or IP literal; a non-empty path whose
// localpart, domain and resource hold only the characters RFC 5122 allows
// as themselves (ASCII) and well-formed percent-encodings, none of them an
// encoded "@" or "/"; and no query or one of ASCII letters and digits only.
// Otherwise nothing, and the caller takes the general route.
std::optional<PlainUri> split_plain_uri(std::string_view uri);

}  // namespace quorvel::binding

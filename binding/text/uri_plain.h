// The shape of xmpp: URI that quorvel.uri.parse meets most: "xmpp:", an
// address in the URI form (ASCII, percent-encoded), and at most a bare
// action ("?message"). Recognised here without the interpreter, so that
// such a URI costs little more than the address it holds; every other URI,
// and every fault, is left to the Python parser (python/quorvel/uri.py),
// which is this route's slow twin and the one that words the errors.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorvel::binding {

struct PlainUri {
  std::string_view path;    // as written
  std::string_view action;  // empty: no query at all
  bool encoded = false;     // whether the path holds a "%" (then decode_plain_path)
};

// The URI's path and action when `uri` (ASCII) is of the plain shape:
// lower-case scheme; no authority, fragment or IP literal; a non-empty
// path whose localpart, domain and resource hold only the characters
// RFC 5122 allows as themselves and well-formed percent-encodings, none of
// them an encoded "@" or "/"; and no query or one of ASCII letters and
// digits only. Otherwise false, and the caller takes the general route.
// Decides the usual URI of up to 64 bytes from masks made 32 bytes at a
// time on processors with AVX2; split_plain_uri_portable is its
// byte-at-a-time twin, and what it hands everything else to.
bool split_plain_uri(std::string_view uri, PlainUri& out) noexcept;
bool split_plain_uri_portable(std::string_view uri, PlainUri& out) noexcept;

// The path of a plain URI percent-decoded into `out`, which has room for
// path.size() bytes (decoding never lengthens); returns the decoded length.
// The bytes are not yet checked as UTF-8.
std::size_t decode_plain_path(std::string_view path, char* out) noexcept;

}  // namespace quorvel::binding

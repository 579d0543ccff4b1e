// The module quorvel._text: native helpers of the package's pure-Python
// modules, kept out of quorvel.jid so that the public module holds its
// interface and nothing else. escape_node() is quorvel.escape_node itself;
// uri_record() makes the type behind quorvel.uri.XmppUri, and uri_parser()
// makes quorvel.uri.parse, which reads the usual URI natively and hands
// every other one to the Python parser, its slow twin.
#pragma once

#include "support/support.h"

namespace quorvel::binding::text {

// escape_node(text).
extern PyMethodDef escape_node_def;

// uri_parser(general, uri_type, jid_type): the parse function, bound to
// what it needs; uri_type is a record type (uri_record.h).
extern PyMethodDef uri_parser_def;

}  // namespace quorvel::binding::text

// The module quorvel._text: native helpers of the package's pure-Python
// modules, kept out of quorvel.jid so that the public module holds its
// interface and nothing else. escape_node() is quorvel.escape_node itself.
#pragma once

#include "support.h"

namespace quorvel::binding::text {

// escape_node(text).
extern PyMethodDef escape_node_def;

}  // namespace quorvel::binding::text

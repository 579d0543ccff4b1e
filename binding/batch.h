// The command-line tool's private helpers in quorvel.jid (batch.cpp).
#pragma once

#include "support.h"

namespace quorvel::binding {

// _normalise_block(data, part, bare_only, first_line, groups, source).
extern PyMethodDef normalise_block_def;

// The _Groups type, made once per process like JID.
Outcome<PyTypeObject*> groups_type();

}  // namespace quorvel::binding

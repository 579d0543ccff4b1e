// The module quorvel._blocks: the command-line tool's private native helpers,
// kept out of quorvel.jid so that the public module holds its interface and
// nothing else. normalise_block() parses whole blocks of input lines in one
// call; Groups keeps the --dedupe groups compactly, in every mode of the
// tool. The tool's per-line Python route (python/quorvel/cli.py) is
// normalise_block's slow twin, and _report.PyGroups is the Groups'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "blocks/group_store.h"
#include "support/support.h"

namespace quorvel::binding::blocks {

// normalise_block(data, part, bare_only, first_line, groups, source[, rfc7622]).
extern PyMethodDef normalise_block_def;
// differing_block(data, first_line): the lines RFC 6122 and RFC 7622 treat
// differently, for quorvel-jid --compare.
extern PyMethodDef differing_block_def;

// The Groups type, made once per process like JID.
Outcome<PyTypeObject*> groups_type();

// The store of a Groups object, or null when `obj` is no Groups.
GroupStore* groups_store(PyObject* obj) noexcept;

// False when the printed --dedupe value `value` certainly reads back as
// itself. Only a localpart or domain holding a character with a case-folding
// entry can read back as another address, or not at all (core/src/prep/refold.h),
// and each such character is beyond ASCII or an ASCII capital. The localpart
// and domain of a printed address come before its first "/", which neither
// may hold; a printed resource alone is looked at the same way, which is
// only cautious, since a resource always reads back as itself.
bool may_read_back_otherwise(std::string_view value) noexcept;

// An int argument in [0, limit), or IndexError.
Outcome<std::uint32_t> index_from(PyObject* obj, std::size_t limit);

}  // namespace quorvel::binding::blocks

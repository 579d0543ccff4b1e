#include "unicode/idna_mapping.h"

#include "tables/idna_mapping_17_0_0.h"

namespace quorvel::unicode::idna {

const MappingTable& mapping_17_0_0() noexcept { return generated::v17_0_0::kTable; }

}  // namespace quorvel::unicode::idna

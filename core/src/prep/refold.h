// Which prepared parts a second preparation may change.
//
// Nodeprep and nameprep fold case with Table B.2 (Unicode 3.2) before they
// normalise with current data, so normalisation can leave a character that
// B.2 maps: a capital made from a character the table does not know (U+2C7D
// MODIFIER LETTER CAPITAL V gives "V"), or one composed from such a capital
// and a mark (U+1D2C U+0301 gives U+00C1). Preparing that part again folds
// it; the folded form can be longer, so a localpart can even outgrow its
// limit. A part without any such character is its own preparation: no
// normal form holds a character of Table B.1, normalisation is idempotent,
// and the part has passed every check already. Resourceprep folds nothing,
// so a resourcepart always is its own preparation.
//
// The tests and the fuzzers use this to tell the changes these rules allow
// from faults; nothing on the parsing path needs it.
#pragma once

#include <string_view>

namespace quorvel {

// True when `part` holds a character with a Table B.2 entry. Ill-formed
// UTF-8 counts as no such character.
bool may_fold_again(std::string_view part);

}  // namespace quorvel

// The spec blocks of the actions, as Kem source text: argument words with
// their type blocks, refinements with their arguments, doc strings. The boot
// code loads them into the action! values; the refinement order of each spec
// is the order of the integers its dispatcher receives (dispatch.h).
#pragma once
#include <string_view>

namespace kem {

// The spec text of the action in `slot` (a block, brackets included), or an
// empty view for the slots without a word (path access, 8, comparison).
std::string_view action_spec_text(int slot);

// The action's word ("append"), empty for the slots without one.
std::string_view action_word(int slot);

} // namespace kem

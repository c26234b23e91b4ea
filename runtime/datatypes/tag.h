// tag!: a string kind holding the text between "<" and ">" of a markup tag.
// It behaves as a string! except in form and mold, which both write the text
// between angle brackets with nothing escaped.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

// "<", the text as string! forms it (budget less one), ">"; returns the budget
// left less one. mold does exactly the same.
int32_t tag_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t tag_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);

void register_tag();

} // namespace kem

// issue!: a word written with a leading "#" (#abc). It has the word layout
// and always refers to the global context with index -1; it compares only
// with other issues.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// The cell becomes the issue of the name (interned when new).
Cell* issue_set_in(Cell* c, const char* name);
// Appends the issue of the name to a block.
Cell* issue_make_in(const Cell* block, const char* name);
// Pushes a copy of a word of any kind retyped as issue!.
Cell* issue_push(const Cell* word);

Cell* issue_make(Cell* proto, Cell* spec, int32_t type);

void register_issue();

} // namespace kem

// paren!: a block that evaluates as an expression group, written in
// parentheses. It has the block! layout and takes everything but its mold
// from the block! row.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// Pushes a copy of a block value retyped as paren!.
Cell* paren_push(const Cell* block);

void register_paren();

} // namespace kem

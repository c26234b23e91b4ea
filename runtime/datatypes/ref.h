// ref!: a string written with a leading at sign (@name). It has the string!
// layout and takes every behaviour but its mold from the string! row.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// Pushes a copy of a ref cell (the same buffer, not a copy of the text).
Cell* ref_push(const Cell* ref);

void register_ref();

} // namespace kem

// datatype!: values that name a datatype.
#pragma once
#include "runtime/core/cell.h"

namespace kem {
inline void make_datatype(Cell* c, uint8_t type) { *c = Cell{TYPE_DATATYPE, type, 0, 0}; }
Cell* datatype_make_in(const Cell* block, uint8_t type);
} // namespace kem

// What the two halves of the vector! module share.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"

namespace kem::vector_detail {

// The most a vector buffer holds, in bytes.
constexpr int64_t MAX_VECTOR_BYTES = 0x7FFFFF00;

// 4 bytes for char! and integer! items, 8 for float! and percent!.
uint32_t default_unit(uint32_t type);
// Appends count values as items at the tail, every one checked before any is
// written; same_type also refuses (script invalid-arg) a value whose type is
// not the item type.
void append_items(Cell* vector, const Cell* values, uint32_t count, bool same_type);
// The arithmetic, insertion, change and sort entries of the row.
void set_vector_actions(ActionRow& row);

} // namespace kem::vector_detail

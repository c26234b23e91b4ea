// The value slot table: keeps values alive for code outside the value world.
// A value sits in a numbered cell of a block that the collector marks as a
// root; the number (index + 1, so 0 names nothing) is what the outside keeps.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

constexpr uint32_t SLOTS_INITIAL_CAPACITY = 100;

// Makes the table block (100 cells) with every cell a free slot. Needs the
// memory manager.
void slots_init();

// Copies the value into the first free slot, doubling the table when none is
// free, and returns the slot's number.
uint32_t slots_store(const Cell* value);

// The slot cell for a number; nullptr for 0 and numbers beyond the table.
// The pointer is good until the next allocation.
Cell* slots_get(uint32_t number);

// The slot becomes free and is reused first. 0, numbers beyond the table and
// slots already free are ignored.
void slots_free(uint32_t number);

// The table's block! cell, for the collector to mark with its cells (a none!
// cell until slots_init).
Cell* slots_table();
uint32_t slots_capacity();

} // namespace kem

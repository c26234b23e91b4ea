// Growable arrays of bytes or 32-bit items, kept in ordinary series buffers.
//
// An array is named by its node: every append may move the buffer, so callers
// keep the node, never an item address, across appends. Items run from the
// buffer's head to its tail; the unit (1 or 4) is the unit of the buffer flags.
// Positions for pick and poke are 1-based item numbers; find returns byte
// offsets from the head, which array_remove_bytes accepts. Pick and poke trust
// their positions. Items that name other things hold 32-bit ids (node ids,
// indexes), so the "ptr" operations work on 32-bit items like the int ones.
#pragma once
#include <cstdint>
#include "runtime/core/memory.h"

namespace kem {

// An empty array with room for n items of unit bytes.
NodeId array_make(uint32_t n, uint32_t unit);
uint32_t array_length(NodeId array);             // in items
void array_clear(NodeId array);
// Keeps the first n - 1 items (n <= 1 empties it; never lengthens the array).
void array_set_tail(NodeId array, uint32_t n);
NodeId array_copy(NodeId array);
uint32_t array_flags(NodeId array);
// Where the items start; valid until the next append.
uint8_t* array_head(NodeId array);

void array_append_byte(NodeId array, uint8_t byte);
// The source may lie inside the array itself.
void array_append_bytes(NodeId array, const void* source, uint32_t n);
// Returns the new item's address (valid until the next append).
int32_t* array_append_int(NodeId array, int32_t value);
int32_t array_push_int(NodeId array, int32_t value);

int32_t array_pick_int(NodeId array, uint32_t n);
int32_t array_int_at(NodeId array, uint32_t n);
void array_poke_int(NodeId array, uint32_t n, int32_t value);

// Byte offset from the head of the first 32-bit item equal to value, -1 if none.
int32_t array_find_int(NodeId array, int32_t value);
int32_t array_find_ptr(NodeId array, uint32_t value);
// Removes n bytes at a byte offset from the head, moving the rest down.
void array_remove_bytes(NodeId array, uint32_t offset, uint32_t n);
// Removes the first item equal to value; returns its byte offset, -1 if absent.
int32_t array_remove_ptr(NodeId array, uint32_t value);

} // namespace kem

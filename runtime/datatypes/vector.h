// vector!: a packed series of numbers of one item type and size: char! or
// integer! items of 8, 16 or 32 bits, float! items of 32 or 64 bits,
// percent! items of 64 bits.
//
// Cell: header type 35; payload word 1 the position in items, word 2 the node
// of a buffer whose unit is the item size, word 3 the item type id (10, 11,
// 12 or 38). It takes the series navigation of string! and adds its own make,
// text, comparison, insertion and element-wise arithmetic.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

inline uint32_t vector_item_type(const Cell* v) { return v->data3; }
inline bool vector_float_type(uint32_t type) { return type == TYPE_FLOAT || type == TYPE_PERCENT; }

// --- items, by address: integer items as signed numbers (char! items as
// code points, never negative); float items widened to doubles.
int32_t vector_read_int(const uint8_t* p, uint32_t unit, uint32_t type);
double vector_read_number(const uint8_t* p, uint32_t unit, uint32_t type);
// The item at `offset` from the buffer's head as a value of the item type.
void vector_get_value(const Cell* vector, uint32_t offset, Cell* out);
// Stores a value as one item. A char! or integer! keeps its low bits in an
// integer vector, a float! or percent! its double or single in a float
// vector; a number of the other kind is refused with script invalid-arg,
// anything else with script invalid-type.
void vector_write(uint8_t* p, uint32_t unit, uint32_t type, const Cell* value);
// Refuses, as vector_write would, a value it could not store.
void vector_check_value(uint32_t type, const Cell* value);

// Makes c an empty vector with room for count items; internal no-memory
// when that is more than one buffer holds.
Cell* vector_make_buffer(Cell* c, int64_t count, uint32_t type, uint32_t unit);
// The items from the position as values of the item type, in a new block.
Cell* vector_to_block(const Cell* vector, Cell* block);

// Arithmetic (operators 0 add .. 7 xor) of the current call's arguments, the
// vector first: with a vector, a new one; with a number, the items in place.
Cell* vector_do_math(int32_t op);

void register_vector();

} // namespace kem

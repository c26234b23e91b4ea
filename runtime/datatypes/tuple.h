// tuple!: 3 to 12 unsigned bytes written with dots (1.2.3, 255.0.0.128).
//
// The whole value lives in its cell: the length in header bits 19..22 (the
// other header bits keep their shared meaning), byte 1 the lowest byte of
// payload word 1 up to byte 12 the highest of word 3. Bytes past the length
// are zero whenever a tuple is made or shortened, and no action reads them.
// Arithmetic works byte by byte and clamps every result to 0..255.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/compare_op.h"

namespace kem {

constexpr uint32_t TUPLE_LENGTH_SHIFT = 19;
constexpr uint32_t TUPLE_LENGTH_MASK = 0xFu << TUPLE_LENGTH_SHIFT;
constexpr uint32_t TUPLE_MIN_LENGTH = 3;
constexpr uint32_t TUPLE_MAX_LENGTH = 12;

inline uint32_t tuple_length(const Cell* c) { return (c->header & TUPLE_LENGTH_MASK) >> TUPLE_LENGTH_SHIFT; }
inline void set_tuple_length(Cell* c, uint32_t n) {
    c->header = (c->header & ~TUPLE_LENGTH_MASK) | (n << TUPLE_LENGTH_SHIFT);
}
inline uint8_t* tuple_bytes(Cell* c) { return reinterpret_cast<uint8_t*>(&c->data1); }
inline const uint8_t* tuple_bytes(const Cell* c) { return reinterpret_cast<const uint8_t*>(&c->data1); }

// A tuple of the n bytes (at most 12), zero-padded to 3.
Cell* tuple_make_at(Cell* c, const uint8_t* bytes, uint32_t n);
// The first up to 12 bytes of a binary! from its position, zero-padded to 3.
Cell* tuple_from_binary(const Cell* binary, Cell* c);
// R.G.B from an issue of 3 or 6 hexadecimal digits, R.G.B.A from 8; any other
// text raises script invalid-data naming the issue.
Cell* tuple_from_hex_color(const Cell* issue, Cell* c);
// R.G.B when alpha is -1, else R.G.B.A (each the low byte of its integer).
Cell* tuple_set_rgba(Cell* c, int32_t r, int32_t g, int32_t b, int32_t alpha);
bool tuple_zero_q(const Cell* c);

// Writes through a path: an integer! is stored clamped to 0..255; none! cuts
// the tuple before the index (never below 3 bytes), zeroing what it removes.
// An index outside 1..length raises script out-of-range naming it.
void tuple_poke_byte(Cell* tuple, const Cell* index, const Cell* value);

// Operators 0 add .. 7 xor on the current call's two arguments; the result
// replaces the first.
Cell* tuple_do_math(int32_t op);

Cell* tuple_make(Cell* proto, Cell* spec, int32_t type);
int32_t tuple_compare(Cell* value1, Cell* value2, CompareOp op);

void register_tuple();

} // namespace kem

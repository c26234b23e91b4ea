// typeset!: a set of datatypes held entirely in its cell.
//
// The three payload words hold 96 bits: type id n is bit 0x80 >> (n & 7) of
// payload byte n >> 3 (memory order), the layout typeset_has and the argument
// checks read. Header bits above the type byte belong to the
// user of the cell (argument lists keep the argument kind in bits 20-21);
// nothing here reads them, and equality looks at the payload only.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

inline void typeset_clear(Cell* ts) { *ts = Cell{TYPE_TYPESET, 0, 0, 0}; }
inline void typeset_set_bit(Cell* ts, uint32_t id) {
    if (id >= 96) return;
    reinterpret_cast<uint8_t*>(&ts->data1)[id >> 3] |= uint8_t(0x80u >> (id & 7));
}
inline bool typeset_bit(const Cell* ts, uint32_t id) {
    if (id >= 96) return false;
    return (reinterpret_cast<const uint8_t*>(&ts->data1)[id >> 3] & (0x80u >> (id & 7))) != 0;
}
// typeset_bit for the type id of a value (always below 96): the argument
// checks of every call ask this.
inline bool typeset_has(const Cell* ts, uint8_t type) {
    return (reinterpret_cast<const uint8_t*>(&ts->data1)[type >> 3] & (0x80u >> (type & 7))) != 0;
}

// Every id but unset!: all 96 bits, then unset! taken out.
void typeset_make_default(Cell* ts);

// Adds one value: a datatype! sets its bit, a typeset! is ORed in, a word! is
// first replaced by its value. Anything else raises script invalid-arg naming
// the value as given.
void typeset_add_type(Cell* ts, const Cell* value);

// The registered ids present (ids 1 to the highest registered one).
int32_t typeset_count(const Cell* ts);

// The typeset of an argument's type block in a function spec, written into
// out: datatype!, typeset!, and word! items (each word replaced by its value;
// an unset word raises script no-value naming it). A value that is itself a
// word! adds object!, a block! is skipped, anything else raises script
// invalid-type-spec naming it.
Cell* typeset_from_spec(Cell* out, const Cell* spec_block);

// --- appending to blocks (argument lists, boot data) ---------------------------

// Each appends one typeset! at the tail of block and returns the new cell.
Cell* typeset_make_in(const Cell* block, uint32_t word1, uint32_t word2, uint32_t word3);
Cell* typeset_make_in_default(const Cell* block);
Cell* typeset_from_spec_in(const Cell* block, const Cell* spec_block);

// A new block! of the datatype! values present, in id order, written into result.
Cell* typeset_to_block(const Cell* ts, Cell* result);

// The combination of the current call's two arguments (a typeset! first; a
// typeset! or a datatype! second, else script invalid-arg naming it), left in
// the result cell: 5 or and 9 union, 6 and and 10 intersect, 7 xor and 12
// difference, 11 exclude (first and not second); 8 answers the first unchanged.
Cell* typeset_do_bitwise(int32_t op);

// --- actions ------------------------------------------------------------------------

Cell* typeset_make(Cell* proto, Cell* spec, int32_t type);
int32_t typeset_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t typeset_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
// Equality codes (0, 1, 2, 9, 12): 0 for the same bits, else 1; sort codes
// (7, 8) order by count; -2 for other codes or a right value of another type.
int32_t typeset_compare(Cell* value1, Cell* value2, CompareOp op);
Cell* typeset_and_t();
Cell* typeset_or_t();
Cell* typeset_xor_t();
Cell* typeset_complement(Cell* ts);
// Pushes true when the datatype! argument's bit is set; script invalid-arg
// for any other argument.
Cell* typeset_find(Cell* series, Cell* value, const FindArgs& refs);

void register_typeset();

} // namespace kem

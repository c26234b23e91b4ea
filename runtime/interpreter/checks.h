// Argument checks against the typesets of a spec.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// True when the type's bit is set in a typeset! cell: byte id / 8 of the
// payload, bit 0x80 >> (id % 8).
inline bool typeset_has(const Cell* typeset, uint8_t type) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&typeset->data1);
    return (bytes[type / 8] & (0x80 >> (type % 8))) != 0;
}

// Returns the value when its type is in the typeset; otherwise raises
// expect-arg for argument i (from 0) of the current call.
const Cell* check_arg_type(const Cell* typeset, int i, const Cell* value);
// The cell at stack::arguments + n, when n is not negative (an absent
// refinement's argument is not checked).
void check_arg_at(int32_t n, const Cell* typeset, int i);
// Checks only when the refinement cell is set (payload word 1 not 0).
const Cell* check_arg_if(const Cell* refinement, const Cell* typeset, int i, const Cell* value);
// unset! raises expect-arg naming unset!.
const Cell* check_arg_set(int i, const Cell* value);

} // namespace kem

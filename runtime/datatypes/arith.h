// What integer!, float! and percent! share: operator codes, defined truncation
// of doubles, and the hand-over to a partner type's own arithmetic.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

// Operator codes of the arithmetic cores; the same numbers run through the
// integer, float, pair, tuple and vector arithmetic.
enum MathOp : int32_t {
    OP_ADD = 0,
    OP_SUBTRACT = 1,
    OP_MULTIPLY = 2,
    OP_DIVIDE = 3,
    OP_REMAINDER = 4,
    OP_OR = 5,
    OP_AND = 6,
    OP_XOR = 7,
};

// Truncates toward zero. NaN and values outside the 32-bit range give
// -2147483648, so every double has a defined result (a plain cast has none).
int32_t trunc_to_int32(double d);

// True when d truncated toward zero fits in 32 bits (NaN does not).
inline bool fits_int32(double d) { return d > -2147483649.0 && d < 2147483648.0; }

// The action slot that carries operator op (add for 0 ... xor~ for 7).
int math_op_slot(int32_t op);

// Runs the arithmetic of `type` for op on the current call's two arguments
// through that type's action row, so the partner types take part as soon as
// they register; a type with no such entry raises script invalid-type.
Cell* math_dispatch(uint8_t type, int32_t op);

// Exchanges the current call's two argument cells.
void swap_arguments();

// Raises script not-related: the current call's word and the datatype `type`.
[[noreturn]] void fire_not_related(uint8_t type);
// Raises script not-related for an operand that operator op refuses: the
// action's word (divide, whether called as `/` or `divide`) and the datatype of
// the right operand.
[[noreturn]] void fire_not_related_op(int32_t op, const Cell* right);
// Raises script invalid-type naming the datatype of `value`.
[[noreturn]] void fire_invalid_type(const Cell* value);

} // namespace kem

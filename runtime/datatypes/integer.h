// integer!: 32-bit signed integers, the value in payload word 2.
//
// Integer arithmetic is the hub of mixed arithmetic: with an integer on the
// left, the right operand's type picks the datatype that does the work, and an
// add, subtract, multiply or power that overflows 32 bits yields a float!.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

Cell* integer_push(int32_t v);
Cell* integer_make_at(Cell* c, int32_t v);

int32_t integer_sign(int32_t v);
// |v|; math overflow for -2147483648.
int32_t integer_absolute_value(int32_t v);
// True when the float! cell's double is NaN or lies outside the 32-bit range.
bool integer_float_overflow_q(const Cell* c);
// Decimal text in a buffer owned by this module, valid until the next call.
const char* integer_form_signed(int32_t v);

// Operators 0 add .. 7 xor on two 32-bit values. When `result` is given its
// value word receives the result; an overflowing add, subtract or multiply,
// and an inexact divide, instead turn it into a float! holding the exact
// quotient or result (callers tell the outcomes apart by its type). Without
// `result` those overflow cases wrap and divides truncate.
int32_t integer_do_math_op(int32_t left, int32_t right, int32_t op, Cell* result);
// The current call's two arguments, left an integer!; the result replaces it.
Cell* integer_do_math(int32_t op);

// The round action's integer entry (pair! rounds its axes through it).
Cell* integer_round(Cell* value, const RoundArgs& refs);
int32_t integer_compare(Cell* value1, Cell* value2, CompareOp op);

} // namespace kem

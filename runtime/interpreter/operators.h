// The direct path of the common operators, which the run loop takes when
// both operands are numbers at hand: no frame, no call.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/interpreter/native_specs.h"

namespace kem::interp {

// The direct path of the common operators: an operator over the add,
// subtract, multiply, divide or remainder action with integers and floats,
// over and~, or~ or xor~ with integers, or over a comparison native with two
// integers, when the result needs nothing more (no overflow into a float, no
// zero divisor, no tolerance of float comparison). Computes into *left and
// returns true; false when the operator's action must run.
[[gnu::always_inline]] inline bool number_infix(const Cell* op, Cell* left, const Cell* right) {
    const uint8_t lt = type_of(left);
    const uint8_t rt = type_of(right);
    const uint8_t wrapped = op_wrapped_type(op);
    const uint32_t n = native_number(op);
    if (lt == TYPE_INTEGER && rt == TYPE_INTEGER) {
        const int32_t a = cell_int(left), b = cell_int(right);
        if (wrapped == TYPE_ACTION) {
            int32_t r;
            switch (n) {
            case ACT_ADD:
                if (__builtin_add_overflow(a, b, &r)) return false;
                break;
            case ACT_SUBTRACT:
                if (__builtin_sub_overflow(a, b, &r)) return false;
                break;
            case ACT_MULTIPLY:
                if (__builtin_mul_overflow(a, b, &r)) return false;
                break;
            case ACT_DIVIDE:
                if (b == 0 || (a == INT32_MIN && b == -1)) return false;
                if (a % b != 0) {
                    make_float(left, double(a) / double(b));
                    return true;
                }
                r = a / b;
                break;
            case ACT_REMAINDER:
                if (b == 0 || (a == INT32_MIN && b == -1)) return false;
                r = a % b;
                break;
            case ACT_AND_T: r = a & b; break;
            case ACT_OR_T: r = a | b; break;
            case ACT_XOR_T: r = a ^ b; break;
            default: return false;
            }
            make_integer(left, r);
            return true;
        }
        if (wrapped != TYPE_NATIVE) return false;
        bool outcome;
        switch (n) {
        case NAT_EQUAL_Q:
        case NAT_STRICT_EQUAL_Q: outcome = a == b; break;
        case NAT_NOT_EQUAL_Q: outcome = a != b; break;
        case NAT_LESSER_Q: outcome = a < b; break;
        case NAT_GREATER_Q: outcome = a > b; break;
        case NAT_LESSER_OR_EQUAL_Q: outcome = a <= b; break;
        case NAT_GREATER_OR_EQUAL_Q: outcome = a >= b; break;
        default: return false;
        }
        make_logic(left, outcome);
        return true;
    }
    // Float arithmetic is plain IEEE; float comparisons have their own
    // tolerance and keep the full call.
    if ((lt != TYPE_INTEGER && lt != TYPE_FLOAT) || (rt != TYPE_INTEGER && rt != TYPE_FLOAT)) return false;
    if (wrapped != TYPE_ACTION) return false;
    const double x = lt == TYPE_FLOAT ? cell_float(left) : double(cell_int(left));
    const double y = rt == TYPE_FLOAT ? cell_float(right) : double(cell_int(right));
    double r;
    switch (n) {
    case ACT_ADD: r = x + y; break;
    case ACT_SUBTRACT: r = x - y; break;
    case ACT_MULTIPLY: r = x * y; break;
    default: return false;
    }
    make_float(left, r);
    return true;
}

// Whether an operator may take the direct path with this left operand: its
// right operand is then evaluated before the call is set up. The left
// operand must be one the operator accepts, so no type error is raised
// later than the full call would raise it.
[[gnu::always_inline]] inline bool direct_operator(const Cell* op, const Cell* left) {
    const uint8_t lt = type_of(left);
    if (lt != TYPE_INTEGER && lt != TYPE_FLOAT) return false;
    const uint32_t n = native_number(op);
    switch (op_wrapped_type(op)) {
    case TYPE_ACTION:
        switch (n) {
        case ACT_ADD:
        case ACT_SUBTRACT:
        case ACT_MULTIPLY:
        case ACT_DIVIDE:
        case ACT_REMAINDER: return true;
        case ACT_AND_T:
        case ACT_OR_T:
        case ACT_XOR_T: return lt == TYPE_INTEGER;
        default: return false;
        }
    case TYPE_NATIVE:
        static_assert(NAT_NOT_EQUAL_Q == NAT_EQUAL_Q + 1 && NAT_STRICT_EQUAL_Q == NAT_EQUAL_Q + 2 &&
                      NAT_LESSER_Q == NAT_EQUAL_Q + 3 && NAT_GREATER_Q == NAT_EQUAL_Q + 4 &&
                      NAT_LESSER_OR_EQUAL_Q == NAT_EQUAL_Q + 5 && NAT_GREATER_OR_EQUAL_Q == NAT_EQUAL_Q + 6);
        return n >= NAT_EQUAL_Q && n <= NAT_GREATER_OR_EQUAL_Q;
    default: return false;
    }
}

} // namespace kem::interp

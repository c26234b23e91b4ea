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

// What the direct path computes for an operator: none, or one of these.
// An operator over the add, subtract, multiply, divide or remainder action
// takes integers and floats, one over and~, or~ or xor~ integers, one over
// a comparison native two integers.
enum Infix : uint8_t {
    IX_NONE,
    IX_ADD,
    IX_SUBTRACT,
    IX_MULTIPLY,
    IX_DIVIDE,
    IX_REMAINDER,
    IX_AND,
    IX_OR,
    IX_XOR,
    IX_EQUAL,  // the comparisons in the order of their natives
    IX_NOT_EQUAL,
    IX_STRICT_EQUAL,
    IX_LESSER,
    IX_GREATER,
    IX_LESSER_OR_EQUAL,
    IX_GREATER_OR_EQUAL,
};

// The Infix of each action slot up to xor~.
struct ActionInfix {
    uint8_t of[ACT_XOR_T + 1]{};
    constexpr ActionInfix() {
        of[ACT_ADD] = IX_ADD;
        of[ACT_SUBTRACT] = IX_SUBTRACT;
        of[ACT_MULTIPLY] = IX_MULTIPLY;
        of[ACT_DIVIDE] = IX_DIVIDE;
        of[ACT_REMAINDER] = IX_REMAINDER;
        of[ACT_AND_T] = IX_AND;
        of[ACT_OR_T] = IX_OR;
        of[ACT_XOR_T] = IX_XOR;
    }
};
inline constexpr ActionInfix action_infix;

// The Infix an op! over a callable of type `wrapped` and number `number`
// stands for; kept in the op's header when it is made, where the run loop
// reads it (op_direct).
constexpr uint8_t infix_rule(uint8_t wrapped, uint32_t n) {
    switch (wrapped) {
    case TYPE_ACTION: return n <= ACT_XOR_T ? action_infix.of[n] : uint8_t(IX_NONE);
    case TYPE_NATIVE:
        static_assert(NAT_NOT_EQUAL_Q == NAT_EQUAL_Q + 1 && NAT_STRICT_EQUAL_Q == NAT_EQUAL_Q + 2 &&
                      NAT_LESSER_Q == NAT_EQUAL_Q + 3 && NAT_GREATER_Q == NAT_EQUAL_Q + 4 &&
                      NAT_LESSER_OR_EQUAL_Q == NAT_EQUAL_Q + 5 && NAT_GREATER_OR_EQUAL_Q == NAT_EQUAL_Q + 6);
        return n - NAT_EQUAL_Q <= NAT_GREATER_OR_EQUAL_Q - NAT_EQUAL_Q ? uint8_t(IX_EQUAL + (n - NAT_EQUAL_Q))
                                                                       : uint8_t(IX_NONE);
    default: return IX_NONE;
    }
}

// The direct path of operation ix (not IX_NONE) when the result needs
// nothing more (no overflow into a float, no zero divisor, no tolerance of
// float comparison). Computes into *left and returns true; false when the
// operator's action must run.
[[gnu::always_inline]] inline bool infix_compute(uint8_t ix, Cell* left, const Cell* right) {
    const uint8_t lt = type_of(left);
    const uint8_t rt = type_of(right);
    if (lt == TYPE_INTEGER && rt == TYPE_INTEGER) {
        const int32_t a = cell_int(left), b = cell_int(right);
        int32_t r;
        switch (ix) {
        case IX_ADD:
            if (__builtin_add_overflow(a, b, &r)) return false;
            break;
        case IX_SUBTRACT:
            if (__builtin_sub_overflow(a, b, &r)) return false;
            break;
        case IX_MULTIPLY:
            if (__builtin_mul_overflow(a, b, &r)) return false;
            break;
        case IX_DIVIDE:
            if (b == 0 || (a == INT32_MIN && b == -1)) return false;
            if (a % b != 0) {
                make_float(left, double(a) / double(b));
                return true;
            }
            r = a / b;
            break;
        case IX_REMAINDER:
            if (b == 0 || (a == INT32_MIN && b == -1)) return false;
            r = a % b;
            break;
        case IX_AND: r = a & b; break;
        case IX_OR: r = a | b; break;
        case IX_XOR: r = a ^ b; break;
        case IX_EQUAL:
        case IX_STRICT_EQUAL: make_logic(left, a == b); return true;
        case IX_NOT_EQUAL: make_logic(left, a != b); return true;
        case IX_LESSER: make_logic(left, a < b); return true;
        case IX_GREATER: make_logic(left, a > b); return true;
        case IX_LESSER_OR_EQUAL: make_logic(left, a <= b); return true;
        case IX_GREATER_OR_EQUAL: make_logic(left, a >= b); return true;
        default: return false;
        }
        make_integer(left, r);
        return true;
    }
    // Float arithmetic is plain IEEE; float comparisons have their own
    // tolerance and keep the full call.
    if ((lt != TYPE_INTEGER && lt != TYPE_FLOAT) || (rt != TYPE_INTEGER && rt != TYPE_FLOAT)) return false;
    const double x = lt == TYPE_FLOAT ? cell_float(left) : double(cell_int(left));
    const double y = rt == TYPE_FLOAT ? cell_float(right) : double(cell_int(right));
    double r;
    switch (ix) {
    case IX_ADD: r = x + y; break;
    case IX_SUBTRACT: r = x - y; break;
    case IX_MULTIPLY: r = x * y; break;
    default: return false;
    }
    make_float(left, r);
    return true;
}

// For two integers, which outcomes of comparing them (their bits below)
// make comparison ix true; none for an operation that is no comparison.
enum : uint8_t { OUTCOME_LESSER = 0, OUTCOME_EQUAL = 1, OUTCOME_GREATER = 2 };
constexpr uint8_t comparison_outcomes(uint8_t ix) {
    constexpr uint8_t L = 1 << OUTCOME_LESSER, E = 1 << OUTCOME_EQUAL, G = 1 << OUTCOME_GREATER;
    switch (ix) {
    case IX_EQUAL:
    case IX_STRICT_EQUAL: return E;
    case IX_NOT_EQUAL: return L | G;
    case IX_LESSER: return L;
    case IX_GREATER: return G;
    case IX_LESSER_OR_EQUAL: return L | E;
    case IX_GREATER_OR_EQUAL: return G | E;
    default: return 0;
    }
}
// The outcome of comparing two integers, as comparison_outcomes counts it.
inline uint32_t integer_outcome(int32_t a, int32_t b) { return uint32_t(1 + (a > b) - (a < b)); }

// Whether operation ix may take the direct path with this left operand: its
// right operand is then evaluated before the call is set up. The left
// operand must be one the operator accepts, so no type error is raised
// later than the full call would raise it.
[[gnu::always_inline]] inline bool infix_direct(uint8_t ix, const Cell* left) {
    const uint8_t lt = type_of(left);
    if (lt == TYPE_INTEGER) return ix != IX_NONE;
    return lt == TYPE_FLOAT && ix != IX_NONE && (ix < IX_AND || ix > IX_XOR);
}

} // namespace kem::interp

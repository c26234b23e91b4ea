// The arithmetic core shared by the number types: float operators and operand
// coercion, comparison with a tolerance, rounding, power, and the hand-over to
// partner types through their action rows.
#include "runtime/datatypes/arith.h"
#include <bit>
#include <cmath>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/stack_words.h"
#include "runtime/datatypes/word.h"

namespace kem {

namespace {

const double QUIET_NAN = std::bit_cast<double>(uint64_t(0x7FF8000000000000));

Cell datatype_cell(uint8_t type) {
    Cell c;
    make_datatype(&c, type);
    return c;
}

bool is_int_like(uint8_t t) { return t == TYPE_INTEGER || t == TYPE_CHAR; }

// A number operand as a double: integer! and char! by value, the float layout
// types by their payload.
double number_of(const Cell* c) { return is_int_like(type_of(c)) ? double(cell_int(c)) : cell_float(c); }

} // namespace

// --- shared helpers ----------------------------------------------------------

int32_t trunc_to_int32(double d) {
    return fits_int32(d) ? static_cast<int32_t>(d) : INT32_MIN;
}

int math_op_slot(int32_t op) {
    static constexpr int slots[] = {ACT_ADD, ACT_SUBTRACT, ACT_MULTIPLY, ACT_DIVIDE,
                                    ACT_REMAINDER, ACT_OR_T, ACT_AND_T, ACT_XOR_T};
    return op >= 0 && op < 8 ? slots[op] : 0;
}

Cell* math_dispatch(uint8_t type, int32_t op) {
    int slot = math_op_slot(op);
    auto fn = slot ? reinterpret_cast<action_sig::StackForm>(type_action_table[type][slot]) : nullptr;
    if (!fn) {
        Cell t = datatype_cell(type);
        fire(Err::script_invalid_type, t);
    }
    Cell* result = fn();
    if (result != stack::arguments) stack::set_last(result);
    return stack::arguments;
}

void swap_arguments() {
    Cell tmp = stack::arguments[0];
    stack::arguments[0] = stack::arguments[1];
    stack::arguments[1] = tmp;
}

void fire_not_related(uint8_t type) { fire(Err::script_not_related, stack::caller_word(), datatype_cell(type)); }

void fire_not_related_op(int32_t op, const Cell* right) {
    const Cell word = word_load(std::string(action_word(math_op_slot(op))).c_str());
    fire(Err::script_not_related, word, datatype_cell(type_of(right)));
}

void fire_invalid_type(const Cell* value) { fire(Err::script_invalid_type, datatype_cell(type_of(value))); }

// --- float arithmetic ----------------------------------------------------------

double float_do_math_op(double left, double right, int32_t op) {
    switch (op) {
    case OP_ADD: return left + right;
    case OP_SUBTRACT: return left - right;
    case OP_MULTIPLY: return left * right;
    case OP_DIVIDE: return left / right;
    case OP_REMAINDER:
        if (right * 0.0 == 0.0) return std::fmod(left, right);
        if (std::isnan(right)) return QUIET_NAN;
        return std::isfinite(left) ? left : QUIET_NAN;
    default: fire(Err::script_cannot_use, stack::caller_word(), datatype_cell(TYPE_FLOAT));
    }
}

Cell* float_do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    uint8_t lt = type_of(left);
    uint8_t rt = type_of(right);
    switch (rt) {
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: break;
    case TYPE_CHAR:
        if (lt == TYPE_TIME || lt == TYPE_PERCENT) fire_invalid_type(right);
        break;
    case TYPE_MONEY: return math_dispatch(TYPE_MONEY, op);
    // The partner computes with itself on the left: only the operators where
    // that gives the same answer may swap (remainder is the partner's by rule).
    case TYPE_TUPLE:
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
        if (lt == TYPE_TIME && rt != TYPE_TUPLE) fire_invalid_type(right);
        if (op == OP_SUBTRACT || op == OP_DIVIDE) fire_not_related_op(op, right);
        swap_arguments();
        return math_dispatch(rt, op);
    case TYPE_VECTOR:
        swap_arguments();
        return math_dispatch(TYPE_VECTOR, op);
    default: fire_invalid_type(right);
    }
    double r = float_do_math_op(number_of(left), number_of(right), op);
    uint8_t type = TYPE_FLOAT;
    if (lt == TYPE_TIME || rt == TYPE_TIME) type = TYPE_TIME;
    else if (lt == TYPE_PERCENT) type = TYPE_PERCENT;
    set_type(left, type);
    set_cell_float(left, r);
    return left;
}

Cell* float_power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    double e;
    switch (type_of(exponent)) {
    case TYPE_INTEGER: e = cell_int(exponent); break;
    case TYPE_FLOAT: e = cell_float(exponent); break;
    default: fire_expect_arg(exponent, 1);
    }
    set_cell_float(base, std::pow(cell_float(base), e));
    return base;
}

// --- comparison ----------------------------------------------------------------

bool float_almost_equal(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < FLOAT_EPSILON) return true;
    // Ordered keys: adjacent doubles differ by one, across zero too.
    auto key = [](double d) {
        uint64_t p = std::bit_cast<uint64_t>(d);
        return (p >> 63) ? uint64_t(0) - p : p + (uint64_t(1) << 63);
    };
    uint64_t ka = key(a);
    uint64_t kb = key(b);
    uint32_t ha = uint32_t(ka >> 32);
    uint32_t hb = uint32_t(kb >> 32);
    if ((ha > hb ? ha - hb : hb - ha) > 1) return false;
    return (ka > kb ? ka - kb : kb - ka) <= 10;
}

bool float_almost_equal32(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    uint32_t pa = std::bit_cast<uint32_t>(a);
    uint32_t pb = std::bit_cast<uint32_t>(b);
    uint32_t ma = pa & 0x7FFFFFFF;
    uint32_t mb = pb & 0x7FFFFFFF;
    if (ma >= 0x7F7FFFFF || mb >= 0x7F7FFFFF)
        return (pa >> 31) == (pb >> 31) && (ma > mb ? ma - mb : mb - ma) < 0x100000;
    if (ma == 0 && mb == 0) return true;
    int64_t ka = (pa >> 31) ? -int64_t(ma) : int64_t(ma);
    int64_t kb = (pb >> 31) ? -int64_t(mb) : int64_t(mb);
    return (ka > kb ? ka - kb : kb - ka) <= 10;
}

int32_t float_compare_double(double a, uint8_t type1, Cell* value2, CompareOp op) {
    uint8_t t2 = type_of(value2);
    if ((op == CompareOp::strict_equal || op == CompareOp::same || op == CompareOp::find) && type1 != t2) return 1;
    double b;
    switch (t2) {
    case TYPE_INTEGER: b = cell_int(value2); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: b = cell_float(value2); break;
    case TYPE_MONEY: return type1 == TYPE_FLOAT ? money_compare_float(a, value2, op) : -2;
    default: return -2;
    }
    switch (op) {
    case CompareOp::equal:
    case CompareOp::not_equal: return float_almost_equal(a, b) ? 0 : 1;
    case CompareOp::strict_equal: return a == b ? 0 : 1;
    case CompareOp::same: return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b) ? 0 : 1;
    default: break;
    }
    if (std::isnan(a) || std::isnan(b)) {
        switch (op) {
        case CompareOp::lesser:
        case CompareOp::lesser_or_equal: return 1;
        case CompareOp::greater:
        case CompareOp::greater_or_equal: return -1;
        // find and select must not take NaN for a match of anything.
        case CompareOp::find: return 1;
        default: return 0;
        }
    }
    return a < b ? -1 : (a > b ? 1 : 0);
}

int32_t float_compare(Cell* value1, Cell* value2, CompareOp op) {
    return float_compare_double(cell_float(value1), type_of(value1), value2, op);
}

// --- rounding --------------------------------------------------------------------

Cell* float_round(Cell* value, const RoundArgs& refs) {
    if (refs.to && type_of(refs.to) == TYPE_MONEY) fire_not_related(TYPE_MONEY);
    bool percent = type_of(value) == TYPE_PERCENT;
    double sc = percent ? 0.01 : 1.0;
    if (refs.to) {
        sc = std::fabs(number_of(refs.to));
        if (percent) sc /= 100.0;  // a /to scale counts in percent units
    }
    const double original = cell_float(value);
    double d = original;
    // Already integral at this scale: nothing to do, not even a type change.
    if (sc < std::fabs(d) * 0x1p-53) return value;
    // A zero scale would make 0 * infinity below: there is nothing to round to.
    if (sc == 0.0) return value;

    const bool coarse = sc >= 1.0;
    int e = 0;
    double v;
    if (coarse) {
        v = d / sc;
    } else {
        // 1 / scale overflows for a subnormal scale: scale by a power of two first.
        double m = std::frexp(sc, &e);
        if (e <= -1022) {
            sc = m;
            d = std::ldexp(d, -e);
        } else {
            e = 0;
        }
        v = d * (1.0 / sc);
    }

    const double av = std::fabs(v);
    auto with_sign = [v](double x) { return v < 0.0 ? 0.0 - x : x; };
    double r;
    if (refs.down) r = with_sign(std::floor(av));
    else if (refs.floor) r = std::floor(v);
    else if (refs.ceiling) r = std::ceil(v);
    else {
        double h = std::floor(av) + 0.5;
        if (av > h) r = with_sign(std::ceil(av));
        else if (av < h) r = with_sign(std::floor(av));
        else if (refs.even) r = with_sign(std::fmod(av, 2.0) >= 1.0 ? std::ceil(av) : std::floor(av));
        else if (refs.half_down) r = with_sign(std::floor(av));
        else if (refs.half_ceiling) r = std::ceil(v);
        else r = with_sign(std::ceil(av));
    }

    double result = coarse ? r * sc : std::ldexp(r / (1.0 / sc), e);
    if (std::isinf(result) && std::isfinite(original)) fire(Err::math_overflow);

    if (refs.to && is_int_like(type_of(refs.to))) {
        if (!fits_int32(result)) fire(Err::math_overflow);
        make_integer(value, static_cast<int32_t>(result));
        return value;
    }
    if (refs.to) set_type(value, type_of(refs.to));
    set_cell_float(value, result);
    return value;
}

} // namespace kem

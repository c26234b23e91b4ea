// money!: arithmetic with integers, floats and money, comparison, rounding,
// random amounts and the sign actions.
#include <cmath>
#include <cstring>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/money_impl.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/random.h"

namespace kem {

using namespace money_detail;

namespace {

// An operand as an amount and its currency index: integers exactly, floats
// and percents from their decimal text with fraction digits past the fifth cut.
Decimal operand(const Cell* c, uint32_t* currency) {
    *currency = 0;
    Cell made;
    switch (type_of(c)) {
    case TYPE_MONEY:
        *currency = money_currency_index(c);
        return money_get(c);
    case TYPE_INTEGER: return decimal_from_int(cell_int(c));
    case TYPE_FLOAT:
    case TYPE_PERCENT: return money_get(money_from_float(&made, cell_float(c), false));
    default: fire_invalid_type(c);
    }
}

} // namespace

Cell* money_do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    const bool money_left = is_type(left, TYPE_MONEY);
    const bool money_right = is_type(right, TYPE_MONEY);
    if (op == OP_MULTIPLY && money_left && money_right) fire_invalid_type(left);
    if ((op == OP_DIVIDE || op == OP_REMAINDER) && !money_left && money_right) fire_invalid_type(left);
    uint32_t lc, rc;
    const Decimal a = operand(left, &lc);
    const Decimal b = operand(right, &rc);
    if (lc && rc && lc != rc) fire(Err::script_wrong_denom, *left, *right);
    Decimal r;
    switch (op) {
    case OP_ADD: check(decimal_add(a, b, &r)); break;
    case OP_SUBTRACT: check(decimal_subtract(a, b, &r)); break;
    case OP_MULTIPLY: check(decimal_multiply(a, b, &r)); break;
    case OP_DIVIDE: check(decimal_divide(a, b, &r)); break;
    case OP_REMAINDER: check(decimal_remainder(a, b, &r)); break;
    default: fire_invalid_type(left);
    }
    if (op == OP_DIVIDE && money_left && money_right) {
        make_float(left, decimal_to_double(r));
        return left;
    }
    return money_set(left, r, rc ? rc : lc);
}

// --- comparison ------------------------------------------------------------------------

namespace {

bool ordering(CompareOp op) { return op >= CompareOp::lesser && op <= CompareOp::greater_or_equal; }
// Every ordering with NaN is false: the answer that makes the operator's test fail.
int32_t nan_order(CompareOp op) { return op == CompareOp::greater || op == CompareOp::greater_or_equal ? -1 : 1; }

// Orders two currency indexes for sort: none first, then by their codes.
int32_t currency_order(uint32_t a, uint32_t b) {
    if (a == b) return 0;
    if (a == 0 || b == 0) return a == 0 ? -1 : 1;
    const Cell ca = money_currency_at(a);
    const Cell cb = money_currency_at(b);
    if (!any_word_type(type_of(&ca)) || !any_word_type(type_of(&cb))) return a < b ? -1 : 1;
    const int r = symbol_name(ca.data2).compare(symbol_name(cb.data2));
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// Money against a float, as the money side sees it. A float beyond every
// amount, or closer to zero than the smallest one, orders by its value
// (its sign, and the amount's); others are converted strictly.
int32_t compare_with_float(const Decimal& m, double b, CompareOp op) {
    if (std::isnan(b)) return nan_order(op);
    const double mag = std::fabs(b);
    if (mag >= 1e17) return b > 0 ? -1 : 1;
    if (mag != 0.0 && mag < 1e-05) {
        if (m.zero()) return b > 0 ? -1 : 1;
        return m.sign();
    }
    Decimal d;
    if (decimal_from_double(b, true, &d) != DecimalStatus::ok) {
        Cell f;
        make_float(&f, b);
        fire(Err::script_bad_make_arg, datatype_of(TYPE_MONEY), f);
    }
    return decimal_compare(m, d);
}

} // namespace

int32_t money_compare(Cell* value1, Cell* value2, CompareOp op) {
    const uint8_t t2 = type_of(value2);
    const bool strict = op == CompareOp::strict_equal || op == CompareOp::same;
    if ((strict || op == CompareOp::find) && t2 != TYPE_MONEY) return 1;
    const Decimal a = money_get(value1);
    switch (t2) {
    case TYPE_MONEY: {
        const uint32_t ca = money_currency_index(value1);
        const uint32_t cb = money_currency_index(value2);
        if (ca != cb) {
            if (ordering(op) && ca && cb) fire(Err::script_wrong_denom, *value1, *value2);
            if (op == CompareOp::sort || op == CompareOp::case_sort) return currency_order(ca, cb);
            // Equality: a missing currency matches any for equal?, the key's
            // currency must match for find, both must for strict-equal? and same?.
            const bool loose = op == CompareOp::equal || op == CompareOp::not_equal;
            if (strict || (op == CompareOp::find && cb) || (loose && ca && cb)) return 1;
        }
        return decimal_compare(a, money_get(value2));
    }
    case TYPE_INTEGER: return decimal_compare(a, decimal_from_int(cell_int(value2)));
    case TYPE_FLOAT: return compare_with_float(a, cell_float(value2), op);
    default: return -2;
    }
}

int32_t money_compare_float(double a, Cell* money, CompareOp op) {
    // The money side's answer, turned round: a NaN keeps every ordering false.
    if (std::isnan(a)) return nan_order(op);
    return -compare_with_float(money_get(money), a, op);
}

// --- rounding, random, signs --------------------------------------------------------------

namespace {

Cell* money_round(Cell* value, const RoundArgs& refs) {
    const Decimal v = money_get(value);
    const Cell* scale = refs.to;
    if (v.zero()) return value;
    DecimalUnits s = DECIMAL_SCALE;
    if (scale) {
        Cell made;
        switch (type_of(scale)) {
        case TYPE_MONEY: s = money_get(scale).units; break;
        case TYPE_INTEGER: s = decimal_from_int(cell_int(scale)).units; break;
        case TYPE_FLOAT: s = money_get(money_from_float(&made, cell_float(scale), true)).units; break;
        default: fire_not_related(type_of(scale));
        }
    }
    DecimalRounding mode;
    mode.even = refs.even;
    mode.down = refs.down;
    mode.half_down = refs.half_down;
    mode.floor = refs.floor;
    mode.ceiling = refs.ceiling;
    mode.half_ceiling = refs.half_ceiling;
    Decimal r;
    check(decimal_round(v, s, mode, &r));
    return money_set(value, r, money_currency_index(value));
}

int32_t draw(bool secure) { return secure ? random_secure_next() : random_next(); }

// Up to the limit, digit by digit from the most significant one: while the
// digits drawn equal the limit's, the next is bounded by the limit's digit.
Cell* money_random(Cell* value, const RandomArgs& refs) {
    const bool secure = refs.secure;
    if (refs.seed) {
        random_seed(value->data1 ^ value->data2 ^ value->data3 ^ (money_get_sign(value) ? 1u : 0u));
        make_unset(value);
        return value;
    }
    const Decimal limit = money_get(value);
    uint8_t digits[DECIMAL_DIGITS];
    DecimalUnits u = limit.units;
    for (int i = DECIMAL_DIGITS - 1; i >= 0; i--) {
        digits[i] = uint8_t(u % 10);
        u /= 10;
    }
    int first = 0;
    while (first < DECIMAL_DIGITS && digits[first] == 0) first++;
    bool bounded = true;
    DecimalUnits r = 0;
    for (int i = first; i < DECIMAL_DIGITS; i++) {
        int32_t d;
        if (!bounded) {
            d = draw(secure) % 10;
        } else {
            for (;;) {
                d = draw(secure) % (digits[i] + 1);
                // Staying on the bound is kept only when two more draws agree.
                if (d < digits[i] || draw(secure) % 1000 == draw(secure) % 1000) break;
            }
            bounded = d == digits[i];
        }
        r = r * 10 + DecimalUnits(d);
    }
    return money_set(value, decimal_make(limit.negative, r), money_currency_index(value));
}

Cell* money_add() { return money_do_math(OP_ADD); }
Cell* money_subtract() { return money_do_math(OP_SUBTRACT); }
Cell* money_multiply() { return money_do_math(OP_MULTIPLY); }
Cell* money_divide() { return money_do_math(OP_DIVIDE); }
Cell* money_remainder() { return money_do_math(OP_REMAINDER); }

Cell* money_absolute() {
    money_set_sign(stack::arguments, false);
    return stack::arguments;
}

Cell* money_negate(Cell* value) {
    if (!money_zero_q(value)) money_set_sign(value, !money_get_sign(value));
    return value;
}

// The last integer digit decides.
bool last_integer_digit_even(const Cell* c) { return (money_get(c).units / DECIMAL_SCALE) % 2 == 0; }
bool money_even_q(Cell* value) { return last_integer_digit_even(value); }
bool money_odd_q(Cell* value) { return !last_integer_digit_even(value); }

} // namespace

void money_detail::set_math_actions(ActionRow& row) {
    row.set<ACT_RANDOM>(money_random)
        .set<ACT_COMPARE>(money_compare)
        .set<ACT_ABSOLUTE>(money_absolute)
        .set<ACT_ADD>(money_add)
        .set<ACT_DIVIDE>(money_divide)
        .set<ACT_MULTIPLY>(money_multiply)
        .set<ACT_NEGATE>(money_negate)
        .set<ACT_REMAINDER>(money_remainder)
        .set<ACT_ROUND>(money_round)
        .set<ACT_SUBTRACT>(money_subtract)
        .set<ACT_EVEN_Q>(money_even_q)
        .set<ACT_ODD_Q>(money_odd_q);
}

} // namespace kem

// integer!: cells, the 32-bit operator routine, mixed arithmetic with the
// right operand's type deciding, rounding, and the integer! action row.
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/loader.h"
#include "runtime/datatypes/time.h"
#include <charconv>
#include <cstdlib>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/platform/exit.h"
#include "runtime/services/random.h"

namespace kem {

// --- cells -----------------------------------------------------------------------

Cell* integer_push(int32_t v) { return integer_make_at(stack::push_slot(), v); }

Cell* integer_make_at(Cell* c, int32_t v) {
    make_integer(c, v);
    return c;
}

int32_t integer_sign(int32_t v) { return (v > 0) - (v < 0); }

int32_t integer_absolute_value(int32_t v) {
    if (v == INT32_MIN) fire(Err::math_overflow);
    return v < 0 ? -v : v;
}

bool integer_float_overflow_q(const Cell* c) {
    double d = cell_float(c);
    return d != d || d > 2147483647.0 || d < -2147483648.0;
}

const char* integer_form_signed(int32_t v) {
    static char text[12];
    auto end = std::to_chars(text, text + sizeof text - 1, v).ptr;
    *end = '\0';
    return text;
}

// --- arithmetic --------------------------------------------------------------------

int32_t integer_do_math_op(int32_t left, int32_t right, int32_t op, Cell* result) {
    int32_t v;
    switch (op) {
    case OP_ADD:
    case OP_SUBTRACT:
    case OP_MULTIPLY: {
        bool overflow = op == OP_ADD        ? __builtin_add_overflow(left, right, &v)
                        : op == OP_SUBTRACT ? __builtin_sub_overflow(left, right, &v)
                                            : __builtin_mul_overflow(left, right, &v);
        if (overflow && result) {
            int64_t l = left;
            int64_t r = right;
            int64_t exact = op == OP_ADD ? l + r : op == OP_SUBTRACT ? l - r : l * r;
            make_float(result, double(exact));
            return 0;
        }
        break;  // without a result cell the wrapped value stands
    }
    case OP_DIVIDE:
        if (right == 0) fire(Err::math_zero_divide);
        if (left == INT32_MIN && right == -1) fire(Err::math_overflow);
        v = left / right;
        if (result && left % right != 0) {
            make_float(result, double(left) / double(right));
            return v;
        }
        break;
    case OP_REMAINDER:
        if (right == 0) fire(Err::math_zero_divide);
        if (left == INT32_MIN && right == -1) fire(Err::math_overflow);
        v = left % right;
        break;
    case OP_OR: v = left | right; break;
    case OP_AND: v = left & right; break;
    case OP_XOR: v = left ^ right; break;
    default: report_runtime_error(101, nullptr);
    }
    if (result) result->data2 = static_cast<uint32_t>(v);
    return v;
}

Cell* integer_do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    uint8_t rt = type_of(right);
    switch (rt) {
    case TYPE_INTEGER:
    case TYPE_CHAR: integer_do_math_op(cell_int(left), cell_int(right), op, left); return left;
    case TYPE_MONEY: return math_dispatch(TYPE_MONEY, op);
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: return float_do_math(op);
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
    case TYPE_TUPLE:
    case TYPE_DATE:
    case TYPE_VECTOR: break;
    default: fire_invalid_type(right);
    }

    // The partner computes with itself on the left: swap, the number an integer!.
    if (rt == TYPE_DATE && op != OP_ADD) fire_not_related_op(op, right);
    if (rt == TYPE_TUPLE && (op == OP_SUBTRACT || op == OP_DIVIDE)) fire_not_related_op(op, right);
    bool coordinates = rt == TYPE_PAIR || rt == TYPE_POINT2D || rt == TYPE_POINT3D;
    if (coordinates && op == OP_DIVIDE) fire_not_related_op(op, right);
    action_sig::OneCell negate = nullptr;
    if (coordinates && op == OP_SUBTRACT) {
        // n - p is computed as -p + n.
        negate = action_entry_as<ACT_NEGATE>(rt);
        if (!negate) fire_invalid_type(right);
        op = OP_ADD;
    }
    int32_t n = cell_int(left);
    *left = *right;
    make_integer(right, n);
    if (negate) negate(left);
    return math_dispatch(rt, op);
}

namespace {

Cell* integer_add() { return integer_do_math(OP_ADD); }
Cell* integer_subtract() { return integer_do_math(OP_SUBTRACT); }
Cell* integer_multiply() { return integer_do_math(OP_MULTIPLY); }
Cell* integer_divide() { return integer_do_math(OP_DIVIDE); }
Cell* integer_remainder() { return integer_do_math(OP_REMAINDER); }
Cell* integer_or() { return integer_do_math(OP_OR); }
Cell* integer_and() { return integer_do_math(OP_AND); }
Cell* integer_xor() { return integer_do_math(OP_XOR); }

Cell* integer_power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    uint8_t et = type_of(exponent);
    if (et != TYPE_INTEGER && et != TYPE_FLOAT) fire_expect_arg(exponent, 1);
    if (et == TYPE_INTEGER && cell_int(exponent) >= 0) {
        // Repeated squaring; any overflow leaves the rest to the float path.
        int32_t b = cell_int(base);
        uint32_t e = static_cast<uint32_t>(cell_int(exponent));
        int32_t r = 1;
        bool overflow = false;
        while (e != 0 && !overflow) {
            if (e & 1) overflow = __builtin_mul_overflow(r, b, &r);
            e >>= 1;
            if (e != 0 && !overflow) overflow = __builtin_mul_overflow(b, b, &b);
        }
        if (!overflow) {
            base->data2 = static_cast<uint32_t>(r);
            return base;
        }
    }
    make_float(base, double(cell_int(base)));
    return float_power();
}

Cell* integer_absolute() {
    Cell* c = stack::arguments;
    c->data2 = static_cast<uint32_t>(integer_absolute_value(cell_int(c)));
    return c;
}

Cell* integer_negate(Cell* value) {
    int32_t v = cell_int(value);
    if (v == INT32_MIN) fire(Err::math_overflow);
    value->data2 = static_cast<uint32_t>(-v);
    return value;
}

Cell* integer_complement(Cell* value) {
    value->data2 = ~value->data2;
    return value;
}

bool integer_even_q(Cell* value) { return (value->data2 & 1) == 0; }
bool integer_odd_q(Cell* value) { return (value->data2 & 1) != 0; }

} // namespace

// The magnitudes are worked out in 64 bits, so a result is refused only when
// the one chosen does not fit in 32 bits.
Cell* integer_round(Cell* value, const RoundArgs& refs) {
    if (refs.to && type_of(refs.to) == TYPE_MONEY) fire_not_related(TYPE_MONEY);
    if (refs.to && type_of(refs.to) != TYPE_INTEGER) {
        make_float(value, double(cell_int(value)));
        return float_round(value, refs);
    }
    const int64_t n = cell_int(value);
    const int64_t s = refs.to ? std::llabs(int64_t(cell_int(refs.to))) : 1;
    if (s == 0) return value;
    const int64_t a = std::llabs(n);
    const int64_t r = a % s;
    if (r == 0) return value;
    const int64_t lower = a - r;
    const int64_t upper = a + (s - r);
    const bool negative = n < 0;
    auto with_sign = [negative](int64_t m) { return negative ? -m : m; };
    int64_t result;
    if (refs.down) result = with_sign(lower);
    else if (refs.floor) result = negative ? -upper : lower;
    else if (refs.ceiling) result = negative ? -lower : upper;
    else if (r < s - r) result = with_sign(lower);
    else if (r > s - r) result = with_sign(upper);
    else if (refs.even) result = with_sign((a / s) % 2 != 0 ? upper : lower);
    else if (refs.half_down) result = with_sign(lower);
    else if (refs.half_ceiling) result = negative ? -lower : upper;
    else result = with_sign(upper);
    if (result < INT32_MIN || result > INT32_MAX) fire(Err::math_overflow);
    value->data2 = static_cast<uint32_t>(static_cast<int32_t>(result));
    return value;
}

// --- comparison -----------------------------------------------------------------------

int32_t integer_compare(Cell* value1, Cell* value2, CompareOp op) {
    uint8_t t2 = type_of(value2);
    if ((op == CompareOp::strict_equal || op == CompareOp::find) && t2 != TYPE_INTEGER) return 1;
    switch (t2) {
    case TYPE_INTEGER:
    case TYPE_CHAR: {
        int32_t a = cell_int(value1);
        int32_t b = cell_int(value2);
        return (a > b) - (a < b);
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: return float_compare_double(double(cell_int(value1)), type_of(value1), value2, op);
    case TYPE_MONEY: {
        // money! converts an integer! operand itself: ask it, operands swapped.
        auto fn = action_entry_as<ACT_COMPARE>(TYPE_MONEY);
        if (!fn) return -2;
        int32_t r = fn(value2, value1, op);
        return r == -2 ? -2 : -r;
    }
    default: return -2;
    }
}

// --- make, to, random, text --------------------------------------------------------------

namespace {

[[noreturn]] void fire_type_limit() {
    Cell t;
    make_datatype(&t, TYPE_INTEGER);
    fire(Err::script_type_limit, t);
}

[[noreturn]] void fire_bad_to(const Cell* spec) {
    Cell t;
    make_datatype(&t, TYPE_INTEGER);
    fire(Err::script_bad_to_arg, t, *spec);
}

// The characters from the position: sign, digits and "'" only. The reader
// takes a text without digits ("", "+", "'") for 0, so that is refused here.
int32_t integer_from_text(const Cell* spec) {
    Cell text = *spec;
    int32_t count = string_rs_length(&text);
    uint32_t unit = unit_bytes(series_buffer(&text));
    const uint8_t* head = string_rs_head(&text);
    bool digit = false;
    for (int32_t i = 0; i < count && !digit; i++) {
        int32_t c = string_char_at(&text, uint32_t(series_position(&text) + i));
        digit = c >= '0' && c <= '9';
    }
    int32_t error = 0;
    int32_t v = lexer_integer_from_text(head, count, unit, &error);
    if (!digit || error != 0) fire_bad_to(spec);
    return v;
}

// The issue's name as 1 to 8 hexadecimal digits, most significant first.
int32_t integer_from_issue(const Cell* spec) {
    std::string_view name = symbol_name(spec->data2);
    if (name.empty() || name.size() > 8) fire(Err::script_invalid_data, *spec);
    uint32_t v = 0;
    for (char ch : name) {
        uint8_t c = static_cast<uint8_t>(ch);
        uint32_t d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else fire(Err::script_invalid_data, *spec);
        v = (v << 4) | d;
    }
    return static_cast<int32_t>(v);
}

Cell* integer_to(Cell* proto, Cell* spec, int32_t type) {
    uint8_t st = type_of(spec);
    if (any_string_type(st)) return integer_make_at(proto, integer_from_text(spec));
    if (st == TYPE_ISSUE) return integer_make_at(proto, integer_from_issue(spec));
    switch (st) {
    case TYPE_INTEGER:
    case TYPE_CHAR: return integer_make_at(proto, cell_int(spec));
    case TYPE_FLOAT:
    case TYPE_PERCENT:
        if (integer_float_overflow_q(spec)) fire_type_limit();
        return integer_make_at(proto, static_cast<int32_t>(cell_float(spec)));
    case TYPE_TIME: return integer_make_at(proto, time_to_integer(cell_float(spec)));
    case TYPE_DATE: return integer_make_at(proto, date_to_integer(spec));
    case TYPE_MONEY: return integer_make_at(proto, money_to_integer(spec));
    case TYPE_BINARY: {
        // Up to 4 bytes from the position, big-endian.
        SeriesBuffer* b = node_buffer(series_node(spec));
        uint32_t used = b->used();
        uint32_t index = series_index(spec);
        uint32_t n = index < used ? used - index : 0;
        if (n > 4) n = 4;
        const uint8_t* p = b->head_ptr() + index;
        uint32_t v = 0;
        for (uint32_t i = 0; i < n; i++) v = (v << 8) | p[i];
        return integer_make_at(proto, static_cast<int32_t>(v));
    }
    default: fire_bad_to(spec);
    }
}

Cell* integer_make(Cell* proto, Cell* spec, int32_t type) {
    if (type_of(spec) == TYPE_LOGIC) return integer_make_at(proto, spec->data1 == 1 ? 1 : 0);
    return integer_to(proto, spec, type);
}

Cell* integer_random(Cell* value, const RandomArgs& refs) {
    if (refs.seed) {
        random_seed(value->data2);
        make_unset(value);
        return value;
    }
    int32_t n = cell_int(value);
    if (n != 0) value->data2 = static_cast<uint32_t>(random_int_up_to(refs.secure, n));
    return value;
}

int32_t integer_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    std::string_view text = integer_form_signed(cell_int(value));
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

int32_t integer_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return integer_form(value, buffer, refs.limit, part);
}

} // namespace

void register_integer() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(integer_make)
        .set<ACT_RANDOM>(integer_random)
        .set<ACT_TO>(integer_to)
        .set<ACT_FORM>(integer_form)
        .set<ACT_MOLD>(integer_mold)
        .set<ACT_COMPARE>(integer_compare)
        .set<ACT_ABSOLUTE>(integer_absolute)
        .set<ACT_ADD>(integer_add)
        .set<ACT_DIVIDE>(integer_divide)
        .set<ACT_MULTIPLY>(integer_multiply)
        .set<ACT_NEGATE>(integer_negate)
        .set<ACT_POWER>(integer_power)
        .set<ACT_REMAINDER>(integer_remainder)
        .set<ACT_ROUND>(integer_round)
        .set<ACT_SUBTRACT>(integer_subtract)
        .set<ACT_EVEN_Q>(integer_even_q)
        .set<ACT_ODD_Q>(integer_odd_q)
        .set<ACT_AND_T>(integer_and)
        .set<ACT_COMPLEMENT>(integer_complement)
        .set<ACT_OR_T>(integer_or)
        .set<ACT_XOR_T>(integer_xor);
    register_datatype(TYPE_INTEGER, 0, "integer!", row);
}

} // namespace kem

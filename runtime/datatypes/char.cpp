// char!: making, form and mold, comparison, arithmetic and the registration.
#include "runtime/datatypes/char.h"
#include <climits>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/unicode/utf.h"

namespace kem {

namespace {

bool valid_code_point(int64_t cp) { return cp >= 0 && cp <= CHAR_MAX_CODE_POINT; }

[[noreturn]] void fire_bad_to(const Cell& spec) {
    Cell dt;
    make_datatype(&dt, TYPE_CHAR);
    fire(Err::script_bad_to_arg, dt, spec);
}

} // namespace

Cell* char_push(int32_t cp) {
    Cell* c = stack::push_slot();
    make_char(c, cp);
    return c;
}

Cell* char_make_in(const Cell* block, int32_t cp) {
    Cell* c = block_alloc_tail(block);
    make_char(c, cp);
    return c;
}

Cell* char_make(Cell* proto, Cell* spec_arg, int32_t type) {
    Cell spec = *spec_arg;
    uint8_t st = type_of(&spec);
    int64_t cp;
    if (any_string_type(st)) {
        if (string_rs_length(&spec) == 0) fire_bad_to(spec);
        cp = string_char_at(&spec, uint32_t(series_position(&spec)));
    } else if (st == TYPE_CHAR || st == TYPE_INTEGER) {
        cp = cell_int(&spec);
    } else if (st == TYPE_FLOAT || st == TYPE_PERCENT) {
        cp = trunc_to_int32(cell_float(&spec));
    } else if (st == TYPE_BINARY) {
        TextRange r = string_text_range(&spec);
        uint32_t avail = r.length;
        if (avail == 0) fire_bad_to(spec);
        cp = unicode::decode_utf8_char(node_buffer(r.node)->head_ptr() + r.pos, &avail);
        if (cp < 0) fire_bad_to(spec);
    } else {
        fire_bad_to(spec);
    }
    if (!valid_code_point(cp)) fire(Err::script_out_of_range, spec);
    return char_push(int32_t(cp));
}

int32_t char_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    string_append_char(buffer, char_get(value));
    return part - 1;
}

int32_t char_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    string_append_ascii(buffer, "#\"");
    int32_t written = string_append_escaped(buffer, char_get(value), refs.all);
    string_append_ascii(buffer, "\"");
    return part - written - 3;
}

int32_t char_compare(Cell* value1, Cell* value2, CompareOp op) {
    uint8_t t2 = type_of(value2);
    if ((op == CompareOp::strict_equal || op == CompareOp::find) && t2 != TYPE_CHAR) return 1;
    if (t2 != TYPE_CHAR && t2 != TYPE_INTEGER) return -2;
    int32_t a = cell_int(value1), b = cell_int(value2);
    return a < b ? -1 : (a > b ? 1 : 0);
}

Cell* char_do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int32_t r;
    switch (type_of(right)) {
    case TYPE_CHAR:
    case TYPE_INTEGER: r = cell_int(right); break;
    case TYPE_FLOAT: r = trunc_to_int32(cell_float(right)); break;
    case TYPE_VECTOR:
        // The vector does the work element by element, the char as its scalar.
        swap_arguments();
        return math_dispatch(TYPE_VECTOR, op);
    default: fire_invalid_type(right);
    }
    int32_t l = cell_int(left);
    int64_t result;
    switch (op) {
    case OP_ADD: result = int64_t(l) + r; break;
    case OP_SUBTRACT: result = int64_t(l) - r; break;
    case OP_MULTIPLY: result = int64_t(l) * r; break;
    default: result = integer_do_math_op(l, r, op, nullptr); break;
    }
    if (!valid_code_point(result)) fire(Err::math_overflow);
    left->data2 = uint32_t(int32_t(result));
    return left;
}

namespace {
Cell* char_add() { return char_do_math(OP_ADD); }
Cell* char_subtract() { return char_do_math(OP_SUBTRACT); }
Cell* char_multiply() { return char_do_math(OP_MULTIPLY); }
Cell* char_divide() { return char_do_math(OP_DIVIDE); }
Cell* char_remainder() { return char_do_math(OP_REMAINDER); }
Cell* char_or() { return char_do_math(OP_OR); }
Cell* char_and() { return char_do_math(OP_AND); }
Cell* char_xor() { return char_do_math(OP_XOR); }
} // namespace

void register_char() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(char_make)
        .inherit(ACT_RANDOM)
        .set<ACT_TO>(char_make)
        .set<ACT_FORM>(char_form)
        .set<ACT_MOLD>(char_mold)
        .set<ACT_COMPARE>(char_compare)
        .inherit(ACT_ABSOLUTE)
        .set<ACT_ADD>(char_add)
        .set<ACT_DIVIDE>(char_divide)
        .set<ACT_MULTIPLY>(char_multiply)
        .set<ACT_REMAINDER>(char_remainder)
        .set<ACT_SUBTRACT>(char_subtract)
        .inherit(ACT_EVEN_Q)
        .inherit(ACT_ODD_Q)
        .set<ACT_AND_T>(char_and)
        .set<ACT_OR_T>(char_or)
        .set<ACT_XOR_T>(char_xor);
    register_datatype(TYPE_CHAR, TYPE_INTEGER, "char!", row);
}

} // namespace kem

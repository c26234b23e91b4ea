// tuple!: cells, the makers, byte-wise arithmetic with clamping, conversion,
// text, comparison, path access and the tuple! action row.
#include "runtime/datatypes/tuple.h"
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/stack_words.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/random.h"

namespace kem {

// --- makers ------------------------------------------------------------------------

Cell* tuple_make_at(Cell* c, const uint8_t* bytes, uint32_t n) {
    if (n > TUPLE_MAX_LENGTH) n = TUPLE_MAX_LENGTH;
    *c = Cell{(std::max(n, TUPLE_MIN_LENGTH) << TUPLE_LENGTH_SHIFT) | TYPE_TUPLE, 0, 0, 0};
    std::memcpy(tuple_bytes(c), bytes, n);
    return c;
}

Cell* tuple_from_binary(const Cell* binary, Cell* c) {
    SeriesBuffer* b = node_buffer(series_node(binary));
    uint32_t index = series_index(binary);
    uint32_t n = index < b->used() ? b->used() - index : 0;
    uint8_t bytes[TUPLE_MAX_LENGTH];
    n = std::min(n, TUPLE_MAX_LENGTH);
    std::memcpy(bytes, b->head_ptr() + index, n);
    return tuple_make_at(c, bytes, n);
}

Cell* tuple_set_rgba(Cell* c, int32_t r, int32_t g, int32_t b, int32_t alpha) {
    const uint8_t bytes[4] = {uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(alpha)};
    return tuple_make_at(c, bytes, alpha == -1 ? 3 : 4);
}

namespace {

// A hexadecimal digit's value, or -1. Only ASCII digits count: a wider
// character is never read through its low bits.
int32_t hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

Cell* tuple_from_hex_color(const Cell* issue, Cell* c) {
    const Cell named = *issue;  // c may be the issue's own cell
    std::string_view text = symbol_name(named.data2);
    size_t n = text.size();
    if (n != 3 && n != 6 && n != 8) fire(Err::script_invalid_data, named);
    int32_t d[8];
    for (size_t i = 0; i < n; i++) {
        d[i] = hex_digit(static_cast<uint8_t>(text[i]));
        if (d[i] < 0) fire(Err::script_invalid_data, named);
    }
    if (n == 3) return tuple_set_rgba(c, d[0] * 17, d[1] * 17, d[2] * 17, -1);
    return tuple_set_rgba(c, d[0] * 16 + d[1], d[2] * 16 + d[3], d[4] * 16 + d[5], n == 8 ? d[6] * 16 + d[7] : -1);
}

bool tuple_zero_q(const Cell* c) {
    const uint8_t* b = tuple_bytes(c);
    return std::all_of(b, b + tuple_length(c), [](uint8_t x) { return x == 0; });
}

// --- arithmetic -----------------------------------------------------------------------

namespace {

uint8_t clamp_byte(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }

// Truncated toward zero; NaN has no place in 0..255 and becomes 0.
uint8_t clamp_byte(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v);
}

// A byte and a 32-bit integer under one operator, exactly, in 64 bits: the
// clamp then stands for the overflow rule (a positive overflow is 255, a
// negative one 0).
int64_t byte_op(int64_t left, int64_t right, int32_t op) {
    switch (op) {
    case OP_ADD: return left + right;
    case OP_SUBTRACT: return left - right;
    case OP_MULTIPLY: return left * right;
    case OP_DIVIDE:
        if (right == 0) fire(Err::math_zero_divide);
        return left / right;
    case OP_REMAINDER:
        if (right == 0) fire(Err::math_zero_divide);
        return left % right;
    case OP_OR: return int32_t(left) | int32_t(right);
    case OP_AND: return int32_t(left) & int32_t(right);
    case OP_XOR: return int32_t(left) ^ int32_t(right);
    default: fire(Err::script_cannot_use, stack::caller_word(), Cell{TYPE_DATATYPE, TYPE_TUPLE, 0, 0});
    }
}

} // namespace

Cell* tuple_do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (!is_type(left, TYPE_TUPLE)) {
        if (op == OP_SUBTRACT || op == OP_DIVIDE) fire_not_related_op(op, right);
        swap_arguments();
    }
    uint8_t* a = tuple_bytes(left);
    const uint32_t n = tuple_length(left);
    switch (type_of(right)) {
    case TYPE_TUPLE:
    case TYPE_INTEGER: {
        const bool tuple = is_type(right, TYPE_TUPLE);
        const uint32_t rn = tuple ? tuple_length(right) : 0;
        const uint32_t length = std::max(n, rn);
        for (uint32_t i = 0; i < length; i++) {
            int64_t l = i < n ? a[i] : 0;
            int64_t r = tuple ? (i < rn ? tuple_bytes(right)[i] : 0) : cell_int(right);
            a[i] = clamp_byte(byte_op(l, r, op));
        }
        set_tuple_length(left, length);
        break;
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        // Combined in doubles: a huge factor saturates instead of wrapping.
        const double f = cell_float(right);
        for (uint32_t i = 0; i < n; i++) a[i] = clamp_byte(float_do_math_op(a[i], f, op));
        break;
    }
    default: fire_invalid_type(right);
    }
    return left;
}

namespace {

Cell* tuple_add() { return tuple_do_math(OP_ADD); }
Cell* tuple_subtract() { return tuple_do_math(OP_SUBTRACT); }
Cell* tuple_multiply() { return tuple_do_math(OP_MULTIPLY); }
Cell* tuple_divide() { return tuple_do_math(OP_DIVIDE); }
Cell* tuple_remainder() { return tuple_do_math(OP_REMAINDER); }
Cell* tuple_or() { return tuple_do_math(OP_OR); }
Cell* tuple_and() { return tuple_do_math(OP_AND); }
Cell* tuple_xor() { return tuple_do_math(OP_XOR); }

Cell* tuple_complement(Cell* value) {
    uint8_t* b = tuple_bytes(value);
    for (uint32_t i = 0; i < tuple_length(value); i++) b[i] = uint8_t(~b[i]);
    return value;
}

Cell* tuple_random(Cell* value, const RandomArgs& refs) {
    if (refs.seed) {
        random_seed(value->data1 ^ value->data2 ^ value->data3);
        make_unset(value);
        return value;
    }
    uint8_t* b = tuple_bytes(value);
    for (uint32_t i = 0; i < tuple_length(value); i++) b[i] = uint8_t(random_int_up_to(refs.secure, b[i] + 1) - 1);
    return value;
}

} // namespace

// --- make and to -------------------------------------------------------------------------

namespace {

[[noreturn]] void fire_bad_to(const Cell* spec) { fire(Err::script_bad_to_arg, Cell{TYPE_DATATYPE, TYPE_TUPLE, 0, 0}, *spec); }

Cell* from_block(Cell* proto, const Cell* spec) {
    Cell blk = *spec;
    int32_t count = std::max(block_rs_length(&blk), 0);
    if (count > int32_t(TUPLE_MAX_LENGTH)) fire_bad_to(spec);
    const Cell* items = count ? block_rs_head(&blk) : nullptr;
    uint8_t bytes[TUPLE_MAX_LENGTH];
    for (int32_t i = 0; i < count; i++) {
        const Cell* item = &items[i];
        double v;
        switch (type_of(item)) {
        case TYPE_INTEGER:
        case TYPE_CHAR: v = cell_int(item); break;
        case TYPE_FLOAT: v = std::trunc(cell_float(item)); break;
        default: fire_bad_to(item);
        }
        // NaN fails this test too.
        if (!(v >= 0.0 && v <= 255.0)) fire_bad_to(spec);
        bytes[i] = static_cast<uint8_t>(v);
    }
    return tuple_make_at(proto, bytes, uint32_t(count));
}

} // namespace

Cell* tuple_make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: return from_block(proto, spec);
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF: {
        Cell loaded = load_text_value(spec);
        if (!is_type(&loaded, TYPE_TUPLE)) fire_bad_to(spec);
        return copy_cell(&loaded, proto);
    }
    case TYPE_ISSUE: return tuple_from_hex_color(spec, proto);
    case TYPE_TUPLE: return copy_cell(spec, proto);
    case TYPE_BINARY: return tuple_from_binary(spec, proto);
    default: fire_bad_to(spec);
    }
}

// --- text, comparison, paths ----------------------------------------------------------

namespace {

int32_t tuple_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    std::string text;
    const uint8_t* b = tuple_bytes(value);
    for (uint32_t i = 0; i < tuple_length(value); i++) {
        if (i) text += '.';
        text += std::to_string(b[i]);
    }
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

int32_t tuple_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return tuple_form(value, buffer, refs.limit, part);
}

int32_t tuple_length_q(Cell* series) { return int32_t(tuple_length(series)); }

// The byte at index (1-based) as an integer!, or out-of-range naming `shown`.
int32_t byte_at(const Cell* tuple, int32_t index, const Cell& shown) {
    if (index < 1 || index > int32_t(tuple_length(tuple))) fire(Err::script_out_of_range, shown);
    return tuple_bytes(tuple)[index - 1];
}

Cell* tuple_pick(Cell* series, int32_t index, Cell* boxed) {
    Cell shown;
    if (boxed) shown = *boxed;
    else make_integer(&shown, index);
    make_integer(series, byte_at(series, index, shown));
    return series;
}

Cell* tuple_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    if (!is_type(element, TYPE_INTEGER)) fire_invalid_type(element);
    if (!value) {
        Cell* c = stack::push_slot();
        make_integer(c, byte_at(parent, cell_int(element), *element));
        return c;
    }
    if (!is_type(value, TYPE_INTEGER) && !is_type(value, TYPE_NONE)) fire_invalid_type(value);
    const Cell old = *parent;
    tuple_poke_byte(parent, element, value);
    if (step.notify) scalar_path_changed(step.owner, step.prev_element, old, parent, true);
    return value;
}

Cell* tuple_reverse(Cell* series, const ReverseArgs& refs) {
    uint8_t* b = tuple_bytes(series);
    int32_t count = int32_t(tuple_length(series));
    if (refs.part) {
        if (!is_type(refs.part, TYPE_INTEGER)) fire(Err::script_invalid_refine_arg, word_part, *refs.part);
        if (cell_int(refs.part) < 0) fire(Err::script_out_of_range, *refs.part);
        count = std::min(count, cell_int(refs.part));
    }
    if (!refs.skip) {
        std::reverse(b, b + count);
        return series;
    }
    if (!is_type(refs.skip, TYPE_INTEGER)) fire(Err::script_invalid_refine_arg, word_skip, *refs.skip);
    int32_t k = cell_int(refs.skip);
    if (k < 1) fire(Err::script_out_of_range, *refs.skip);
    if (k == count) return series;
    if (count < k || count % k != 0) fire(Err::script_invalid_refine_arg, word_skip, *refs.skip);
    // Records of k bytes in reverse order, each record kept as it is.
    uint8_t copy[TUPLE_MAX_LENGTH];
    std::memcpy(copy, b, size_t(count));
    for (int32_t r = 0; r < count / k; r++) std::memcpy(b + r * k, copy + count - (r + 1) * k, size_t(k));
    return series;
}

} // namespace

void tuple_poke_byte(Cell* tuple, const Cell* index, const Cell* value) {
    const int32_t i = cell_int(index);
    const uint32_t n = tuple_length(tuple);
    if (i < 1 || i > int32_t(n)) fire(Err::script_out_of_range, *index);
    uint8_t* b = tuple_bytes(tuple);
    if (is_type(value, TYPE_INTEGER)) {
        b[i - 1] = clamp_byte(int64_t(cell_int(value)));
        return;
    }
    const uint32_t kept = std::max(uint32_t(i - 1), TUPLE_MIN_LENGTH);
    std::memset(b + (i - 1), 0, n - uint32_t(i - 1));
    set_tuple_length(tuple, kept);
}

int32_t tuple_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_TUPLE)) return -2;
    const uint32_t n1 = tuple_length(value1);
    const uint32_t n2 = tuple_length(value2);
    for (uint32_t i = 0; i < std::max(n1, n2); i++) {
        int32_t a = i < n1 ? tuple_bytes(value1)[i] : 0;
        int32_t b = i < n2 ? tuple_bytes(value2)[i] : 0;
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

// --- registration ----------------------------------------------------------------------

void register_tuple() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(tuple_make)
        .set<ACT_RANDOM>(tuple_random)
        .set<ACT_TO>(tuple_make)
        .set<ACT_FORM>(tuple_form)
        .set<ACT_MOLD>(tuple_mold)
        .set<ACT_EVAL_PATH>(tuple_eval_path)
        .set<ACT_COMPARE>(tuple_compare)
        .set<ACT_ADD>(tuple_add)
        .set<ACT_DIVIDE>(tuple_divide)
        .set<ACT_MULTIPLY>(tuple_multiply)
        .set<ACT_REMAINDER>(tuple_remainder)
        .set<ACT_SUBTRACT>(tuple_subtract)
        .set<ACT_AND_T>(tuple_and)
        .set<ACT_COMPLEMENT>(tuple_complement)
        .set<ACT_OR_T>(tuple_or)
        .set<ACT_XOR_T>(tuple_xor)
        .set<ACT_LENGTH_Q>(tuple_length_q)
        .set<ACT_PICK>(tuple_pick)
        .set<ACT_REVERSE>(tuple_reverse);
    register_datatype(TYPE_TUPLE, 0, "tuple!", row);
    hash_compare_slots[TYPE_TUPLE] = tuple_compare;
}

} // namespace kem

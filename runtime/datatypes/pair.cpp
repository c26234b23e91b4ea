// pair!: cells, arithmetic with its hand-over to point2D!, make and to, text,
// comparison, path access and the pair! action row.
#include "runtime/datatypes/pair.h"
#include <cmath>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/loader.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/random.h"

namespace kem {

// --- cells -----------------------------------------------------------------------

Cell* pair_set_in(Cell* c, int32_t x, int32_t y) {
    *c = Cell{TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    return c;
}

Cell* pair_push(int32_t x, int32_t y) { return pair_set_in(stack::push_slot(), x, y); }

namespace {

// A double narrowed to an axis: truncated toward zero; an infinity or NaN is
// refused naming `culprit`, a finite value beyond 32 bits overflows.
int32_t axis_from_double(double d, const Cell& culprit) {
    if (!std::isfinite(d)) fire(Err::script_invalid_arg, culprit);
    if (!fits_int32(d)) fire(Err::math_overflow);
    return static_cast<int32_t>(d);
}

bool float_layout(uint8_t t) { return t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME; }

} // namespace

int32_t pair_get_int(const Cell* c) {
    if (float_layout(type_of(c))) return axis_from_double(cell_float(c), *c);
    return cell_int(c);
}

Cell* pair_to_point2D(Cell* c) {
    return point2D_make_at(c, static_cast<float>(pair_x(c)), static_cast<float>(pair_y(c)));
}

int32_t pair_field_index(const Cell* word) {
    int32_t axis = axis_word_index(word);
    return axis <= 2 ? axis : 0;
}

Cell load_text_value(const Cell* text) {
    Cell loaded;
    make_unset(&loaded);
    load_one_value(text, &loaded);
    return loaded;
}

// --- arithmetic ------------------------------------------------------------------

Cell* pair_do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int32_t rx;
    int32_t ry;
    switch (type_of(right)) {
    case TYPE_INTEGER: rx = ry = cell_int(right); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        double f = cell_float(right);
        if (op == OP_MULTIPLY || op == OP_DIVIDE) {
            // A float factor or divisor leaves the integers: the result is a point.
            bool refused = op == OP_MULTIPLY ? !std::isfinite(f) : std::isnan(f);
            if (refused) fire(Err::script_invalid_arg, *right);
            double x = pair_x(left);
            double y = pair_y(left);
            if (op == OP_MULTIPLY) return point2D_make_at(left, float(x * f), float(y * f));
            return point2D_make_at(left, float(x / f), float(y / f));
        }
        rx = ry = axis_from_double(f, *right);
        break;
    }
    case TYPE_PAIR:
        rx = pair_x(right);
        ry = pair_y(right);
        break;
    case TYPE_POINT2D:
        pair_to_point2D(left);
        return point2D_do_math(op);
    default: fire_invalid_type(right);
    }
    // Each axis reports through its own cell whether it stayed an integer.
    Cell ax;
    Cell ay;
    make_integer(&ax, 0);
    make_integer(&ay, 0);
    integer_do_math_op(pair_x(left), rx, op, &ax);
    integer_do_math_op(pair_y(left), ry, op, &ay);
    if (is_type(&ax, TYPE_FLOAT) || is_type(&ay, TYPE_FLOAT)) {
        // An overflow or an inexact division: the whole operation again in points.
        pair_to_point2D(left);
        return point2D_do_math(op);
    }
    return pair_set_in(left, cell_int(&ax), cell_int(&ay));
}

namespace {

Cell* pair_add() { return pair_do_math(OP_ADD); }
Cell* pair_subtract() { return pair_do_math(OP_SUBTRACT); }
Cell* pair_multiply() { return pair_do_math(OP_MULTIPLY); }
Cell* pair_divide() { return pair_do_math(OP_DIVIDE); }
Cell* pair_remainder() { return pair_do_math(OP_REMAINDER); }
Cell* pair_or() { return pair_do_math(OP_OR); }
Cell* pair_and() { return pair_do_math(OP_AND); }
Cell* pair_xor() { return pair_do_math(OP_XOR); }

Cell* pair_absolute() {
    Cell* c = stack::arguments;
    return pair_set_in(c, integer_absolute_value(pair_x(c)), integer_absolute_value(pair_y(c)));
}

// -2147483648 has no negation in 32 bits: an overflow, as for integer!.
Cell* pair_negate(Cell* value) {
    int32_t x = pair_x(value);
    int32_t y = pair_y(value);
    if (x == INT32_MIN || y == INT32_MIN) fire(Err::math_overflow);
    return pair_set_in(value, -x, -y);
}

Cell* pair_reverse(Cell* series, const ReverseArgs& refs) {
    return pair_set_in(series, pair_y(series), pair_x(series));
}

Cell* pair_round(Cell* n, const RoundArgs& refs) {
    if (refs.to && is_type(refs.to, TYPE_MONEY)) fire_not_related(TYPE_MONEY);
    int32_t axes[2] = {pair_x(n), pair_y(n)};
    for (int i = 0; i < 2; i++) {
        Cell v;
        make_integer(&v, axes[i]);
        Cell s;
        RoundArgs axis = refs;
        if (refs.to) {
            if (is_type(refs.to, TYPE_PAIR)) make_integer(&s, i == 0 ? pair_x(refs.to) : pair_y(refs.to));
            else s = *refs.to;
            axis.to = &s;
        }
        integer_round(&v, axis);
        axes[i] = pair_get_int(&v);
    }
    return pair_set_in(n, axes[0], axes[1]);
}

Cell* pair_random(Cell* value, const RandomArgs& refs) {
    if (refs.seed) {
        random_seed(value->data2 ^ value->data3);
        make_unset(value);
        return value;
    }
    int32_t x = pair_x(value);
    int32_t y = pair_y(value);
    return pair_set_in(value, x ? random_int_up_to(refs.secure, x) : 0, y ? random_int_up_to(refs.secure, y) : 0);
}

} // namespace

// --- make and to -----------------------------------------------------------------

namespace {

[[noreturn]] void fire_bad_to(const Cell* spec) {
    Cell t;
    make_datatype(&t, TYPE_PAIR);
    fire(Err::script_bad_to_arg, t, *spec);
}

bool int_or_float(const Cell* c) { return is_type(c, TYPE_INTEGER) || is_type(c, TYPE_FLOAT); }

} // namespace

Cell* pair_make(Cell* proto, Cell* spec, int32_t type) {
    int32_t x;
    int32_t y;
    switch (type_of(spec)) {
    case TYPE_BLOCK: {
        Cell blk = *spec;
        if (block_rs_length(&blk) < 2) fire(Err::syntax_malconstruct, *spec);
        const Cell* items = block_rs_head(&blk);
        if (!int_or_float(items) || !int_or_float(items + 1)) fire(Err::syntax_malconstruct, *spec);
        x = pair_get_int(items);
        y = pair_get_int(items + 1);
        break;
    }
    case TYPE_STRING: {
        Cell loaded = load_text_value(spec);
        if (!is_type(&loaded, TYPE_PAIR)) fire_bad_to(spec);
        x = pair_x(&loaded);
        y = pair_y(&loaded);
        break;
    }
    case TYPE_PAIR:
        x = pair_x(spec);
        y = pair_y(spec);
        break;
    case TYPE_INTEGER: x = y = cell_int(spec); break;
    case TYPE_FLOAT: x = y = pair_get_int(spec); break;
    case TYPE_POINT2D:
        x = axis_from_double(point_axis(spec, 0), *spec);
        y = axis_from_double(point_axis(spec, 1), *spec);
        break;
    default: fire_bad_to(spec);
    }
    return pair_set_in(proto, x, y);
}

// --- text, comparison, paths ----------------------------------------------------------

namespace {

int32_t pair_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    std::string text = integer_form_signed(pair_x(value));
    text += 'x';
    text += integer_form_signed(pair_y(value));
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

int32_t pair_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return pair_form(value, buffer, refs.limit, part);
}

// The axis an integer! or a word element names, 0 for anything else.
int32_t element_axis(const Cell* element) {
    if (is_type(element, TYPE_INTEGER)) {
        int32_t i = cell_int(element);
        return i == 1 || i == 2 ? i : 0;
    }
    return any_word_type(type_of(element)) ? pair_field_index(element) : 0;
}

Cell* pair_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    int32_t axis = element_axis(element);
    if (!axis) fire(Err::script_invalid_path, step.path ? *step.path : none_value, *element);
    if (!value) return integer_push(axis == 1 ? pair_x(parent) : pair_y(parent));
    if (!is_type(value, TYPE_INTEGER)) fire_invalid_type(value);
    const Cell old = *parent;
    if (axis == 1) parent->data2 = value->data2;
    else parent->data3 = value->data2;
    if (step.notify) scalar_path_changed(step.owner, step.prev_element, old, parent, false);
    return value;
}

Cell* pair_pick(Cell* series, int32_t index, Cell* boxed) {
    if (boxed && any_word_type(type_of(boxed))) {
        index = pair_field_index(boxed);
        if (!index) fire(Err::script_cannot_use, *boxed, *series);
    } else if (index != 1 && index != 2) {
        Cell shown;
        if (boxed) shown = *boxed;
        else make_integer(&shown, index);
        fire(Err::script_out_of_range, shown);
    }
    return integer_make_at(series, index == 1 ? pair_x(series) : pair_y(series));
}

} // namespace

int32_t pair_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (is_type(value2, TYPE_POINT2D)) {
        Cell point = *value1;
        pair_to_point2D(&point);
        return point2D_compare(&point, value2, op);
    }
    if (!is_type(value2, TYPE_PAIR)) return -2;
    int32_t a = pair_x(value1);
    int32_t b = pair_x(value2);
    if (a == b) {
        a = pair_y(value1);
        b = pair_y(value2);
    }
    return (a > b) - (a < b);
}

// --- owner notification -----------------------------------------------------------------

void scalar_path_changed(const Cell* owner, const Cell* field, const Cell& old_value, const Cell* scalar,
                         bool series_owners) {
    if (!owner) return;
    uint8_t t = type_of(owner);
    if (t == TYPE_OBJECT) {
        // Only an object with change handlers (its on-set node) hears of it.
        if (!owner->data3 || !context_on_change || !field || !any_word_type(type_of(field))) return;
        // The handler runs Kem code: everything it is given sits on the data stack.
        Cell* saved_top = stack::top;
        Cell* object = stack::push(owner);
        Cell* word = stack::push(field);
        Cell* old_cell = stack::push(&old_value);
        Cell* new_cell = stack::push(scalar);
        context_on_change(object, word, old_cell, new_cell);
        stack::top = saved_top;
        return;
    }
    if (series_owners && any_block_type(t)) {
        SeriesBuffer* b = series_buffer(owner);
        const Cell* head = b->cell_head();
        int32_t at = scalar >= head && scalar < b->cell_tail() ? int32_t(scalar - head) : -1;
        series_notify_owner(owner, ChangeWord::poked, scalar, at, 1);
    }
}

// --- registration ------------------------------------------------------------------------

void register_pair() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(pair_make)
        .set<ACT_RANDOM>(pair_random)
        .set<ACT_TO>(pair_make)
        .set<ACT_FORM>(pair_form)
        .set<ACT_MOLD>(pair_mold)
        .set<ACT_EVAL_PATH>(pair_eval_path)
        .set<ACT_COMPARE>(pair_compare)
        .set<ACT_ABSOLUTE>(pair_absolute)
        .set<ACT_ADD>(pair_add)
        .set<ACT_DIVIDE>(pair_divide)
        .set<ACT_MULTIPLY>(pair_multiply)
        .set<ACT_NEGATE>(pair_negate)
        .set<ACT_REMAINDER>(pair_remainder)
        .set<ACT_ROUND>(pair_round)
        .set<ACT_SUBTRACT>(pair_subtract)
        .set<ACT_AND_T>(pair_and)
        .set<ACT_OR_T>(pair_or)
        .set<ACT_XOR_T>(pair_xor)
        .set<ACT_PICK>(pair_pick)
        .set<ACT_REVERSE>(pair_reverse);
    register_datatype(TYPE_PAIR, 0, "pair!", row);
    hash_compare_slots[TYPE_PAIR] = pair_compare;
}

} // namespace kem

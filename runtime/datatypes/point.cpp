// point2D! and point3D!: one design for both, parameterised by the number of
// axes the cell's type gives. Cells, arithmetic, make and to, text,
// comparison, path access and the two action rows.
#include "runtime/datatypes/point.h"
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/random.h"

namespace kem {

// --- cells -----------------------------------------------------------------------

Cell* point2D_make_at(Cell* c, float x, float y) {
    *c = Cell{TYPE_POINT2D, 0, 0, 0};
    set_point_axis(c, 0, x);
    set_point_axis(c, 1, y);
    return c;
}

Cell* point3D_make_at(Cell* c, float x, float y, float z) {
    *c = Cell{TYPE_POINT3D, 0, 0, 0};
    set_point_axis(c, 0, x);
    set_point_axis(c, 1, y);
    set_point_axis(c, 2, z);
    return c;
}

// --- axes --------------------------------------------------------------------------

int32_t axis_word_index(const Cell* word) {
    // Canonical ids of x, y and z, made again only if the symbol table is new.
    static NodeId made_for = 0;
    static uint32_t ids[3];
    if (made_for != symbol_table) {
        ids[0] = symbol_resolve(symbol_make("x"));
        ids[1] = symbol_resolve(symbol_make("y"));
        ids[2] = symbol_resolve(symbol_make("z"));
        made_for = symbol_table;
    }
    uint32_t id = symbol_resolve(word->data2);
    for (int32_t i = 0; i < 3; i++)
        if (ids[i] == id) return i + 1;
    return 0;
}

namespace {

int32_t axis_of(const Cell* element, const Cell* path, const Cell* point, bool from_path) {
    int n = point_axes(type_of(point));
    bool word = any_word_type(type_of(element));
    int32_t axis = 0;
    if (word) axis = axis_word_index(element);
    else if (is_type(element, TYPE_INTEGER)) axis = cell_int(element);
    if (axis >= 1 && axis <= n) return axis;
    if (from_path) fire(Err::script_invalid_path, path ? *path : none_value, *element);
    if (word) fire(Err::script_cannot_use, *element, *point);
    fire(Err::script_out_of_range, *element);
}

} // namespace

// --- arithmetic ----------------------------------------------------------------------

namespace {

Cell* point_do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    uint8_t lt = type_of(left);
    int n = point_axes(lt);
    double r[3];
    switch (type_of(right)) {
    case TYPE_INTEGER: r[0] = r[1] = r[2] = static_cast<float>(cell_int(right)); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        double f = cell_float(right);
        // Scaling keeps the double; other operators see it as a single.
        if (op != OP_MULTIPLY && op != OP_DIVIDE) f = static_cast<float>(f);
        r[0] = r[1] = r[2] = f;
        break;
    }
    case TYPE_PAIR:
        if (lt != TYPE_POINT2D) fire_invalid_type(right);
        r[0] = static_cast<float>(pair_x(right));
        r[1] = static_cast<float>(pair_y(right));
        break;
    case TYPE_POINT2D:
    case TYPE_POINT3D:
        if (type_of(right) != lt) fire_invalid_type(right);
        for (int i = 0; i < n; i++) r[i] = point_axis(right, i);
        break;
    default: fire_invalid_type(right);
    }
    for (int i = 0; i < n; i++)
        set_point_axis(left, i, static_cast<float>(float_do_math_op(point_axis(left, i), r[i], op)));
    return left;
}

Cell* point_add() { return point_do_math(OP_ADD); }
Cell* point_subtract() { return point_do_math(OP_SUBTRACT); }
Cell* point_multiply() { return point_do_math(OP_MULTIPLY); }
Cell* point_divide() { return point_do_math(OP_DIVIDE); }
Cell* point_remainder() { return point_do_math(OP_REMAINDER); }

Cell* point_absolute() {
    Cell* c = stack::arguments;
    for (int i = 0; i < point_axes(type_of(c)); i++) set_point_axis(c, i, std::fabs(point_axis(c, i)));
    return c;
}

Cell* point_negate(Cell* value) {
    for (int i = 0; i < point_axes(type_of(value)); i++) set_point_axis(value, i, 0.0f - point_axis(value, i));
    return value;
}

// The first and the last axis change places: x and y, or x and z.
Cell* point_reverse(Cell* series, const ReverseArgs& refs) {
    int last = point_axes(type_of(series)) - 1;
    float x = point_axis(series, 0);
    set_point_axis(series, 0, point_axis(series, last));
    set_point_axis(series, last, x);
    return series;
}

Cell* point_round(Cell* n, const RoundArgs& refs) {
    // A pair scale carries no one number for the float rounding to read.
    if (refs.to && is_type(refs.to, TYPE_PAIR)) fire_not_related(TYPE_PAIR);
    for (int i = 0; i < point_axes(type_of(n)); i++) {
        Cell axis;
        make_float(&axis, point_axis(n, i));
        float_round(&axis, refs);
        double d = is_type(&axis, TYPE_INTEGER) ? double(cell_int(&axis)) : cell_float(&axis);
        set_point_axis(n, i, static_cast<float>(d));
    }
    return n;
}

Cell* point_random(Cell* value, const RandomArgs& refs) {
    int n = point_axes(type_of(value));
    if (refs.seed) {
        random_seed(murmur3_hash(&value->data1, uint32_t(4 * n)));
        make_unset(value);
        return value;
    }
    for (int i = 0; i < n; i++) {
        float a = point_axis(value, i);
        if (a != 0.0f) set_point_axis(value, i, static_cast<float>(float_random_draw(a, refs.secure)));
    }
    return value;
}

} // namespace

Cell* point2D_do_math(int32_t op) { return point_do_math(op); }

// --- make and to -----------------------------------------------------------------------

namespace {

[[noreturn]] void fire_bad_to(uint8_t type, const Cell* spec) {
    Cell t;
    make_datatype(&t, type);
    fire(Err::script_bad_to_arg, t, *spec);
}

Cell* point_make(Cell* proto, Cell* spec, int32_t type) {
    const uint8_t target = type == TYPE_POINT3D ? TYPE_POINT3D : TYPE_POINT2D;
    const int n = point_axes(target);
    float a[3] = {0.0f, 0.0f, 0.0f};
    switch (type_of(spec)) {
    case TYPE_BLOCK: {
        Cell blk = *spec;
        if (block_rs_length(&blk) < n) fire(Err::syntax_malconstruct, *spec);
        const Cell* items = block_rs_head(&blk);
        for (int i = 0; i < n; i++) {
            if (is_type(&items[i], TYPE_INTEGER)) a[i] = static_cast<float>(cell_int(&items[i]));
            else if (is_type(&items[i], TYPE_FLOAT)) a[i] = static_cast<float>(cell_float(&items[i]));
            else fire(Err::syntax_malconstruct, *spec);
        }
        break;
    }
    case TYPE_STRING: {
        Cell loaded = load_text_value(spec);
        if (!is_type(&loaded, target)) fire_bad_to(target, spec);
        return copy_cell(&loaded, proto);
    }
    case TYPE_INTEGER: a[0] = a[1] = a[2] = static_cast<float>(cell_int(spec)); break;
    case TYPE_FLOAT: a[0] = a[1] = a[2] = static_cast<float>(cell_float(spec)); break;
    case TYPE_PAIR:
        a[0] = static_cast<float>(pair_x(spec));
        a[1] = static_cast<float>(pair_y(spec));
        break;
    case TYPE_POINT2D:
        a[0] = point_axis(spec, 0);
        a[1] = point_axis(spec, 1);
        break;
    case TYPE_POINT3D:
        if (target != TYPE_POINT3D) fire_bad_to(target, spec);
        return copy_cell(spec, proto);
    default: fire_bad_to(target, spec);
    }
    if (target == TYPE_POINT3D) return point3D_make_at(proto, a[0], a[1], a[2]);
    return point2D_make_at(proto, a[0], a[1]);
}

// --- text and paths ----------------------------------------------------------------------

int32_t point_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    std::string text = "(";
    for (int i = 0; i < point_axes(type_of(value)); i++) {
        if (i) text += ", ";
        text += float_form_float(point_axis(value, i), FORM_POINT);
    }
    text += ')';
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

int32_t point_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return point_form(value, buffer, refs.limit, part);
}

Cell* point_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    int32_t axis = axis_of(element, step.path, parent, true);
    if (!value) return float_push(point_axis(parent, axis - 1));
    float f;
    if (is_type(value, TYPE_INTEGER)) f = static_cast<float>(cell_int(value));
    else if (is_type(value, TYPE_FLOAT)) f = static_cast<float>(cell_float(value));
    else fire_invalid_type(value);
    const Cell old = *parent;
    set_point_axis(parent, axis - 1, f);
    if (step.notify) scalar_path_changed(step.owner, step.prev_element, old, parent, false);
    return value;
}

Cell* point_pick(Cell* series, int32_t index, Cell* boxed) {
    int32_t axis = index;
    if (boxed && any_word_type(type_of(boxed))) {
        axis = axis_of(boxed, nullptr, series, false);
    } else if (axis < 1 || axis > point_axes(type_of(series))) {
        Cell shown;
        if (boxed) shown = *boxed;
        else make_integer(&shown, index);
        fire(Err::script_out_of_range, shown);
    }
    make_float(series, point_axis(series, axis - 1));
    return series;
}

} // namespace

// --- comparison ----------------------------------------------------------------------------

namespace {

int32_t point_compare(Cell* value1, Cell* value2, CompareOp op) {
    Cell converted;
    if (is_type(value1, TYPE_POINT2D) && is_type(value2, TYPE_PAIR)) {
        converted = *value2;
        value2 = pair_to_point2D(&converted);
    }
    if (type_of(value2) != type_of(value1)) return -2;
    const int n = point_axes(type_of(value1));
    switch (op) {
    case CompareOp::equal:
    case CompareOp::not_equal:
        for (int i = 0; i < n; i++)
            if (!float_almost_equal32(point_axis(value1, i), point_axis(value2, i))) return 1;
        return 0;
    case CompareOp::strict_equal:
        for (int i = 0; i < n; i++)
            if (point_axis(value1, i) != point_axis(value2, i)) return 1;
        return 0;
    case CompareOp::same: return std::memcmp(&value1->data1, &value2->data1, size_t(4 * n)) == 0 ? 0 : 1;
    default: break;
    }
    float d = 0.0f;
    for (int i = 0; i < n; i++) {
        d = point_axis(value1, i) - point_axis(value2, i);
        if (!float_almost_equal32(0.0f, d)) break;
    }
    return (d > 0.0f) - (d < 0.0f);
}

void register_point(uint8_t type, const char* name) {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(point_make)
        .set<ACT_RANDOM>(point_random)
        .set<ACT_TO>(point_make)
        .set<ACT_FORM>(point_form)
        .set<ACT_MOLD>(point_mold)
        .set<ACT_EVAL_PATH>(point_eval_path)
        .set<ACT_COMPARE>(point_compare)
        .set<ACT_ABSOLUTE>(point_absolute)
        .set<ACT_ADD>(point_add)
        .set<ACT_DIVIDE>(point_divide)
        .set<ACT_MULTIPLY>(point_multiply)
        .set<ACT_NEGATE>(point_negate)
        .set<ACT_REMAINDER>(point_remainder)
        .set<ACT_ROUND>(point_round)
        .set<ACT_SUBTRACT>(point_subtract)
        .set<ACT_PICK>(point_pick)
        .set<ACT_REVERSE>(point_reverse);
    register_datatype(type, 0, name, row);
    hash_compare_slots[type] = point_compare;
}

} // namespace

int32_t point2D_compare(Cell* value1, Cell* value2, CompareOp op) { return point_compare(value1, value2, op); }

void register_point2D() { register_point(TYPE_POINT2D, "point2D!"); }
void register_point3D() { register_point(TYPE_POINT3D, "point3D!"); }

} // namespace kem

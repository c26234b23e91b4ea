// vector!: items, make, text, comparison and the registration of its row.
// Arithmetic, insertion, change and sort are in vector_actions.cpp.
#include "runtime/datatypes/vector.h"
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/vector_impl.h"
#include "runtime/datatypes/word.h"

namespace kem {

using namespace vector_detail;

// --- items ---------------------------------------------------------------------------------

int32_t vector_read_int(const uint8_t* p, uint32_t unit, uint32_t type) {
    // Code points are never negative: char! items read back as stored.
    const bool code_points = type == TYPE_CHAR;
    switch (unit) {
    case 1: return code_points ? int32_t(*p) : int32_t(int8_t(*p));
    case 2: {
        uint16_t u;
        std::memcpy(&u, p, 2);
        return code_points ? int32_t(u) : int32_t(int16_t(u));
    }
    default: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    }
}

double vector_read_number(const uint8_t* p, uint32_t unit, uint32_t type) {
    if (!vector_float_type(type)) return vector_read_int(p, unit, type);
    if (unit == 8) {
        double d;
        std::memcpy(&d, p, 8);
        return d;
    }
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

void vector_get_value(const Cell* vector, uint32_t offset, Cell* out) {
    const SeriesBuffer* b = series_buffer(vector);
    const uint32_t unit = unit_bytes(b);
    const uint32_t type = vector_item_type(vector);
    const uint8_t* p = const_cast<SeriesBuffer*>(b)->head_ptr() + size_t(offset) * unit;
    if (vector_float_type(type)) {
        make_float(out, vector_read_number(p, unit, type));
        set_type(out, type);
    } else {
        *out = Cell{type, 0, uint32_t(vector_read_int(p, unit, type)), 0};
    }
}

void vector_check_value(uint32_t type, const Cell* value) {
    const uint8_t vt = type_of(value);
    const bool int_value = vt == TYPE_INTEGER || vt == TYPE_CHAR;
    const bool float_value = vt == TYPE_FLOAT || vt == TYPE_PERCENT;
    if (!int_value && !float_value) fire_invalid_type(value);
    // A number of the other kind would be stored as its bits.
    if (float_value != vector_float_type(type)) fire(Err::script_invalid_arg, *value);
}

void vector_write(uint8_t* p, uint32_t unit, uint32_t type, const Cell* value) {
    vector_check_value(type, value);
    if (vector_float_type(type)) {
        const double d = cell_float(value);
        if (unit == 8) {
            std::memcpy(p, &d, 8);
        } else {
            const float f = float(d);
            std::memcpy(p, &f, 4);
        }
        return;
    }
    const uint32_t bits = value->data2;
    std::memcpy(p, &bits, unit);  // the low bytes: little-endian
}

// --- buffers ---------------------------------------------------------------------------------

Cell* vector_make_buffer(Cell* c, int64_t count, uint32_t type, uint32_t unit) {
    if (count < 1) count = 1;
    if (count > MAX_VECTOR_BYTES / int64_t(unit)) fire(Err::internal_no_memory);
    c->header = TYPE_UNSET;
    const NodeId node = alloc_series(uint64_t(count), unit, 0);
    *c = Cell{TYPE_VECTOR, 0, node, type};
    return c;
}

Cell* vector_to_block(const Cell* vector, Cell* block) {
    const Cell v = *vector;
    const uint32_t total = series_unit_count(&v);
    const uint32_t pos = uint32_t(std::clamp<int32_t>(series_position(&v), 0, int32_t(total)));
    block_make_at(block, int32_t(total - pos));
    for (uint32_t i = pos; i < total; i++) {
        Cell item;
        vector_get_value(&v, i, &item);
        block_append_cell(block, &item);
    }
    return block;
}

namespace vector_detail {

uint32_t default_unit(uint32_t type) { return vector_float_type(type) ? 8 : 4; }

void append_items(Cell* vector, const Cell* values, uint32_t count, bool same_type) {
    SeriesBuffer* b = series_buffer(vector);
    const uint32_t unit = unit_bytes(b);
    const uint32_t type = vector_item_type(vector);
    for (uint32_t i = 0; i < count; i++) {
        if (same_type && type_of(&values[i]) != type) fire(Err::script_invalid_arg, values[i]);
        vector_check_value(type, &values[i]);
    }
    if (b->tail + uint64_t(count) * unit > b->size) b = expand_series(b, int64_t(b->used()) + int64_t(count) * unit);
    for (uint32_t i = 0; i < count; i++) {
        vector_write(b->tail_ptr(), unit, type, &values[i]);
        b->tail += unit;
    }
}

} // namespace vector_detail

// --- make ------------------------------------------------------------------------------------

namespace {

Cell datatype_cell(uint8_t type) {
    Cell t;
    make_datatype(&t, type);
    return t;
}

[[noreturn]] void fire_bad_make(const Cell* culprit) {
    fire(Err::script_bad_make_arg, datatype_cell(TYPE_VECTOR), *culprit);
}

// The item type a type word names, 0 for none.
uint32_t item_type_named(const Cell* word) {
    if (!is_type(word, TYPE_WORD)) return 0;
    const std::string_view name = symbol_name(word->data2);
    for (uint32_t t : {TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT})
        if (name == type_name(uint8_t(t))) return t;
    return 0;
}

// [type-word bits count [values]]: the count and the values are optional.
Cell* from_spec(Cell* out, const Cell* spec, const Cell* items, int32_t n) {
    if (n < 2) fire_bad_make(spec);
    const uint32_t type = item_type_named(&items[0]);
    if (!type) fire_bad_make(&items[0]);
    int32_t at = 1;
    uint32_t unit;
    if (is_type(&items[1], TYPE_INTEGER)) {
        const int32_t bits = cell_int(&items[1]);
        if (type == TYPE_PERCENT) unit = 8;
        else if (type == TYPE_FLOAT && (bits == 32 || bits == 64)) unit = uint32_t(bits / 8);
        else if (type != TYPE_FLOAT && (bits == 8 || bits == 16 || bits == 32)) unit = uint32_t(bits / 8);
        else fire_bad_make(&items[1]);
        at = 2;
    } else if (type == TYPE_PERCENT) {
        unit = 8;
    } else {
        fire(Err::script_invalid_spec_field, items[1]);
    }
    int64_t count = 0;
    const Cell* values = nullptr;
    int32_t n_values = 0;
    if (at < n && is_type(&items[at], TYPE_INTEGER)) count = cell_int(&items[at++]);
    if (at < n && is_type(&items[at], TYPE_BLOCK)) {
        Cell blk = items[at++];
        n_values = std::max(block_rs_length(&blk), 0);
        values = block_rs_head(&blk);
    }
    if (at < n) fire(Err::script_invalid_spec_field, items[at]);
    const std::vector<Cell> kept(values, values + n_values);
    vector_make_buffer(out, std::max<int64_t>(count, n_values), type, unit);
    append_items(out, kept.data(), uint32_t(kept.size()), true);
    // Items past the values given are zeros.
    if (count > n_values) {
        SeriesBuffer* b = series_buffer(out);
        const size_t zeros = size_t(count - n_values) * unit;
        if (b->tail + zeros > b->size) b = expand_series(b, int64_t(b->used() + zeros));
        std::memset(b->tail_ptr(), 0, zeros);
        b->tail += uint32_t(zeros);
    }
    return out;
}

Cell* vector_make(Cell* proto, Cell* spec, int32_t type) {
    Cell* out = stack::push_slot();
    make_none(out);
    const uint8_t st = type_of(spec);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        const int32_t n = to_int_checked(spec);
        vector_make_buffer(out, n, TYPE_INTEGER, 4);
        if (n > 0) {
            SeriesBuffer* b = series_buffer(out);
            std::memset(b->head_ptr(), 0, size_t(n) * 4);
            b->tail = b->head + uint32_t(n) * 4;
        }
        return out;
    }
    if (st != TYPE_BLOCK) fire(Err::internal_not_done);
    Cell blk = *spec;
    const int32_t n = std::max(block_rs_length(&blk), 0);
    if (n == 0) return vector_make_buffer(out, 1, TYPE_INTEGER, 4);
    const std::vector<Cell> items(block_rs_head(&blk), block_rs_head(&blk) + n);
    if (is_type(&items[0], TYPE_WORD)) return from_spec(out, spec, items.data(), n);
    const uint32_t item_type = type_of(&items[0]);
    if (item_type != TYPE_CHAR && item_type != TYPE_INTEGER && !vector_float_type(item_type))
        fire_invalid_type(&items[0]);
    vector_make_buffer(out, n, item_type, default_unit(item_type));
    append_items(out, items.data(), uint32_t(n), true);
    return out;
}

// --- text --------------------------------------------------------------------------------------

// The items from the position, one space between them, within the limit.
int32_t serialize_items(const Cell* vector, Cell* buffer, bool mold, Cell* arg, int32_t part) {
    const Cell v = *vector;
    const uint32_t total = series_unit_count(&v);
    const uint32_t type = vector_item_type(&v);
    const uint32_t unit = unit_bytes(series_buffer(&v));
    for (uint32_t i = uint32_t(std::max(series_position(&v), 0)); i < total; i++) {
        if (arg && part <= 0) break;
        if (i > uint32_t(std::max(series_position(&v), 0))) {
            string_append_ascii(buffer, " ");
            part--;
        }
        Cell item;
        vector_get_value(&v, i, &item);
        if (type == TYPE_CHAR) {
            MoldArgs plain;
            plain.limit = arg;
            part = mold ? char_mold(&item, buffer, plain, part, 0) : char_form(&item, buffer, arg, part);
            continue;
        }
        std::string text;
        if (type == TYPE_INTEGER) {
            text = integer_form_signed(cell_int(&item));
        } else {
            const bool percent = type == TYPE_PERCENT;
            const double d = cell_float(&item) * (percent ? 100.0 : 1.0);
            const int mode = unit == 8 ? (percent ? FORM_PERCENT : FORM_FLOAT) : (percent ? FORM_SINGLE_PERCENT : FORM_SINGLE);
            text = float_form_float(unit == 8 ? d : double(float(d)), mode);
        }
        string_append_ascii(buffer, text);
        part -= int32_t(text.size());
    }
    return part;
}

int32_t vector_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return serialize_items(value, buffer, false, arg, part);
}

int32_t append_text(Cell* buffer, std::string_view text, int32_t part) {
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

// "make vector! [" and the items; a size other than the item type's default
// (or no items) spells out the type and size, the items in a block of their own.
int32_t vector_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    const bool only = refs.only;
    Cell* arg = refs.limit;
    const uint32_t type = vector_item_type(value);
    const uint32_t unit = unit_bytes(series_buffer(value));
    const bool plain = series_unit_count(value) > 0 && unit == default_unit(type);
    if (!only) part = append_text(buffer, "make vector! [", part);
    if (!plain) {
        const std::string head =
            std::string(type_name(uint8_t(type))) + " " + std::to_string(unit * 8) + " [";
        part = append_text(buffer, head, part);
    }
    part = serialize_items(value, buffer, true, arg, part);
    if (!plain) part = append_text(buffer, "]", part);
    if (!only) part = append_text(buffer, "]", part);
    return part;
}

// --- comparison --------------------------------------------------------------------------------

int32_t vector_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_VECTOR)) return -2;
    const uint32_t type = vector_item_type(value1);
    if (vector_item_type(value2) != type) fire(Err::script_not_same_type);
    const int32_t p1 = std::max(series_position(value1), 0);
    const int32_t p2 = std::max(series_position(value2), 0);
    if (series_node(value1) == series_node(value2) && p1 == p2) return 0;
    if (op == CompareOp::same) return -1;
    const int32_t l1 = std::max(int32_t(series_unit_count(value1)) - p1, 0);
    const int32_t l2 = std::max(int32_t(series_unit_count(value2)) - p2, 0);
    if (l1 == 0 && l2 == 0) return 0;
    const bool equality = op == CompareOp::equal || op == CompareOp::not_equal || op == CompareOp::strict_equal ||
                          op == CompareOp::find;
    if (l1 != l2 && equality) return 1;
    const SeriesBuffer* b1 = series_buffer(value1);
    const SeriesBuffer* b2 = series_buffer(value2);
    const uint32_t u1 = unit_bytes(b1), u2 = unit_bytes(b2);
    for (int32_t i = 0; i < std::min(l1, l2); i++) {
        const double a = vector_read_number(const_cast<SeriesBuffer*>(b1)->head_ptr() + size_t(p1 + i) * u1, u1, type);
        const double b = vector_read_number(const_cast<SeriesBuffer*>(b2)->head_ptr() + size_t(p2 + i) * u2, u2, type);
        if (a != b) return a < b ? -1 : 1;
    }
    return l1 < l2 ? -1 : (l1 > l2 ? 1 : 0);
}

} // namespace

// --- registration ------------------------------------------------------------------------------

void register_vector() {
    ActionRow row = ActionRow::none_all();
    for (int slot : {ACT_RANDOM, ACT_REFLECT, ACT_EVAL_PATH, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_COPY, ACT_FIND, ACT_HEAD,
                     ACT_HEAD_Q, ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_REMOVE,
                     ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_TAIL, ACT_TAIL_Q, ACT_TAKE, ACT_MODIFY})
        row.inherit(slot);
    row.set<ACT_MAKE>(vector_make)
        .set<ACT_FORM>(vector_form)
        .set<ACT_MOLD>(vector_mold)
        .set<ACT_COMPARE>(vector_compare);
    set_vector_actions(row);
    register_datatype(TYPE_VECTOR, TYPE_STRING, "vector!", row);
    collector::set_mark_kind(TYPE_VECTOR, collector::MK_BYTES2);
}

} // namespace kem

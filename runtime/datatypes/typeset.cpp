// typeset!: making, combining, searching, text forms and the registration row.
#include "runtime/datatypes/typeset.h"
#include <algorithm>
#include <string_view>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"

namespace kem {

namespace {

constexpr std::string_view MOLD_PREFIX = "make typeset! [";

// A word's value cell. Unset values are the caller's to judge.
const Cell* value_of_word(const Cell* word) { return word_value_cell(word); }

void or_in(Cell* ts, const Cell* other) {
    ts->data1 |= other->data1;
    ts->data2 |= other->data2;
    ts->data3 |= other->data3;
}

// Ids a walk over the bits visits: 1 to the highest registered id.
int32_t last_id() { return highest_type_id < 96 ? highest_type_id : 95; }

int32_t serialize(const Cell* ts, Cell* buffer, bool only, Cell* arg, int32_t part) {
    if (!only) {
        string_append_ascii(buffer, MOLD_PREFIX);
        part -= int32_t(MOLD_PREFIX.size());
    }
    bool written = false;
    for (int32_t id = 1; id <= last_id(); id++) {
        if (!typeset_bit(ts, uint32_t(id))) continue;
        if (arg && part <= 0) break;
        std::string_view name = datatype_names[id].name;
        if (only && written) {
            string_append_ascii(buffer, " ");
            part--;
        }
        string_append_ascii(buffer, name);
        part -= int32_t(name.size());
        if (!only) {
            string_append_ascii(buffer, " ");
            part--;
        }
        written = true;
    }
    if (!only) {
        if (written) {
            // The last separator becomes the closing bracket.
            SeriesBuffer* b = series_buffer(buffer);
            b->tail -= unit_bytes(b);
            part++;
        }
        string_append_ascii(buffer, "]");
        part--;
    }
    return part;
}

} // namespace

void typeset_make_default(Cell* ts) {
    *ts = Cell{TYPE_TYPESET, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    reinterpret_cast<uint8_t*>(&ts->data1)[TYPE_UNSET >> 3] &= uint8_t(~(0x80u >> (TYPE_UNSET & 7)));
}

void typeset_add_type(Cell* ts, const Cell* item) {
    const Cell* value = is_type(item, TYPE_WORD) ? value_of_word(item) : item;
    switch (type_of(value)) {
    case TYPE_DATATYPE: typeset_set_bit(ts, value->data1); break;
    case TYPE_TYPESET: or_in(ts, value); break;
    default: fire(Err::script_invalid_arg, *item);
    }
}

int32_t typeset_count(const Cell* ts) {
    int32_t n = 0;
    for (int32_t id = 1; id <= last_id(); id++)
        if (typeset_bit(ts, uint32_t(id))) n++;
    return n;
}

Cell* typeset_from_spec(Cell* out, const Cell* spec_block) {
    Cell ts;
    typeset_clear(&ts);
    Cell blk = *spec_block;
    int32_t count = int32_t(block_full_length(&blk));
    for (int32_t i = std::max(series_position(&blk), 0); i < count; i++) {
        const Cell* item = block_rs_abs_at(&blk, uint32_t(i));
        const Cell* value = item;
        if (is_type(item, TYPE_WORD)) {
            value = value_of_word(item);
            if (is_type(value, TYPE_UNSET)) fire(Err::script_no_value, *item);
        }
        switch (type_of(value)) {
        case TYPE_DATATYPE: typeset_set_bit(&ts, value->data1); break;
        case TYPE_TYPESET: or_in(&ts, value); break;
        case TYPE_WORD: typeset_set_bit(&ts, TYPE_OBJECT); break;
        case TYPE_BLOCK: break;
        default: fire(Err::script_invalid_type_spec, *item);
        }
    }
    *out = ts;
    return out;
}

Cell* typeset_make_in(const Cell* block, uint32_t word1, uint32_t word2, uint32_t word3) {
    Cell* c = block_alloc_tail(block);
    *c = Cell{TYPE_TYPESET, word1, word2, word3};
    return c;
}

Cell* typeset_make_in_default(const Cell* block) {
    Cell ts;
    typeset_make_default(&ts);
    return typeset_make_in(block, ts.data1, ts.data2, ts.data3);
}

Cell* typeset_from_spec_in(const Cell* block, const Cell* spec_block) {
    // Built first: appending may move the list's buffer, the spec is read before.
    Cell ts;
    typeset_from_spec(&ts, spec_block);
    return typeset_make_in(block, ts.data1, ts.data2, ts.data3);
}

Cell* typeset_to_block(const Cell* ts_in, Cell* result) {
    Cell ts = *ts_in;
    Cell blk;
    block_make_at(&blk, typeset_count(&ts));
    for (int32_t id = 1; id <= last_id(); id++)
        if (typeset_bit(&ts, uint32_t(id))) datatype_make_in(&blk, uint8_t(id));
    *result = blk;
    return result;
}

Cell* typeset_do_bitwise(int32_t op) {
    Cell* first = stack::arguments;
    const Cell* second = stack::arguments + 1;
    if (op == 8) return first;
    Cell rhs;
    if (is_type(second, TYPE_TYPESET)) {
        rhs = *second;
    } else if (is_type(second, TYPE_DATATYPE)) {
        typeset_clear(&rhs);
        typeset_set_bit(&rhs, second->data1);
    } else {
        fire(Err::script_invalid_arg, *second);
    }
    Cell r{TYPE_TYPESET, 0, 0, 0};
    const uint32_t a[3] = {first->data1, first->data2, first->data3};
    const uint32_t b[3] = {rhs.data1, rhs.data2, rhs.data3};
    uint32_t* w[3] = {&r.data1, &r.data2, &r.data3};
    for (int i = 0; i < 3; i++) {
        switch (op) {
        case 5: case 9: *w[i] = a[i] | b[i]; break;
        case 6: case 10: *w[i] = a[i] & b[i]; break;
        case 7: case 12: *w[i] = a[i] ^ b[i]; break;
        case 11: *w[i] = a[i] & ~b[i]; break;
        default: fire(Err::script_invalid_arg, *second);
        }
    }
    *first = r;
    return first;
}

// --- actions ----------------------------------------------------------------------------

Cell* typeset_make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_TYPESET: return stack::push(spec);
    case TYPE_BLOCK: {
        Cell ts;
        typeset_clear(&ts);
        Cell blk = *spec;
        int32_t count = int32_t(block_full_length(&blk));
        for (int32_t i = std::max(series_position(&blk), 0); i < count; i++)
            typeset_add_type(&ts, block_rs_abs_at(&blk, uint32_t(i)));
        return stack::push(&ts);
    }
    default: {
        Cell dt;
        make_datatype(&dt, TYPE_TYPESET);
        fire(Err::script_bad_to_arg, dt, *spec);
    }
    }
}

int32_t typeset_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return serialize(value, buffer, false, arg, part);
}

int32_t typeset_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t) {
    return serialize(value, buffer, refs.only, refs.limit, part);
}

int32_t typeset_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_TYPESET)) return -2;
    switch (op) {
    case CompareOp::equal:
    case CompareOp::not_equal:
    case CompareOp::strict_equal:
    case CompareOp::same:
    case CompareOp::find:
        return value1->data1 == value2->data1 && value1->data2 == value2->data2 && value1->data3 == value2->data3
                   ? 0
                   : 1;
    case CompareOp::sort:
    case CompareOp::case_sort: {
        int32_t a = typeset_count(value1), b = typeset_count(value2);
        return a < b ? -1 : (a > b ? 1 : 0);
    }
    default: return -2;
    }
}

Cell* typeset_and_t() { return typeset_do_bitwise(6); }
Cell* typeset_or_t() { return typeset_do_bitwise(5); }
Cell* typeset_xor_t() { return typeset_do_bitwise(7); }

Cell* typeset_complement(Cell* ts) {
    *ts = Cell{TYPE_TYPESET, ~ts->data1, ~ts->data2, ~ts->data3};
    return ts;
}

Cell* typeset_find(Cell* series, Cell* value, const FindArgs&) {
    if (!is_type(value, TYPE_DATATYPE)) fire(Err::script_invalid_arg, *value);
    return logic_push(typeset_bit(series, value->data1));
}

void register_typeset() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(typeset_make)
        .set<ACT_TO>(typeset_make)
        .set<ACT_FORM>(typeset_form)
        .set<ACT_MOLD>(typeset_mold)
        .set<ACT_COMPARE>(typeset_compare)
        .set<ACT_AND_T>(typeset_and_t)
        .set<ACT_COMPLEMENT>(typeset_complement)
        .set<ACT_OR_T>(typeset_or_t)
        .set<ACT_XOR_T>(typeset_xor_t)
        .set<ACT_FIND>(typeset_find);
    register_datatype(TYPE_TYPESET, 0, "typeset!", row);
}

} // namespace kem

// bitset!: the set combinations, the actions and the registration of the row.
//
// A complemented bitset stands for every integer its array does not exclude,
// so each action works on membership: clearing empties the set, removing
// takes members out, and a combination is complemented exactly when the
// operation of the two complement flags says so.
#include <algorithm>
#include <cstring>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/services/hash_keys.h"

namespace kem {

namespace {

// The operation of one byte (or flag, as 0x00 or 0xFF) of each operand.
uint8_t combine_bytes(int32_t op, uint8_t a, uint8_t b) {
    switch (op) {
    case 5: case 9: return a | b;
    case 6: case 10: return a & b;
    case 7: case 12: return a ^ b;
    default: return a & uint8_t(~b);
    }
}

bool clears(const Cell* v) {
    switch (type_of(v)) {
    case TYPE_NONE: return true;
    case TYPE_LOGIC: return v->data1 == 0;
    case TYPE_INTEGER: return cell_int(v) == 0;
    case TYPE_FLOAT: return cell_float(v) == 0.0;
    default: return false;
    }
}

// A copy of the bitset in out, its complement when `invert`.
void copy_into(const Cell* from, Cell* out, bool invert) {
    bool complemented = bitset_complemented(from);
    uint32_t n = bitset_byte_count(from);
    bitset_make_at(out, n, false);
    std::memcpy(bitset_rs_head(out), bitset_rs_head(from), n);
    if (invert) bitset_invert_bytes(out);
    if (complemented != invert) series_buffer(out)->flags |= SERIES_COMPLEMENT;
}

} // namespace

// --- combinations ------------------------------------------------------------------

void bitset_combine(const Cell* a_arg, const Cell* b_arg, int32_t op, Cell* out) {
    // out may be one of the operands.
    const Cell a_cell = *a_arg, b_cell = *b_arg;
    const Cell* a = &a_cell;
    const Cell* b = &b_cell;
    if (op < 5 || op > 12 || op == 8) fire(Err::script_invalid_arg, Cell{TYPE_INTEGER, 0, uint32_t(op), 0});
    uint32_t la = bitset_byte_count(a), lb = bitset_byte_count(b);
    // Beyond its array an operand reads as its complement flag.
    uint8_t fa = bitset_complemented(a) ? 0xFF : 0x00;
    uint8_t fb = bitset_complemented(b) ? 0xFF : 0x00;
    uint32_t length = std::max(la, lb);
    // and~ ends at the shorter array when the bits past it are then all clear,
    // as the result's flag says.
    if (op == 6 && ((la < lb && !fa) || (lb < la && !fb))) length = std::min(la, lb);
    uint8_t flag = combine_bytes(op, fa, fb);
    bitset_make_at(out, length, false);
    const uint8_t* pa = bitset_rs_head(a);
    const uint8_t* pb = bitset_rs_head(b);
    uint8_t* r = bitset_rs_head(out);
    for (uint32_t i = 0; i < length; i++) r[i] = combine_bytes(op, i < la ? pa[i] : fa, i < lb ? pb[i] : fb);
    if (flag) series_buffer(out)->flags |= SERIES_COMPLEMENT;
}

Cell* bitset_do_bitwise(int32_t op) {
    Cell* first = stack::arguments;
    if (op == 8) return first;
    Cell* second = stack::arguments + 1;
    if (!is_type(second, TYPE_BITSET)) fire_invalid_type(second);
    Cell result;
    bitset_combine(first, second, op, &result);
    *first = result;
    return first;
}

Cell* bitset_and() { return bitset_do_bitwise(6); }
Cell* bitset_or() { return bitset_do_bitwise(5); }
Cell* bitset_xor() { return bitset_do_bitwise(7); }

Cell* bitset_complement(Cell* value) {
    Cell result;
    copy_into(value, &result, true);
    *value = result;
    return value;
}

Cell* bitset_negate(Cell* value) { return bitset_complement(value); }

// --- series-like actions ----------------------------------------------------------------

Cell* bitset_append(Cell* series, Cell* value_arg, int32_t part, bool only, int32_t dup, bool append) {
    Cell value = *value_arg;
    bool told = series_notify_owner(series, append ? ChangeWord::append : ChangeWord::insert, &value);
    bitset_process(&value, series, BITSET_SET, false, BITSET_ACTION_ERRORS);
    if (told) series_notify_owner(series, append ? ChangeWord::appended : ChangeWord::inserted, &value);
    return series;
}

Cell* bitset_poke(Cell* series, int32_t index, Cell* data, Cell* boxed) {
    Cell spec = boxed ? *boxed : Cell{TYPE_INTEGER, 0, uint32_t(index), 0};
    // The owner's handler may move the cell naming the bitset (a set-path
    // into a block passes a cell of that block).
    Cell held[2] = {*series, *data};
    RootedCells keep(held, 2);
    bool told = series_notify_owner(&held[0], ChangeWord::poke, &held[1]);
    bitset_process(&spec, &held[0], clears(&held[1]) ? BITSET_CLEAR : BITSET_SET, false, BITSET_ACTION_ERRORS);
    if (told) series_notify_owner(&held[0], ChangeWord::poked, &held[1]);
    return data;
}

Cell* bitset_remove(Cell* series, const RemoveArgs& refs) {
    if (!refs.part) fire(Err::script_missing_arg);
    Cell spec = *refs.part;
    bool told = series_notify_owner(series, ChangeWord::remove, &spec);
    bitset_process(&spec, series, BITSET_CLEAR, false, BITSET_ACTION_ERRORS);
    if (told) series_notify_owner(series, ChangeWord::removed, &spec);
    return series;
}

Cell* bitset_clear(Cell* series) {
    bool told = series_notify_owner(series, ChangeWord::clear);
    SeriesBuffer* b = series_buffer(series);
    std::memset(b->head_ptr(), 0, b->used());
    b->flags &= ~SERIES_COMPLEMENT;
    if (told) series_notify_owner(series, ChangeWord::cleared);
    return series;
}

Cell* bitset_pick(Cell* series, int32_t index, Cell* boxed) {
    Cell spec = boxed ? *boxed : Cell{TYPE_INTEGER, 0, uint32_t(index), 0};
    make_logic(series, bitset_process(&spec, series, BITSET_TEST, false, BITSET_ACTION_ERRORS) != 0);
    return series;
}

Cell* bitset_find(Cell* series, Cell* value, const FindArgs& refs) {
    if (bitset_process(value, series, BITSET_TEST, false, BITSET_ACTION_ERRORS)) make_logic(series, true);
    else make_none(series);
    return series;
}

Cell* bitset_copy(Cell* value, Cell* result, const CopyArgs& refs) {
    copy_into(value, result, false);
    return result;
}

int32_t bitset_length_q(Cell* series) { return int32_t(bitset_byte_count(series) * 8); }

Cell* bitset_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    uint8_t t = type_of(element);
    if (t != TYPE_INTEGER && t != TYPE_CHAR) fire_invalid_type(element);
    if (value) return bitset_poke(parent, cell_int(element), value, element);
    bool member = bitset_process(element, parent, BITSET_TEST, false, BITSET_ACTION_ERRORS) != 0;
    return logic_push(member);
}

// --- registration ---------------------------------------------------------------------

void register_bitset() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(bitset_make)
        .set<ACT_TO>(bitset_to)
        .set<ACT_FORM>(bitset_form)
        .set<ACT_MOLD>(bitset_mold)
        .set<ACT_EVAL_PATH>(bitset_eval_path)
        .set<ACT_COMPARE>(bitset_compare)
        .set<ACT_NEGATE>(bitset_negate)
        .set<ACT_AND_T>(bitset_and)
        .set<ACT_COMPLEMENT>(bitset_complement)
        .set<ACT_OR_T>(bitset_or)
        .set<ACT_XOR_T>(bitset_xor)
        .set<ACT_APPEND>(bitset_append)
        .set<ACT_CLEAR>(bitset_clear)
        .set<ACT_COPY>(bitset_copy)
        .set<ACT_FIND>(bitset_find)
        .set<ACT_INSERT>(bitset_append)
        .set<ACT_LENGTH_Q>(bitset_length_q)
        .set<ACT_PICK>(bitset_pick)
        .set<ACT_POKE>(bitset_poke)
        // The owner of a bitset answers as a series' does.
        .set<ACT_REFLECT>(series_reflect)
        .set<ACT_MODIFY>(series_modify)
        .set<ACT_REMOVE>(bitset_remove);
    register_datatype(TYPE_BITSET, 0, "bitset!", row);
    collector::set_mark_kind(TYPE_BITSET, collector::MK_BYTES2);
    hash_compare_slots[TYPE_BITSET] = bitset_compare;
}

} // namespace kem

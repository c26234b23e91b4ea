// percent!: cells, its text form and its row, which takes every other action
// from float!.
#include "runtime/datatypes/percent.h"
#include <bit>
#include <cstring>
#include <string_view>
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/hash_keys.h"

namespace kem {

void percent_set_in(Cell* c, double d) {
    *c = Cell{TYPE_PERCENT, 0, 0, 0};
    set_cell_float(c, d);
}

void percent_set_in_halves(Cell* c, uint32_t high, uint32_t low) {
    percent_set_in(c, std::bit_cast<double>((uint64_t(high) << 32) | low));
}

Cell* percent_box(double d) {
    percent_set_in(stack::arguments, d);
    return stack::arguments;
}

Cell* percent_push(double d) {
    Cell* c = stack::push_slot();
    percent_set_in(c, d);
    return c;
}

Cell* percent_push64(uint32_t high, uint32_t low) {
    Cell* c = stack::push_slot();
    percent_set_in_halves(c, high, low);
    return c;
}

Cell* percent_make_in(const Cell* block, uint32_t high, uint32_t low) {
    Cell* c = block_alloc_tail(block);
    percent_set_in_halves(c, high, low);
    return c;
}

namespace {

int32_t percent_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    const char* text = float_form_float(cell_float(value) * 100.0, FORM_PERCENT);
    size_t len = std::strlen(text);
    string_append_ascii(buffer, std::string_view(text, len));
    return part - int32_t(len);
}

int32_t percent_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return percent_form(value, buffer, refs.limit, part);
}

} // namespace

void register_percent() {
    ActionRow row = ActionRow::inherit_all();
    row.set<ACT_FORM>(percent_form).set<ACT_MOLD>(percent_mold);
    register_datatype(TYPE_PERCENT, TYPE_FLOAT, "percent!", row);
    hash_compare_slots[TYPE_PERCENT] = float_compare;
}

} // namespace kem

// logic!: true and false.
#include "runtime/datatypes/logic.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/random.h"

namespace kem {

const Cell true_value = {TYPE_LOGIC, 1, 0, 0};
const Cell false_value = {TYPE_LOGIC, 0, 0, 0};

Cell* logic_push(bool flag) {
    Cell* c = stack::push_slot();
    make_logic(c, flag);
    return c;
}

bool logic_true_q(const Cell* value, bool check, const Cell* word) {
    if (check && type_of(value) == TYPE_UNSET) fire(Err::script_no_value, *word);
    return is_truthy(value);
}

bool logic_result_true_q() {
    const Cell* r = stack::arguments;
    if (type_of(r) == TYPE_UNSET) fire(Err::script_no_return);
    return is_truthy(r);
}

bool logic_result_false_q() { return !is_truthy(stack::arguments); }

namespace {

Cell* logic_make(Cell* proto, Cell* spec, int32_t type);

Cell* logic_to(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_LOGIC: return spec;
    case TYPE_NONE: *proto = false_value; return proto;
    default: *proto = true_value; return proto;
    }
}

Cell* logic_make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_INTEGER: make_logic(proto, cell_int(spec) != 0); return proto;
    case TYPE_FLOAT:
    case TYPE_PERCENT: make_logic(proto, !(cell_float(spec) == 0.0)); return proto;
    default: return logic_to(proto, spec, type);
    }
}

Cell* logic_random(Cell* value, const RandomArgs& refs) {
    if (refs.seed) {
        random_seed(static_cast<int32_t>(value->data1));
        make_unset(value);
        return value;
    }
    int32_t n = refs.secure ? static_cast<int32_t>(random_secure_next()) : random_next();
    value->data1 = n > 0x3FFFFFFF ? 1 : 0;
    return value;
}

int32_t logic_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    bool t = value->data1 == 1;
    string_append_ascii(buffer, t ? "true" : "false");
    return part - (t ? 4 : 5);
}

int32_t logic_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    if (!refs.all) return logic_form(value, buffer, refs.limit, part);
    bool t = value->data1 == 1;
    string_append_ascii(buffer, t ? "#(true)" : "#(false)");
    return part - (t ? 7 : 8);
}

int32_t logic_compare(Cell* value, Cell* other, CompareOp op) {
    if (type_of(other) != TYPE_LOGIC) return -2;
    return compare_unordered(op) ? int32_t(value->data1) - int32_t(other->data1) : -2;
}

Cell* logic_complement(Cell* value) {
    value->data1 ^= 1;
    return value;
}

// op: 5 or, 6 and, 7 xor.
Cell* do_bitwise(int op) {
    Cell* a = stack::arguments;
    Cell* b = stack::arguments + 1;
    if (type_of(b) != TYPE_LOGIC) fire_expect_arg(b, 1);
    switch (op) {
    case 5: a->data1 |= b->data1; break;
    case 6: a->data1 &= b->data1; break;
    default: a->data1 ^= b->data1; break;
    }
    return a;
}

Cell* logic_and() { return do_bitwise(6); }
Cell* logic_or() { return do_bitwise(5); }
Cell* logic_xor() { return do_bitwise(7); }

} // namespace

void register_logic() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(logic_make)
        .set<ACT_RANDOM>(logic_random)
        .set<ACT_TO>(logic_to)
        .set<ACT_FORM>(logic_form)
        .set<ACT_MOLD>(logic_mold)
        .set<ACT_COMPARE>(logic_compare)
        .set<ACT_AND_T>(logic_and)
        .set<ACT_COMPLEMENT>(logic_complement)
        .set<ACT_OR_T>(logic_or)
        .set<ACT_XOR_T>(logic_xor);
    register_datatype(TYPE_LOGIC, 0, "logic!", row);
}

} // namespace kem

// native!, action! and op!: making them (natives and actions from the boot
// data, ops from a two-argument callable), reflection, text forms, comparison
// and the rows of the three types.
#include "runtime/datatypes/native.h"
#include <algorithm>
#include <string_view>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"

namespace kem {

uint32_t native_table_count = 0;

namespace {

bool is_refinement_named(const Cell* item, const Cell& refinement) {
    return symbol_resolve(item->data2) == symbol_resolve(refinement.data2);
}

bool same_field(int32_t field_symbol, uint32_t symbol) {
    return symbol_resolve(uint32_t(field_symbol)) == symbol_resolve(symbol);
}

// Natives from 1 to NATIVE_TABLE_SIZE, then actions from 1 to ACTION_SLOT_COUNT.
Cell kept{TYPE_NONE, 0, 0, 0};
constexpr uint32_t KEPT_CELLS = NATIVE_TABLE_SIZE + ACTION_SLOT_COUNT + 1;

uint32_t kept_index(uint8_t type, uint32_t number) { return type == TYPE_NATIVE ? number : NATIVE_TABLE_SIZE + number; }

// A native's body reads its arguments and refinements where the spec start-up
// gave it put them, and trusts their types: a spec made for it must describe
// the same call, each argument of the same kind and its types no wider.
bool same_call(const Cell* made, const Cell* start_up) {
    const Cell a = callable_arg_list(made), b = callable_arg_list(start_up);
    const uint32_t n = block_full_length(&a);
    if (n != block_full_length(&b)) return false;
    for (uint32_t i = 0; i < n; i++) {
        const Cell* x = block_rs_abs_at(&a, i);
        const Cell* y = block_rs_abs_at(&b, i);
        if (type_of(x) != type_of(y)) return false;
        switch (type_of(x)) {
        case TYPE_TYPESET:
            if (arg_kind(x) != arg_kind(y)) return false;
            if (arg_kind(x) != ARG_RETURN &&
                ((x->data1 & ~y->data1) | (x->data2 & ~y->data2) | (x->data3 & ~y->data3)) != 0)
                return false;
            break;
        case TYPE_INTEGER:  // the refinement count
            if (cell_int(x) != cell_int(y)) return false;
            break;
        default: break;
        }
    }
    return true;
}

std::string_view form_text(uint8_t type) {
    switch (type) {
    case TYPE_NATIVE: return "?native?";
    case TYPE_ACTION: return "?action?";
    default: return "?op?";
    }
}

} // namespace

Cell* native_make_at(Cell* out, uint8_t type, uint32_t number, const Cell* spec_in) {
    Cell spec = *spec_in;
    // The spec is read from its head: one given at a later position is copied.
    if (series_position(&spec) > 0) {
        block_clone_at(&spec, &spec, false, false);
        set_type(&spec, TYPE_BLOCK);
    }
    // Natives name no words of their own: their function context stays empty.
    NodeId ctx = context_make(0, true, false, 0, CONTEXT_FUNCTION);
    Cell extras;
    block_make_at(&extras, 2);
    Cell ctx_cell = *context_cell(ctx);
    block_append_cell(&extras, &ctx_cell);
    block_append_cell(&extras, &none_value);
    *out = Cell{type, number, series_node(&spec), series_node(&extras)};
    return out;
}

void native_keep(const Cell* value) {
    const Cell v = *value;
    const uint32_t limit = is_type(&v, TYPE_NATIVE) ? NATIVE_TABLE_SIZE : uint32_t(ACTION_SLOT_COUNT);
    if ((!is_type(&v, TYPE_NATIVE) && !is_type(&v, TYPE_ACTION)) || v.data1 < 1 || v.data1 > limit) return;
    if (!is_type(&kept, TYPE_BLOCK)) {
        block_make_filled_at(&kept, int32_t(KEPT_CELLS), false);
        block_set_tail_at(&kept, KEPT_CELLS);
        collector::add_layer_root("start-up natives", [] { collector::mark_value(&kept); });
    }
    *block_rs_abs_at(&kept, kept_index(type_of(&v), v.data1)) = v;
}

const Cell* native_kept(uint8_t type, uint32_t number) {
    const uint32_t limit = type == TYPE_NATIVE ? NATIVE_TABLE_SIZE : uint32_t(ACTION_SLOT_COUNT);
    if (!is_type(&kept, TYPE_BLOCK) || number < 1 || number > limit) return nullptr;
    const Cell* c = block_rs_abs_at(&kept, kept_index(type, number));
    return is_type(c, type) ? c : nullptr;
}

Cell* native_push(uint32_t index, const Cell* spec) {
    Cell made;
    native_make_at(&made, TYPE_NATIVE, index, spec);
    return stack::push(&made);
}

Cell* action_push(uint32_t slot, const Cell* spec) {
    Cell made;
    native_make_at(&made, TYPE_ACTION, slot, spec);
    return stack::push(&made);
}

// --- actions -------------------------------------------------------------------------

Cell* native_make(Cell* proto, Cell* spec, int32_t type) {
    auto refuse = [&] {
        Cell dt;
        make_datatype(&dt, uint8_t(type));
        fire(Err::script_bad_make_arg, dt, *spec);
    };
    if (!is_type(spec, TYPE_BLOCK)) refuse();
    const uint32_t pos = uint32_t(std::max(series_position(spec), 0));
    if (block_full_length(spec) != pos + 2) refuse();
    const Cell fn_spec = *block_rs_abs_at(spec, pos);
    const Cell index = *block_rs_abs_at(spec, pos + 1);
    if (!is_type(&fn_spec, TYPE_BLOCK) || !is_type(&index, TYPE_INTEGER)) refuse();
    const int64_t limit = type == TYPE_NATIVE ? std::min(native_table_count, NATIVE_TABLE_SIZE) : ACTION_SLOT_COUNT;
    const int32_t n = cell_int(&index);
    if (n < 1 || n > limit) refuse();
    const Cell* start_up = native_kept(uint8_t(type), uint32_t(n));
    if (!start_up) refuse();
    Cell* made = stack::push_slot();
    native_make_at(made, uint8_t(type), uint32_t(n), &fn_spec);
    // Read now, the call stays as checked when the spec block changes later.
    if (!same_call(made, start_up)) refuse();
    return made;
}

Cell* native_reflect(Cell* value, int32_t field_symbol) {
    Cell out;
    if (same_field(field_symbol, rt_symbols.spec)) {
        out = callable_spec(value);
        // A native's own spec says how its body reads the arguments: users get a copy.
        const uint8_t wrapped = is_type(value, TYPE_OP) ? op_wrapped_type(value) : type_of(value);
        if (wrapped == TYPE_NATIVE || wrapped == TYPE_ACTION) block_clone_at(&out, &out, true, false);
    } else if (same_field(field_symbol, rt_symbols.body)) {
        uint8_t wrapped = is_type(value, TYPE_OP) ? op_wrapped_type(value) : type_of(value);
        if (wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE) out = *callable_extra_cell(value, 0);
        else make_integer(&out, int32_t(native_number(value)));
    } else {
        fire(Err::internal_not_done);
    }
    return stack::push(&out);
}

int32_t native_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    std::string_view text = form_text(type_of(value));
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

int32_t native_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    std::string_view open = is_type(value, TYPE_NATIVE) ? "make native! [" : "make action! [";
    Cell spec = callable_spec(value);
    string_append_ascii(buffer, open);
    part -= int32_t(open.size());
    part = block_mold(&spec, buffer, mold_nested(refs), part, indent);
    string_append_ascii(buffer, "]");
    return part - 1;
}

int32_t native_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (type_of(value1) != type_of(value2)) return -2;
    if (!compare_unordered(op)) return -2;
    // Numbers stand where code addresses did; an op also tells what it wraps,
    // so an op over native n and one over action n differ.
    auto key = [](const Cell* c) {
        uint64_t wrapped = is_type(c, TYPE_OP) ? op_wrapped_type(c) : 0;
        return (wrapped << 32) | c->data1;
    };
    uint64_t a = key(value1), b = key(value2);
    return a < b ? -1 : (a > b ? 1 : 0);
}

void register_native() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(native_make)
        .set<ACT_REFLECT>(native_reflect)
        .set<ACT_FORM>(native_form)
        .set<ACT_MOLD>(native_mold)
        .set<ACT_COMPARE>(native_compare);
    register_datatype(TYPE_NATIVE, 0, "native!", row);
    collector::set_mark_kind(TYPE_NATIVE, collector::MK_NATIVE);
}

void register_action() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(native_make)
        .inherit(ACT_REFLECT)
        .set<ACT_FORM>(native_form)
        .set<ACT_MOLD>(native_mold)
        .set<ACT_COMPARE>(native_compare);
    register_datatype(TYPE_ACTION, TYPE_NATIVE, "action!", row);
    collector::set_mark_kind(TYPE_ACTION, collector::MK_NATIVE);
}

// --- op! ------------------------------------------------------------------------------

bool op_spec_binary(const Cell* spec_in) {
    const Cell spec = *spec_in;
    const int32_t total = int32_t(block_full_length(&spec));
    int32_t count = 0;
    bool seen_word = false;
    for (int32_t i = std::max(series_position(&spec), 0); i < total; i++) {
        const Cell* item = block_rs_abs_at(&spec, uint32_t(i));
        switch (type_of(item)) {
        case TYPE_WORD:
            count++;
            seen_word = true;
            break;
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
            // The left operand is already evaluated: it cannot be taken literally.
            if (!seen_word) return false;
            count++;
            break;
        case TYPE_SET_WORD: return count == 2;
        case TYPE_REFINEMENT:
            return count == 2 &&
                   (is_refinement_named(item, rt_refinements.local) || is_refinement_named(item, rt_refinements.extern_));
        default: break;
        }
    }
    return count == 2;
}

namespace {
uint8_t (*op_direct_rule)(uint8_t, uint32_t) = nullptr;
}

void set_op_direct_rule(uint8_t (*rule)(uint8_t wrapped, uint32_t number)) { op_direct_rule = rule; }

uint32_t op_header(const Cell* callable) {
    const uint8_t wrapped = type_of(callable);
    const uint32_t direct = op_direct_rule ? op_direct_rule(wrapped, native_number(callable)) : 0;
    return TYPE_OP | direct << 8 | uint32_t(wrapped) << 16;
}

Cell op_callable(const Cell* op) {
    const uint8_t wrapped = op_wrapped_type(op);
    if (wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE) {
        const Cell* source = callable_extra_cell(op, EXTRA_OP);
        if (type_of(source) == wrapped) return *source;
    }
    Cell c = *op;
    c.header = wrapped;
    return c;
}

Cell* op_make(Cell* proto, Cell* spec, int32_t type) {
    const uint8_t t = type_of(spec);
    if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
        Cell dt;
        make_datatype(&dt, t);
        fire(Err::script_invalid_type, dt);
    }
    const Cell source = *spec;
    const Cell fn_spec = callable_spec(&source);
    if (!op_spec_binary(&fn_spec)) fire(Err::script_bad_op_spec);
    if (t == TYPE_FUNCTION || t == TYPE_ROUTINE) *callable_extra_cell(&source, EXTRA_OP) = source;
    Cell op = source;
    op.header = op_header(&source);
    return stack::push(&op);
}

int32_t op_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    const Cell op = *value;
    const bool function = op_wrapped_type(&op) == TYPE_FUNCTION;
    std::string_view open = function ? "make op! func " : "make op! [";
    string_append_ascii(buffer, open);
    part -= int32_t(open.size());
    Cell spec = callable_spec(&op);
    part = block_mold(&spec, buffer, mold_nested(refs), part, indent);
    if (function) {
        Cell body = *callable_extra_cell(&op, 0);
        if (is_type(&body, TYPE_BLOCK)) part = mold_direct(&body, buffer, mold_nested(refs), part, indent);
    } else {
        string_append_ascii(buffer, "]");
        part--;
    }
    return part;
}

void register_op() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(op_make)
        .inherit(ACT_REFLECT)
        .set<ACT_FORM>(native_form)
        .set<ACT_MOLD>(op_mold)
        .set<ACT_COMPARE>(native_compare);
    register_datatype(TYPE_OP, TYPE_NATIVE, "op!", row);
    collector::set_mark_kind(TYPE_OP, collector::MK_OP);
}

} // namespace kem

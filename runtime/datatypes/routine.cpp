// routine!: the routine table, making routines, arity, text forms and the row.
#include "runtime/datatypes/routine.h"
#include <algorithm>
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

namespace kem {

namespace {

// Entry n is routine_table[n - 1]. Bodies are added at start-up and never removed.
std::vector<RoutineFn> routine_table;

constexpr uint32_t EXTRA_ENTRY = 2;
constexpr uint32_t EXTRA_ARGUMENT = 4;

} // namespace

uint32_t routine_table_add(RoutineFn fn) {
    routine_table.push_back(fn);
    return uint32_t(routine_table.size());
}

RoutineFn routine_entry(const Cell* routine) {
    const Cell* entry = callable_extra_cell(routine, EXTRA_ENTRY);
    if (!is_type(entry, TYPE_INTEGER)) return nullptr;
    const int32_t n = cell_int(entry);
    return n >= 1 && uint32_t(n) <= routine_table.size() ? routine_table[size_t(n) - 1] : nullptr;
}

Cell* routine_push(const Cell* spec_in, const Cell* body_in, uint32_t entry, int32_t extra, bool flag) {
    Cell spec = *spec_in;
    if (series_position(&spec) > 0) {
        block_clone_at(&spec, &spec, false, false);
        set_type(&spec, TYPE_BLOCK);
    }
    const NodeId ctx = context_collect_words(&spec, true, false, CONTEXT_FUNCTION);
    Cell extras;
    block_make_at(&extras, int32_t(FUNCTION_EXTRAS));
    const Cell body = body_in ? *body_in : none_value;
    block_append_cell(&extras, &body);
    block_append_cell(&extras, &unset_value);
    Cell number;
    make_integer(&number, int32_t(entry));
    block_append_cell(&extras, &number);
    block_append_cell(&extras, &unset_value);
    make_integer(&number, extra);
    block_append_cell(&extras, &number);

    Cell routine{TYPE_ROUTINE | (flag ? ROUTINE_CELLS : 0u), ctx, series_node(&spec), series_node(&extras)};
    routine_set_arity(&routine);
    return stack::push(&routine);
}

Cell* routine_register(const Cell* spec, RoutineFn fn) { return routine_push(spec, nullptr, routine_table_add(fn), -1, false); }

uint32_t routine_get_arity(const Cell* routine) { return (routine->header & ROUTINE_ARITY_MASK) >> ROUTINE_ARITY_SHIFT; }

void routine_set_arity(Cell* routine) {
    const Cell spec = callable_spec(routine);
    uint32_t count = 0;
    for (uint32_t i = 0; i < block_full_length(&spec); i++)
        if (is_type(block_rs_abs_at(&spec, i), TYPE_WORD)) count++;
    // Five bits: more would spill into the new-line marker.
    count = std::min(count, ROUTINE_MAX_ARITY);
    routine->header = (routine->header & ~ROUTINE_ARITY_MASK) | (count << ROUTINE_ARITY_SHIFT);
}

int32_t routine_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    string_append_ascii(buffer, "?routine?");
    return part - 9;
}

int32_t routine_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    const Cell routine = *value;
    string_append_ascii(buffer, "routine ");
    part -= 8;
    Cell spec = callable_spec(&routine);
    part = block_mold(&spec, buffer, mold_nested(refs), part, indent);
    Cell body = *callable_extra_cell(&routine, EXTRA_BODY);
    if (!is_type(&body, TYPE_BLOCK)) {
        string_append_ascii(buffer, " ");
        part--;
    }
    return mold_direct(&body, buffer, mold_nested(refs), part, indent);
}

int32_t routine_compare(Cell* value1, Cell* value2, CompareOp op) { return function_compare(value1, value2, op); }

void register_routine() {
    ActionRow row = ActionRow::none_all();
    row.inherit(ACT_REFLECT)
        .set<ACT_FORM>(routine_form)
        .set<ACT_MOLD>(routine_mold)
        .set<ACT_COMPARE>(routine_compare);
    register_datatype(TYPE_ROUTINE, TYPE_FUNCTION, "routine!", row);
    collector::set_mark_kind(TYPE_ROUTINE, collector::MK_FUNCTION);
}

} // namespace kem

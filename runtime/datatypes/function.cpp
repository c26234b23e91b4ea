// function!: making functions, the extras block, argument lists, reflection,
// text forms, comparison and the row.
#include "runtime/datatypes/function.h"
#include <algorithm>
#include <string_view>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/stack_words.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"

namespace kem {

namespace {

bool same_field(int32_t field_symbol, uint32_t symbol) {
    return symbol_resolve(uint32_t(field_symbol)) == symbol_resolve(symbol);
}

// A block value whose position is clamped to its tail.
Cell clamped_block(const Cell* blk) {
    Cell c = *blk;
    int32_t length = int32_t(block_full_length(&c));
    if (series_position(&c) > length) set_series_position(&c, length);
    if (series_position(&c) < 0) set_series_position(&c, 0);
    return c;
}

// The object! value standing for an owner context: the object held in the
// context's self cell, else a plain object! cell over the context.
Cell owner_cell(NodeId owner) {
    const Cell* self = context_self_cell(owner);
    if (is_type(self, TYPE_OBJECT) && self->data1 == owner) return *self;
    return Cell{TYPE_OBJECT, owner, 0, 0};
}

// Spec item `index` of the value that the innermost named frame calls; the
// word <anon> when that value is no callable or cannot be read.
Cell current_call_argument_word(int index) {
    if (!stack::ready()) return rt_words.anon_frame;
    for (CallFrame* f = stack::frames_top; f > stack::frames_bottom;) {
        if (!stack::frame_named(--f)) continue;
        Cell word = stack::frame_word(f);
        try {
            const Cell* value = word_value_cell(&word);
            if (any_callable_type(type_of(value))) {
                Cell spec = callable_spec(value);
                return spec_argument_word(&spec, index);
            }
        } catch (const KemError&) {
            // An error report must not fail over a word it cannot read.
        }
        break;
    }
    return rt_words.anon_frame;
}

// --- argument lists ----------------------------------------------------------------

inline bool named(const Cell* word, uint32_t symbol) { return symbol_resolve(word->data2) == symbol_resolve(symbol); }

// Appends the typeset of the argument at item k: from the type block right
// after it, every type but unset! when there is none or it is empty.
void append_argument(const Cell* list, const Cell* spec, uint32_t k, ArgKind kind) {
    Cell* entry;
    const uint32_t next = k + 1;
    const Cell* types = next < block_full_length(spec) ? block_rs_abs_at(spec, next) : nullptr;
    if (types && is_type(types, TYPE_BLOCK) && block_rs_length(types) > 0) {
        const Cell type_block = *types;
        entry = typeset_from_spec_in(list, &type_block);
    } else {
        entry = typeset_make_in_default(list);
    }
    entry->header = (entry->header & ~ARG_KIND_MASK) | (uint32_t(kind) << ARG_KIND_SHIFT);
}

} // namespace

namespace {
// The body of a function of the system stands for compiled code: its blocks
// are marked, at every depth, so that the evaluator notes no position in them.
void mark_system_code(const Cell* value) {
    if (!any_block_type(type_of(value))) return;
    SeriesBuffer* b = series_buffer(value);
    if (b->flags & SERIES_SYSTEM_CODE) return;
    b->flags |= SERIES_SYSTEM_CODE;
    const Cell block = *value;
    for (uint32_t i = 0, n = block_full_length(&block); i < n; i++) mark_system_code(block_rs_abs_at(&block, i));
}
} // namespace

Cell* function_push(const Cell* spec_in, const Cell* body_in, NodeId ctx, bool system, NodeId owner, uint32_t flags) {
    Cell spec = clamped_block(spec_in);
    if (series_position(&spec) > 0) {
        block_clone_at(&spec, &spec, false, false);
        set_type(&spec, TYPE_BLOCK);
    }
    Cell body{TYPE_NONE, 0, 0, 0};
    if (body_in) {
        Cell source = clamped_block(body_in);
        block_clone_at(&body, &source, true, true);
        if (system) mark_system_code(&body);
    }
    const bool own_context = ctx == 0;
    if (own_context) ctx = context_collect_words(&spec, true, false, CONTEXT_FUNCTION);

    Cell extras;
    block_make_at(&extras, int32_t(FUNCTION_EXTRAS));
    block_append_cell(&extras, &body);
    block_append_cell(&extras, &unset_value);
    block_append_cell(&extras, system ? &true_value : &unset_value);
    block_append_cell(&extras, &unset_value);
    Cell owner_value = owner ? owner_cell(owner) : unset_value;
    block_append_cell(&extras, &owner_value);

    const Cell fn{TYPE_FUNCTION | (flags & (FUNCTION_TRACE | FUNCTION_NO_TRACE)), ctx, series_node(&spec),
                  series_node(&extras)};
    *context_self_cell(ctx) = fn;
    // A prepared context (the library's) already has its body bound.
    if (own_context && body_in) context_bind_block(&body, ctx, false);
    return stack::push(&fn);
}

bool function_is_system(const Cell* fn) {
    const Cell* mark = callable_extra_cell(fn, EXTRA_SYSTEM);
    return is_type(mark, TYPE_LOGIC) && logic_get(mark) == 1;
}

void function_set_system(const Cell* fn, bool system) {
    *callable_extra_cell(fn, EXTRA_SYSTEM) = system ? true_value : unset_value;
}

namespace {
bool system_mode = false;
} // namespace

void function_set_system_mode(bool on) { system_mode = on; }
bool function_system_mode() { return system_mode; }

NodeId function_owner_context(const Cell* fn) {
    const Cell* owner = callable_extra_cell(fn, EXTRA_OWNER);
    return is_type(owner, TYPE_OBJECT) ? owner->data1 : 0;
}

// --- argument lists ----------------------------------------------------------------

Cell function_arg_list(const Cell* spec_in, bool native_kind) {
    const Cell spec = *spec_in;
    const uint32_t total = block_full_length(&spec);
    const uint32_t first = uint32_t(std::clamp<int32_t>(series_position(&spec), 0, int32_t(total)));
    Cell list;
    block_make_at(&list, int32_t(total - first) + 1);
    int32_t refinements = 0;
    for (uint32_t i = first; i < total; i++) {
        const Cell item = *block_rs_abs_at(&spec, i);
        switch (type_of(&item)) {
        case TYPE_WORD: append_argument(&list, &spec, i, ARG_NORMAL); break;
        case TYPE_GET_WORD: append_argument(&list, &spec, i, ARG_GET); break;
        case TYPE_LIT_WORD: append_argument(&list, &spec, i, ARG_LIT); break;
        case TYPE_SET_WORD:
            if (!named(&item, rt_symbols.return_)) fire(Err::script_bad_func_def, item);
            append_argument(&list, &spec, i, ARG_RETURN);
            break;
        case TYPE_REFINEMENT: {
            if (!native_kind && named(&item, rt_refinements.local.data2)) {
                // The locals run up to the next set-word or the end; they take
                // no entries, only their count (with /local's own slot).
                int32_t locals = 1;
                while (i + 1 < total && !is_type(block_rs_abs_at(&spec, i + 1), TYPE_SET_WORD)) {
                    if (is_type(block_rs_abs_at(&spec, i + 1), TYPE_WORD)) locals++;
                    i++;
                }
                Cell count;
                make_integer(&count, locals);
                block_append_cell(&list, &count);
                break;
            }
            Cell refinement = item;
            refinement.header = TYPE_REFINEMENT;
            if (native_kind) refinement.data3 = uint32_t(++refinements);
            block_append_cell(&list, &refinement);
            break;
        }
        default: break;  // doc strings, type blocks and the attribute block
        }
    }
    if (native_kind && refinements > 0) {
        Cell count;
        make_integer(&count, refinements);
        block_append_cell(&list, &count);
    }
    return list;
}

Cell callable_arg_list_build(const Cell* callable_in) {
    const Cell callable = *callable_in;
    uint8_t type = type_of(&callable);
    if (type == TYPE_OP) type = op_wrapped_type(&callable);
    const Cell spec = callable_spec(&callable);
    const Cell list = function_arg_list(&spec, type == TYPE_NATIVE || type == TYPE_ACTION);
    *callable_extra_cell(&callable, EXTRA_ARG_LIST) = list;
    return list;
}

Cell spec_argument_word(const Cell* spec, int index) {
    const Cell blk = *spec;
    const uint32_t total = block_full_length(&blk);
    int n = 0;
    for (uint32_t i = 0; i < total; i++) {
        const Cell* item = block_rs_abs_at(&blk, i);
        const uint8_t t = type_of(item);
        if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_REFINEMENT) continue;
        if (n++ == index) return *item;
    }
    return rt_words.anon_frame;
}

// --- actions -------------------------------------------------------------------------

Cell* function_make(Cell* proto, Cell* spec, int32_t type) {
    if (!is_type(spec, TYPE_BLOCK)) fire(Err::script_bad_func_def, *spec);
    const uint32_t pos = uint32_t(std::max(series_position(spec), 0));
    if (block_full_length(spec) < pos + 2) fire(Err::script_bad_func_def, *spec);
    const Cell fn_spec = *block_rs_abs_at(spec, pos);
    const Cell body = *block_rs_abs_at(spec, pos + 1);
    if (!is_type(&fn_spec, TYPE_BLOCK) || !is_type(&body, TYPE_BLOCK)) fire(Err::script_bad_func_def, *spec);
    uint32_t flags = function_validate(&fn_spec);
    return function_push(&fn_spec, &body, 0, false, 0, flags);
}

Cell* function_reflect(Cell* value, int32_t field_symbol) {
    const Cell fn = *value;
    Cell out;
    if (same_field(field_symbol, rt_symbols.spec)) {
        out = callable_spec(&fn);
    } else if (same_field(field_symbol, rt_symbols.body)) {
        out = *function_body(&fn);
    } else if (same_field(field_symbol, rt_symbols.words)) {
        const NodeId ctx = function_context(&fn);
        const uint32_t count = context_word_count(ctx);
        block_make_at(&out, int32_t(count));
        for (uint32_t i = 0; i < count; i++) {
            // The word list's cells already name the function context and their slot.
            Cell word = *context_word_cell(ctx, i);
            word.header = TYPE_WORD;
            block_append_cell(&out, &word);
        }
    } else {
        fire(Err::internal_not_done);
    }
    return stack::push(&out);
}

int32_t function_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    string_append_ascii(buffer, "?function?");
    return part - 10;
}

int32_t function_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    const Cell fn = *value;
    string_append_ascii(buffer, "func ");
    part -= 5;
    Cell spec = callable_spec(&fn);
    part = block_mold(&spec, buffer, mold_nested(refs), part, indent);
    Cell body = *function_body(&fn);
    if (is_type(&body, TYPE_NONE)) {
        string_append_ascii(buffer, " none");
        return part - 5;
    }
    return mold_direct(&body, buffer, mold_nested(refs), part, indent);
}

int32_t function_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (type_of(value1) != type_of(value2)) return -2;
    if (!compare_unordered(op)) return -2;
    int32_t a = int32_t(callable_extras(value1)), b = int32_t(callable_extras(value2));
    return a < b ? -1 : (a > b ? 1 : 0);
}

void register_function() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(function_make)
        .set<ACT_REFLECT>(function_reflect)
        .set<ACT_FORM>(function_form)
        .set<ACT_MOLD>(function_mold)
        .set<ACT_COMPARE>(function_compare);
    register_datatype(TYPE_FUNCTION, TYPE_CONTEXT, "function!", row);
    collector::set_mark_kind(TYPE_FUNCTION, collector::MK_FUNCTION);
    // Argument checks name the argument from the called value's spec.
    call_argument_word = current_call_argument_word;
}

} // namespace kem

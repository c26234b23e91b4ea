// object!: field access, making objects, class ids, copying and construct.
//
// Contexts are kept by node id and values by index: copying a series or
// re-making a function allocates, so value cells are re-derived after it.
#include "runtime/datatypes/object.h"
#include <algorithm>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"

namespace kem {

namespace {

uint32_t class_counter = FIRST_CLASS_ID;

inline Cell* value_at(NodeId ctx, uint32_t i) { return context_value_slot(ctx, i); }

// The series kinds copying replaces by deep copies.
bool copied_series(uint8_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH) || any_string_type(t);
}
// extend and copy-series-from treat these as series too.
bool copied_series_wide(uint8_t t) {
    return copied_series(t) || t == TYPE_HASH || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_IMAGE;
}

// A deep copy of the series value through the copy action.
Cell deep_copy(const Cell& value) {
    Cell* saved_top = stack::top;
    Cell source = value;
    Cell* result = stack::push_slot();
    make_unset(result);
    const Cell copy = *copy_direct(&source, result, CopyArgs{.deep = true});
    stack::top = saved_top;
    return copy;
}

bool logic_symbol(uint32_t symbol, const uint32_t* names, int n) {
    const uint32_t s = symbol_resolve(symbol);
    for (int i = 0; i < n; i++)
        if (s == symbol_resolve(names[i])) return true;
    return false;
}

} // namespace

// --- fields ----------------------------------------------------------------------

Cell* object_word_at(NodeId ctx, uint32_t index) { return context_word_cell(ctx, index); }

int32_t object_get_word_index(const Cell* obj, const Cell* word) {
    return object_field_index(object_context(obj), word->data2);
}

namespace {

// Word lists only grow and never reorder, so an index found for a symbol
// stays right for as long as the word list lives; the word found there is
// checked again on every hit all the same.
struct FieldCacheEntry {
    NodeId words;
    uint32_t symbol;
    uint32_t index;
    uint32_t found;  // the symbol of the word at index
};
constexpr uint32_t FIELD_CACHE_SIZE = 1024;
FieldCacheEntry field_cache[FIELD_CACHE_SIZE];

} // namespace

int32_t object_field_index(NodeId ctx, uint32_t symbol) {
    const NodeId words = context_symbols(ctx);
    FieldCacheEntry& e = field_cache[(words * 2654435761u ^ symbol) % FIELD_CACHE_SIZE];
    if (e.words == words && e.symbol == symbol && e.index < context_word_count(ctx) &&
        context_word_cell(ctx, e.index)->data2 == e.found)
        return int32_t(e.index);
    const int32_t index = context_find_word(ctx, symbol, true);
    if (index >= 0) e = FieldCacheEntry{words, symbol, uint32_t(index), context_word_cell(ctx, uint32_t(index))->data2};
    return index;
}

void object_field_cache_clear() {
    for (FieldCacheEntry& e : field_cache) e = FieldCacheEntry{};
}

const Cell* object_rs_select(const Cell* obj, const Cell* word) {
    const int32_t i = object_get_word_index(obj, word);
    return i < 0 ? &none_value : value_at(object_context(obj), uint32_t(i));
}

uint32_t object_count_words(const Cell* obj) { return context_word_count(object_context(obj)); }

bool object_unchanged_q(const Cell* word, uint32_t class_id) {
    const Cell* v = context_value_slot_checked(word->data1, word->data3);
    return v && is_type(v, TYPE_OBJECT) && object_class_id(v) == class_id;
}

void object_clear_changed(NodeId ctx) {
    for (uint32_t i = 0; i < context_word_count(ctx); i++) context_word_cell(ctx, i)->header &= ~WORD_CHANGED;
}

void clear_new_lines(NodeId series) {
    SeriesBuffer* b = node_buffer(series);
    for (Cell* c = b->cell_head(); c < b->cell_tail(); c++) clear_new_line(c);
}

// --- making ----------------------------------------------------------------------

uint32_t object_next_class_id() { return ++class_counter; }

Cell* object_push(NodeId ctx, NodeId on_set, uint32_t class_id) {
    const Cell obj{TYPE_OBJECT, ctx, class_id, on_set};
    *context_self_cell(ctx) = obj;
    return stack::push(&obj);
}

Cell* object_make_at(Cell* c, uint32_t size) {
    const NodeId ctx = context_make(size, false, false, 0, CONTEXT_OBJECT);
    *c = Cell{TYPE_OBJECT, ctx, 0, 0};
    *context_self_cell(ctx) = *c;
    return c;
}

void object_rebind_functions(NodeId holder, uint32_t index, NodeId ctx) {
    const Cell fn = *value_at(holder, index);
    const Cell body = *function_body(&fn);
    if (!is_type(&body, TYPE_BLOCK)) fire(Err::script_bad_func_def, callable_spec(&fn));
    Cell copy;
    block_clone_at(&copy, &body, true, true);
    context_bind_block(&copy, ctx, true);
    // A copy of the function's own context, so the two functions' calls keep apart.
    const NodeId old_ctx = function_context(&fn);
    const NodeId fn_ctx = context_make(context_word_count(old_ctx), true,
                                       (context_cell(old_ctx)->header & CONTEXT_MAKER_FLAG) != 0, old_ctx,
                                       CONTEXT_FUNCTION);
    context_bind_block(&copy, fn_ctx, false);
    const Cell spec = callable_spec(&fn);
    Cell* saved_top = stack::top;
    const Cell made = *function_push(&spec, &copy, fn_ctx, function_is_system(&fn),
                                     function_owner_context(&fn) ? ctx : 0, function_flags(&fn));
    stack::top = saved_top;
    *value_at(holder, index) = made;
}

Cell* object_clone(const Cell* source_in, Cell* dst, bool deep, Cell* types, bool fresh_handlers) {
    const Cell source = *source_in;
    const NodeId from = object_context(&source);
    const uint32_t n = context_word_count(from);
    const NodeId ctx = context_make(n, false, false, from, context_kind(from));
    for (uint32_t i = 0; i < n; i++) *value_at(ctx, i) = *value_at(from, i);
    Cell obj{type_of(&source), ctx, object_class_id(&source), fresh_handlers ? 0 : object_on_set(&source)};
    *context_self_cell(ctx) = obj;
    *dst = obj;

    if (deep && !types) {
        for (uint32_t i = 0; i < n; i++) {
            const Cell v = *value_at(ctx, i);
            if (copied_series(type_of(&v))) {
                const Cell copy = deep_copy(v);
                *value_at(ctx, i) = copy;
            } else if (is_type(&v, TYPE_FUNCTION)) {
                object_rebind_functions(ctx, i, ctx);
            }
        }
    } else {
        for (uint32_t i = 0; i < n; i++)
            if (is_type(value_at(ctx, i), TYPE_FUNCTION)) object_rebind_functions(ctx, i, ctx);
        if (types) {
            CycleScope open;
            if (deep) {
                if (cycle_find(from)) {
                    cycle_reset();
                    fire(Err::internal_no_cycle);
                }
                open.push(from);
            }
            block_copy_types(context_cell(ctx)->data2, 0, n, 1, deep, types);
        }
    }
    if (fresh_handlers) object_init_events(dst);
    return dst;
}

bool object_extend_from(NodeId ctx, const Cell* source_in) {
    const Cell source = *source_in;
    const NodeId from = object_context(&source);
    const uint32_t before = context_word_count(ctx);
    for (uint32_t i = 0; i < context_word_count(from); i++) {
        const Cell word = *context_word_cell(from, i);
        Cell v = *value_at(from, i);
        if (copied_series_wide(type_of(&v))) v = deep_copy(v);
        context_add_with_value(ctx, &word, &v);
        if (is_type(&v, TYPE_FUNCTION)) object_rebind_functions(ctx, uint32_t(context_add_word(ctx, &word)), ctx);
    }
    return context_word_count(ctx) > before;
}

void object_copy_series_from(NodeId src, NodeId dst, bool all) {
    const uint32_t n = std::min(context_word_count(src), context_word_count(dst));
    for (uint32_t i = 0; i < n; i++) {
        Cell v = *value_at(src, i);
        const uint8_t t = type_of(&v);
        if (copied_series_wide(t)) {
            v = deep_copy(v);
            if (any_block_type(t)) context_bind_block(&v, dst, true);
            *value_at(dst, i) = v;
        } else if (all) {
            *value_at(dst, i) = v;
        }
    }
}

bool object_construct_fields(NodeId ctx, const Cell* spec_in, bool only) {
    const Cell spec = *spec_in;
    const uint32_t before = context_word_count(ctx);
    const uint32_t yes[3] = {rt_symbols.true_, rt_symbols.yes, rt_symbols.on};
    const uint32_t no[3] = {rt_symbols.false_, rt_symbols.no, rt_symbols.off};
    const uint32_t total = block_full_length(&spec);
    for (uint32_t i = uint32_t(std::max(series_position(&spec), 0)); i < total; i++) {
        const Cell word = *block_rs_abs_at(&spec, i);
        if (!is_type(&word, TYPE_SET_WORD)) continue;
        // Set-words in a row share the value that follows them.
        uint32_t j = i + 1;
        while (j < total && is_type(block_rs_abs_at(&spec, j), TYPE_SET_WORD)) j++;
        Cell v = j < total ? *block_rs_abs_at(&spec, j) : none_value;
        if (!only && is_type(&v, TYPE_WORD)) {
            if (logic_symbol(v.data2, yes, 3)) v = true_value;
            else if (logic_symbol(v.data2, no, 3)) v = false_value;
            else if (symbol_resolve(v.data2) == symbol_resolve(rt_symbols.none_)) v = none_value;
        }
        clear_new_line(&v);
        context_add_with_value(ctx, &word, &v);
    }
    return context_word_count(ctx) > before;
}

Cell* object_construct(const Cell* spec_in, const Cell* proto, bool only) {
    const Cell spec = *spec_in;
    Cell* out = stack::push_slot();
    make_unset(out);
    if (proto) {
        const Cell p = *proto;
        object_clone(&p, out, true, nullptr, true);
    } else {
        object_make_at(out, 4);
        out->data2 = object_next_class_id();
    }
    object_construct_fields(object_context(out), &spec, only);
    *context_self_cell(object_context(out)) = *out;
    return out;
}

} // namespace kem

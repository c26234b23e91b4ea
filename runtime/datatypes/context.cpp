// context!: making contexts, finding and adding words, setting values and
// binding blocks.
#include "runtime/datatypes/context.h"
#include <algorithm>
#include "runtime/collector/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace kem {

NodeId global_context = 0;
uint32_t self_symbol = 0;
void (*context_on_change)(Cell* object, Cell* word, Cell* old_value, Cell* new_value) = nullptr;

namespace {

// Position of the symbol's word in the word list, or -1.
inline int32_t find_position(NodeId ctx, uint32_t symbol, bool caseless) {
    return hash_symbol_find(context_table(ctx), symbol, caseless, 0, nullptr);
}

inline int32_t slot_at(NodeId ctx, int32_t position) {
    return static_cast<int32_t>(context_word_cell(ctx, uint32_t(position))->data3);
}

// Adds a word for a symbol the caller found absent; returns its position.
// A values series grows with the word list, so every bound word has a slot.
int32_t add_symbol(NodeId ctx, uint32_t symbol) {
    // A new spelling of a global name takes the slot of the spellings before it.
    int32_t shared = -1;
    if (ctx == global_context && symbol_alias_of(symbol) > 0) {
        int32_t p = find_position(ctx, symbol, true);
        if (p >= 0) shared = slot_at(ctx, p);
    }
    int32_t position = -1;
    SeriesBuffer* const words_before = node_buffer(context_symbols(ctx));
    hash_symbol_find(context_table(ctx), symbol, false, ctx, &position);
    // Word cells cached from a word list that moved are stale.
    if (node_buffer(context_symbols(ctx)) != words_before) advance_cache_epoch();
    if (shared >= 0) context_word_cell(ctx, uint32_t(position))->data3 = uint32_t(shared);
    if (!context_values_on_stack(ctx)) {
        if (NodeId values = context_cell(ctx)->data2) {
            SeriesBuffer* before = node_buffer(values);
            alloc_tail(before);
            // Slots cached from values that moved are stale.
            if (node_buffer(values) != before) advance_cache_epoch();
        }
    }
    return position;
}

Cell unbound_word(uint32_t symbol) { return Cell{TYPE_WORD, global_context, symbol, 0xFFFFFFFF}; }

// The slot of a value cell that must exist: no-value names the symbol otherwise.
Cell* existing_slot(NodeId ctx, uint32_t symbol) {
    int32_t p = find_position(ctx, symbol, true);
    if (p < 0) fire(Err::script_no_value, unbound_word(symbol));
    return context_value_slot(ctx, uint32_t(slot_at(ctx, p)));
}

inline bool bound_kind(uint8_t t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }

inline bool nested_kind(uint8_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}

} // namespace

void context_global_init(uint32_t n) {
    if (global_context) return;
    global_context = context_make(n, false, false, 0, CONTEXT_GLOBAL);
    // Words bound to it are copied into C++ tables and statics all over.
    node_keep_in_place(global_context);
    collector::add_layer_root("global context", [] { collector::mark_context(&global_context); });
    self_symbol = symbol_make("self");
}

// --- making -------------------------------------------------------------------------

NodeId context_make(uint32_t n, bool on_stack, bool maker_flag, NodeId source, uint32_t kind) {
    if (n == 0) n = 1;
    NodeId ctx = alloc_cells(2);
    SeriesBuffer* b = node_buffer(ctx);
    b->tail = b->head + 2 * sizeof(Cell);
    uint32_t header = TYPE_CONTEXT | ((kind << CONTEXT_KIND_SHIFT) & CONTEXT_KIND_MASK);
    if (on_stack) header |= CONTEXT_VALUES_ON_STACK;
    if (maker_flag) header |= CONTEXT_MAKER_FLAG;
    b->cell_head()[0] = Cell{header, 0, 0, 0};
    make_unset(b->cell_head() + 1);

    NodeId table = source ? hash_copy_symbols(context_table(source)) : hash_make(n, nullptr, HASH_SYMBOLS, 0);
    context_cell(ctx)->data1 = table;
    uint32_t words = context_word_count(ctx);
    for (uint32_t i = 0; i < words; i++) context_word_cell(ctx, i)->data1 = ctx;
    if (!on_stack) {
        NodeId values = alloc_unset_cells(std::max(n, words));
        SeriesBuffer* v = node_buffer(values);
        v->tail = v->head + words * uint32_t(sizeof(Cell));
        context_cell(ctx)->data2 = values;
    }
    return ctx;
}

NodeId context_clone(Cell* object, uint32_t kind) {
    NodeId old = object->data1;
    uint32_t header = context_cell(old)->header;
    NodeId ctx = context_make(context_word_count(old), (header & CONTEXT_VALUES_ON_STACK) != 0,
                              (header & CONTEXT_MAKER_FLAG) != 0, old, kind);
    object->data1 = ctx;
    return ctx;
}

NodeId context_collect_words(const Cell* spec, bool on_stack, bool maker_flag, uint32_t kind) {
    const Cell block = *spec;
    const uint32_t total = block_full_length(&block);
    const uint32_t first = uint32_t(std::clamp<int32_t>(series_position(&block), 0, int32_t(total)));
    NodeId ctx = context_make(total - first, on_stack, maker_flag, 0, kind);
    for (uint32_t i = first; i < total; i++) {
        Cell item = *block_rs_abs_at(&block, i);
        uint8_t t = type_of(&item);
        if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT)
            context_find_or_add(ctx, item.data2, true, nullptr);
    }
    return ctx;
}

// --- lookup and adding --------------------------------------------------------------

int32_t context_find_word(NodeId ctx, uint32_t symbol, bool caseless) {
    int32_t p = find_position(ctx, symbol, caseless);
    return p < 0 ? -1 : slot_at(ctx, p);
}

int32_t context_find_or_add(NodeId ctx, uint32_t symbol, bool caseless, int32_t* out) {
    int32_t p = find_position(ctx, symbol, caseless);
    if (p >= 0) {
        int32_t slot = slot_at(ctx, p);
        if (out) *out = slot;
        return slot;
    }
    int32_t slot = slot_at(ctx, add_symbol(ctx, symbol));
    if (out) *out = slot;
    return -1;
}

int32_t context_add_word(NodeId ctx, const Cell* word) {
    int32_t slot;
    context_find_or_add(ctx, word->data2, true, &slot);
    return slot;
}

Cell* context_add_with_value(NodeId ctx, const Cell* word, const Cell* value) {
    const Cell v = *value;  // the value may lie in the values series that grows
    int32_t slot = context_add_word(ctx, word);
    Cell* c = context_value_slot(ctx, uint32_t(slot));
    if (c) *c = v;
    return c;
}

Cell* context_add_if_new(NodeId ctx, const Cell* word, const Cell* value) {
    const Cell v = *value;
    int32_t slot;
    if (context_find_or_add(ctx, word->data2, true, &slot) >= 0) return nullptr;
    Cell* c = context_value_slot(ctx, uint32_t(slot));
    if (c) *c = v;
    return c;
}

bool context_collect_set_words(NodeId ctx, Cell* block) {
    const uint32_t total = block_full_length(block);
    if (series_position(block) > int32_t(total)) set_series_position(block, total);
    const uint32_t before = context_word_count(ctx);
    for (uint32_t i = uint32_t(std::max(series_position(block), 0)); i < block_full_length(block); i++) {
        Cell item = *block_rs_abs_at(block, i);
        if (is_type(&item, TYPE_SET_WORD)) context_add_word(ctx, &item);
    }
    return context_word_count(ctx) > before;
}

// --- the global context ---------------------------------------------------------------

Cell context_global_slot(uint32_t symbol, bool caseless, bool copy) {
    int32_t p = find_position(global_context, symbol, caseless);
    if (p < 0) return *context_word_cell(global_context, uint32_t(add_symbol(global_context, symbol)));
    Cell word = *context_word_cell(global_context, uint32_t(p));
    // A copy keeps its own spelling and the variant's slot.
    if (caseless && copy) word.data2 = symbol;
    return word;
}

Cell context_add_global(uint32_t symbol) {
    Cell word = context_global_slot(symbol, false, true);
    if (startup_word_mode) word_record(&word);
    return word;
}

void context_set_global(uint32_t symbol, const Cell* value) {
    const Cell v = *value;
    int32_t slot = context_find_word(global_context, symbol, false);
    if (slot < 0) slot = static_cast<int32_t>(context_add_global(symbol).data3);
    *context_value_slot(global_context, uint32_t(slot)) = v;
}

Cell* context_global_value_cell(uint32_t symbol) { return existing_slot(global_context, symbol); }

Cell* context_symbol_value_cell(uint32_t symbol, NodeId ctx) {
    return existing_slot(context_values_on_stack(ctx) ? global_context : ctx, symbol);
}

Cell context_symbol_cell_or_global(NodeId ctx, uint32_t symbol) {
    int32_t p = find_position(ctx, symbol, false);
    if (p >= 0) return *context_word_cell(ctx, uint32_t(p));
    return context_add_global(symbol);
}

// --- setting ----------------------------------------------------------------------------

Cell* context_set_in(Cell* word, const Cell* value, NodeId ctx, bool notify) {
    const Cell v = *value;  // adding the word may move the buffer the value is in
    if (!ctx) fire(Err::script_not_defined, *word);
    int32_t index = static_cast<int32_t>(word->data3);
    if (index < 0) {
        index = context_find_word(ctx, word->data2, false);
        if (index < 0) index = context_add_word(ctx, word);
        word->data3 = uint32_t(index);
    }
    Cell* slot = context_value_slot_checked(ctx, uint32_t(index));
    if (!slot) fire(Err::script_not_defined, *word);
    if (context_values_on_stack(ctx) || context_kind(ctx) != CONTEXT_OBJECT) {
        *slot = v;
        return slot;
    }
    context_word_cell(ctx, uint32_t(index))->header |= WORD_CHANGED;
    const Cell* self = context_self_cell(ctx);
    if (!notify || !self->data3 || !context_on_change) {
        *slot = v;
        return slot;
    }
    // The handler runs Kem code: everything it is given sits on the data stack.
    Cell* saved_top = stack::top;
    Cell* object = stack::push(self);
    Cell* field = stack::push(word);
    Cell* old_value = stack::push(slot);
    *slot = v;
    Cell* new_value = stack::push(&v);
    context_on_change(object, field, old_value, new_value);
    stack::top = saved_top;
    return context_value_slot(ctx, uint32_t(index));
}

// --- binding --------------------------------------------------------------------------

int32_t context_bind_word(NodeId ctx, Cell* word) {
    int32_t p = find_position(ctx, word->data2, true);
    if (p < 0) return -1;
    int32_t slot = slot_at(ctx, p);
    word->data1 = ctx;
    word->data3 = uint32_t(slot);
    return slot;
}

namespace {

// The slots of the symbols one binding met last, by their low bits: a body
// names the same words again and again, and each lookup in the context's
// table costs far more than this check. Binding adds no words, so what the
// table answered stays true for the whole binding.
struct BindCache {
    static constexpr uint32_t SIZE = 64;
    uint32_t symbol[SIZE] = {};  // 0 names no symbol
    int32_t slot[SIZE];
};

int32_t cached_slot(NodeId ctx, uint32_t symbol, BindCache& cache) {
    const uint32_t k = symbol & (BindCache::SIZE - 1);
    if (cache.symbol[k] == symbol) return cache.slot[k];
    const int32_t p = find_position(ctx, symbol, true);
    cache.symbol[k] = symbol;
    return cache.slot[k] = p < 0 ? -1 : slot_at(ctx, p);
}

// Binding only reads the context's tables and writes words in place: nothing
// allocates, so the cell pointers stay good throughout.
void bind_cells(Cell* block, NodeId ctx, bool self, BindCache& cache) {
    const NodeId node = series_node(block);
    if (cycle_find(node)) return;
    CycleScope open(node);
    SeriesBuffer* b = node_buffer(node);
    series_changed(b);
    Cell* const head = b->cell_head();
    const uint32_t total = b->used() / uint32_t(sizeof(Cell));
    for (uint32_t i = uint32_t(std::max(series_position(block), 0)); i < total; i++) {
        Cell* c = head + i;
        uint8_t t = type_of(c);
        if (nested_kind(t)) {
            bind_cells(c, ctx, self, cache);
        } else if (bound_kind(t)) {
            if (self && t == TYPE_WORD && c->data2 == self_symbol) {
                c->data1 = ctx;
                c->data3 = 0xFFFFFFFF;
            } else if (const int32_t slot = cached_slot(ctx, c->data2, cache); slot >= 0) {
                c->data1 = ctx;
                c->data3 = uint32_t(slot);
            }
        }
    }
}

} // namespace

Cell* context_bind_block(Cell* block, NodeId ctx, bool self) {
    BindCache cache;
    bind_cells(block, ctx, self, cache);
    return block;
}

void register_context() {
    register_datatype(TYPE_CONTEXT, 0, "context!", ActionRow::none_all());
    collector::set_mark_kind(TYPE_CONTEXT, collector::MK_CONTEXT);
}

} // namespace kem

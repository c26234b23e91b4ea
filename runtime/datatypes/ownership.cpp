// Series ownership: linking the series reachable from a reactive object's
// fields to the object, and telling the object of changes inside them.
//
// Every walk works by node id and cell index: hash_put may allocate, so cell
// pointers are re-derived after each step.
#include "runtime/datatypes/ownership.h"
#include <algorithm>
#include "runtime/collector/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/platform/exit.h"
#include "runtime/services/hashtable.h"

namespace kem {

NodeId ownership_table = 0;

namespace {

constexpr uint32_t TABLE_SIZE = 1000;

// Values whose cells are walked into: their nested values belong to the owner too.
inline bool walked_kind(uint8_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}
// Values recorded in the table (walked ones included).
inline bool owned_kind(uint8_t t) { return any_series_type(t) || t == TYPE_BITSET; }

inline SeriesBuffer* buffer_of(const Cell* v) { return node_buffer(series_node(v)); }

void bind_value(const Cell* value_in, const Cell& owner, const Cell& word);

// Binds the cells of a walked series from its head index to its tail.
void bind_cells(const Cell& series, const Cell& owner, const Cell& word) {
    const NodeId node = series_node(&series);
    if (cycle_find(node)) return;
    CycleScope open(node);
    for (uint32_t i = uint32_t(std::max(series_position(&series), 0));; i++) {
        SeriesBuffer* b = node_buffer(node);
        if (i >= b->used() / sizeof(Cell)) break;
        const Cell item = b->cell_head()[i];
        bind_value(&item, owner, word);
    }
}

void bind_value(const Cell* value_in, const Cell& owner, const Cell& word) {
    const Cell value = *value_in;
    const uint8_t t = type_of(&value);
    if (owned_kind(t)) {
        SeriesBuffer* b = buffer_of(&value);
        if (!(b->flags & SERIES_OWNED)) {
            b->flags |= SERIES_OWNED;
            Cell* entry = hash_put(ownership_table, series_node(&value));
            entry[0] = value;
            entry[1] = owner;
            entry[2] = word;
        }
        if (walked_kind(t)) bind_cells(value, owner, word);
        return;
    }
    if (!any_object_type(t)) return;
    const NodeId ctx = object_context(&value);
    if ((context_cell(ctx)->header & CONTEXT_OWNER_FLAG) || cycle_find(ctx)) return;
    CycleScope open(ctx);
    for (uint32_t i = 0; i < context_word_count(ctx); i++) {
        const Cell item = *context_value_slot(ctx, i);
        // The owner met again inside itself is not its own series.
        if (any_object_type(type_of(&item)) && object_context(&item) == object_context(&owner)) continue;
        Cell field = *context_word_cell(ctx, i);
        field.header &= ~WORD_CHANGED;
        bind_value(&item, owner, field);
    }
}

void unbind_value(const Cell* value_in) {
    const Cell value = *value_in;
    const uint8_t t = type_of(&value);
    if (owned_kind(t)) {
        buffer_of(&value)->flags &= ~SERIES_OWNED;
        if (!ownership_table) return;
        const NodeId node = series_node(&value);
        Cell* entry = hash_get(ownership_table, node);
        if (!entry) return;
        make_unset(entry);
        make_unset(entry + 1);
        make_unset(entry + 2);
        hash_remove_key(ownership_table, node);
        // The entry is gone before the walk, so a block inside itself stops here.
        if (walked_kind(t))
            for (uint32_t i = uint32_t(std::max(series_position(&value), 0)); i < buffer_of(&value)->used() / 16; i++) {
                const Cell item = buffer_of(&value)->cell_head()[i];
                unbind_value(&item);
            }
        return;
    }
    if (!any_object_type(t)) return;
    const NodeId ctx = object_context(&value);
    // An object that owns series of its own keeps them.
    if ((context_cell(ctx)->header & CONTEXT_OWNER_FLAG) || cycle_find(ctx)) return;
    CycleScope open(ctx);
    for (uint32_t i = 0; i < context_word_count(ctx); i++) {
        const Cell item = *context_value_slot(ctx, i);
        unbind_value(&item);
    }
}

// The node a value is keyed under.
NodeId key_of(const Cell* value) {
    const uint8_t t = type_of(value);
    if (owned_kind(t)) return series_node(value);
    if (any_object_type(t)) return object_context(value);
    report_runtime_error(100, nullptr);
}

} // namespace

void ownership_init() {
    if (ownership_table) return;
    ownership_table = hash_make(TABLE_SIZE, nullptr, HASH_OWNERSHIP, 3);
    // Entries whose series or owner died go once marking is done.
    collector::add_layer_root(
        "ownership table", [] { collector::mark_table(&ownership_table); },
        [] { hash_sweep(ownership_table, collector::forward_values); });
}

void ownership_bind(const Cell* value, const Cell* owner_in, const Cell* word_in) {
    ownership_init();
    const Cell owner = *owner_in;
    const Cell word = *word_in;
    bind_value(value, owner, word);
    context_cell(object_context(&owner))->header |= CONTEXT_OWNER_FLAG;
}

void ownership_unbind(const Cell* value) { unbind_value(value); }

Cell* ownership_find_owner(NodeId node) {
    if (!ownership_table) return nullptr;
    Cell* entry = hash_get(ownership_table, node);
    return entry ? entry + 1 : nullptr;
}

void ownership_reflect_owned(const Cell* value, Cell* out) {
    const Cell* entry = ownership_find_owner(key_of(value));
    *out = entry ? entry[0] : none_value;
}

void ownership_modify_owned(const Cell* value_in, const Cell* spec_in) {
    const Cell value = *value_in;
    const Cell spec = *spec_in;
    if (is_type(&spec, TYPE_NONE)) {
        ownership_unbind(&value);
        return;
    }
    if (!is_type(&spec, TYPE_BLOCK) || block_rs_length(&spec) < 2) return;
    const uint32_t at = uint32_t(series_position(&spec));
    const Cell owner = *block_rs_abs_at(&spec, at);
    const Cell word = *block_rs_abs_at(&spec, at + 1);
    // Only an object can be told of changes, and only under a field word.
    if (!any_object_type(type_of(&owner)) || !any_word_type(type_of(&word))) return;
    ownership_bind(&value, &owner, &word);
}

bool ownership_check(const Cell* value, const Cell* action, const Cell* new_value, int32_t index, int32_t part) {
    const NodeId node = key_of(value);
    const Cell* entry = ownership_find_owner(node);
    if (!entry || !object_on_set(entry)) return false;
    // The handler may add entries and move the table: nothing is read from it after the call.
    const Cell owner = entry[0];
    const Cell word = entry[1];
    const Cell target = *value;
    const Cell act = *action;
    const Cell added = new_value ? *new_value : none_value;
    object_call_on_deep_change(&owner, &word, &target, &act, &added, index, part);
    return true;
}

// --- series actions ---------------------------------------------------------------

namespace {

Cell action_word(ChangeWord w) {
    switch (w) {
    case ChangeWord::append: return rt_words.append;
    case ChangeWord::appended: return rt_words.appended;
    case ChangeWord::insert: return context_global_slot(rt_symbols.insert, false, false);
    case ChangeWord::inserted: return rt_words.inserted;
    case ChangeWord::change: return rt_words.change;
    case ChangeWord::changed: return rt_words.changed;
    case ChangeWord::clear: return rt_words.clear;
    case ChangeWord::cleared: return rt_words.cleared;
    case ChangeWord::move: return rt_words.move;
    case ChangeWord::moved: return rt_words.moved;
    case ChangeWord::poke: return rt_words.poke;
    case ChangeWord::poked: return rt_words.poked;
    case ChangeWord::put: return rt_words.put;
    case ChangeWord::put_ed: return rt_words.put_ed;
    case ChangeWord::remove: return context_global_slot(rt_symbols.remove, false, false);
    case ChangeWord::removed: return rt_words.removed;
    case ChangeWord::random: return rt_words.random;
    case ChangeWord::randomized: return rt_words.randomized;
    case ChangeWord::reverse: return rt_words.reverse;
    case ChangeWord::reversed: return rt_words.reversed;
    case ChangeWord::sort: return rt_words.sort;
    case ChangeWord::sorted: return rt_words.sorted;
    case ChangeWord::swap: return rt_words.swap;
    case ChangeWord::swaped: return rt_words.swaped;
    case ChangeWord::take: return rt_words.take;
    case ChangeWord::taken: return rt_words.taken;
    case ChangeWord::trim: return rt_words.trim;
    case ChangeWord::trimmed: return rt_words.trimmed;
    case ChangeWord::uppercase: return rt_words.uppercase;
    case ChangeWord::lowercase: return rt_words.lowercase;
    }
    return none_value;
}

} // namespace

bool ownership_check_change(const Cell* series, ChangeWord word, const Cell* value, int32_t index, int32_t part) {
    const Cell action = action_word(word);
    return ownership_check(series, &action, value, index, part);
}

} // namespace kem

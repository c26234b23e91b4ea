// context!: word tables that map words to value slots.
//
// A context is a node whose buffer holds two cells:
//   0. the context! cell: header type 14, the kind in bits 11-12, the maker's
//      flag in bit 24 and the values-on-stack flag in bit 22; payload word 1 the
//      node of its symbols hash table (kind 2), whose key block is the word
//      list; word 2 the node of the values series, or for values on the data
//      stack the stack cell index of value 0 plus 1 (0: no call running);
//   1. the self cell: unset, or the object! value of an object's context.
// Word n of the word list is a word! bound to the context, and its index field
// names its value slot. Words are never removed. A context whose values are a
// series keeps exactly one value cell per word.
//
// In the global context every spelling of a name that differs only in letter
// case has its own word, and all of them share the value slot of the first.
//
// Contexts are passed by node id: their buffer may move at a collection.
// Returned cell pointers are good until the next allocation.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/services/hashtable.h"

namespace kem {

constexpr uint32_t GLOBAL_CONTEXT_SIZE = 4000;

constexpr uint32_t CONTEXT_MAKER_FLAG = 0x1000000;
constexpr uint32_t CONTEXT_KIND_SHIFT = 11;
constexpr uint32_t CONTEXT_KIND_MASK = 0x1800;
// Header bit of a word in an object's word list: the field was assigned.
constexpr uint32_t WORD_CHANGED = 0x2000;

enum ContextKind : uint32_t { CONTEXT_GLOBAL = 0, CONTEXT_FUNCTION = 1, CONTEXT_OBJECT = 2 };

// The global context (0 until context_global_init) and the symbol of `self`.
extern NodeId global_context;
extern uint32_t self_symbol;

// Makes the global context for n words and interns `self`; the symbol table
// must exist. Once only.
void context_global_init(uint32_t n = GLOBAL_CONTEXT_SIZE);

// --- accessors ---------------------------------------------------------------

inline Cell* context_cell(NodeId ctx) { return node_buffer(ctx)->cell_head(); }
inline Cell* context_self_cell(NodeId ctx) { return node_buffer(ctx)->cell_head() + 1; }
inline uint32_t context_kind(NodeId ctx) { return (context_cell(ctx)->header & CONTEXT_KIND_MASK) >> CONTEXT_KIND_SHIFT; }
inline NodeId context_table(NodeId ctx) { return context_cell(ctx)->data1; }
// The node of the word list.
inline NodeId context_symbols(NodeId ctx) { return hash_record(context_table(ctx))->block; }
inline uint32_t context_word_count(NodeId ctx) { return node_buffer(context_symbols(ctx))->used() / 16; }
// Word n of the word list (no check).
inline Cell* context_word_cell(NodeId ctx, uint32_t n) { return node_buffer(context_symbols(ctx))->cell_head() + n; }
// Whether the context has values at all: a values series, or a running call.
inline bool context_has_values(NodeId ctx) { return context_cell(ctx)->data2 != 0; }
// Value slot n, on the data stack or in the values series; nullptr when the
// context has no values (no check of n).
inline Cell* context_value_slot(NodeId ctx, uint32_t n) {
    const Cell* c = context_cell(ctx);
    if (!c->data2) return nullptr;
    if (c->header & CONTEXT_VALUES_ON_STACK) return stack::bottom + (c->data2 - 1) + n;
    return node_buffer(c->data2)->cell_head() + n;
}
// The same, also nullptr when n lies past the last value of a values series:
// a word bound elsewhere must not reach beyond this context's values.
inline Cell* context_value_slot_checked(NodeId ctx, uint32_t n) {
    const Cell* c = context_cell(ctx);
    if (!c->data2) return nullptr;
    if (c->header & CONTEXT_VALUES_ON_STACK) return stack::bottom + (c->data2 - 1) + n;
    SeriesBuffer* values = node_buffer(c->data2);
    return n < values->used() / sizeof(Cell) ? values->cell_head() + n : nullptr;
}

// The slot a set-word's value goes straight into: the word's slot, unless
// the word is unbound, outside its context's values, or a field of an object
// with a change handler (then nullptr, and the full store must run). An
// object's field is marked as assigned here.
inline Cell* context_store_slot(const Cell* word) {
    const NodeId ctx = word->data1;
    const int32_t index = static_cast<int32_t>(word->data3);
    if (!ctx || index < 0) return nullptr;
    Cell* slot = context_value_slot_checked(ctx, uint32_t(index));
    if (!slot || context_values_on_stack(ctx) || context_kind(ctx) != CONTEXT_OBJECT) return slot;
    if (context_self_cell(ctx)->data3) return nullptr;
    context_word_cell(ctx, uint32_t(index))->header |= WORD_CHANGED;
    return slot;
}

// --- making ---------------------------------------------------------------------

// A context for n words (0 counts as 1) of the given kind. With a source
// context its words are copied and rebound to the new context (values unset).
NodeId context_make(uint32_t n, bool on_stack, bool maker_flag, NodeId source, uint32_t kind);
// A copy of an object's context: same words rebound, values unset; the new
// node goes into the object cell's context field (payload word 1).
NodeId context_clone(Cell* object, uint32_t kind);
// A context of the word!, get-word!, lit-word! and refinement! items of a spec
// block (from its position); set-words and other values are skipped.
NodeId context_collect_words(const Cell* spec, bool on_stack, bool maker_flag, uint32_t kind);

// --- lookup and adding ------------------------------------------------------------

// Slot index of the word with that symbol (exact, or any case variant when
// caseless), or -1.
int32_t context_find_word(NodeId ctx, uint32_t symbol, bool caseless);
// As context_find_word, adding the symbol when absent: then -1, with the new
// slot index in *out (which may be null).
int32_t context_find_or_add(NodeId ctx, uint32_t symbol, bool caseless, int32_t* out);
// Caseless find-or-add of the word's symbol; the slot index.
int32_t context_add_word(NodeId ctx, const Cell* word);
// Caseless find-or-add, then the value is copied into the word's slot.
Cell* context_add_with_value(NodeId ctx, const Cell* word, const Cell* value);
// Caseless find-or-add; only a new word gets the value. nullptr when the word
// was there.
Cell* context_add_if_new(NodeId ctx, const Cell* word, const Cell* value);
// Adds the set-word!s of a block, from its position (first clamped to the tail
// and written back), to the context. Whether the word list grew.
bool context_collect_set_words(NodeId ctx, Cell* block);

// --- the global context -------------------------------------------------------------

// The global word of a symbol, added when absent. With caseless and copy, a
// case variant found in its place comes back with the asked spelling (and the
// variant's slot).
Cell context_global_slot(uint32_t symbol, bool caseless, bool copy);
// Exact lookup, adding the symbol; recorded while start-up word mode is on.
Cell context_add_global(uint32_t symbol);
void context_set_global(uint32_t symbol, const Cell* value);
// Caseless lookup; a symbol not in the global context raises script no-value.
Cell* context_global_value_cell(uint32_t symbol);
// Caseless lookup in a context, or in the global context when its values live
// on the stack; an absent symbol raises script no-value.
Cell* context_symbol_value_cell(uint32_t symbol, NodeId ctx);
// The word of that symbol in the context (exact lookup), else its global word.
Cell context_symbol_cell_or_global(NodeId ctx, uint32_t symbol);

// --- setting ---------------------------------------------------------------------

// Called for an assignment to a field of an object that has change handlers:
// the object (its self cell), the field word, the old and the new value, all
// on the data stack. Filled by the object module.
extern void (*context_on_change)(Cell* object, Cell* word, Cell* old_value, Cell* new_value);

// Sets a word's value in a context (an unresolved word is first resolved
// there, or added, and its index written back). Script not-defined for a
// context without values. An object's field gets its changed mark, and with
// notify its change handler hears of it. Returns the slot.
Cell* context_set_in(Cell* word, const Cell* value, NodeId ctx, bool notify);

// --- binding --------------------------------------------------------------------

// Caseless lookup of the word's symbol; when found the word is bound to the
// context with that slot. The slot index or -1 (the word keeps its binding).
int32_t context_bind_word(NodeId ctx, Cell* word);
// Binds the words of a block deep (blocks, parens, paths and hashes inside);
// a block met again is skipped. With self, a word! spelt exactly `self` is
// bound to the context's self cell (index -1). Returns the block.
Cell* context_bind_block(Cell* block, NodeId ctx, bool self);

void register_context();

} // namespace kem

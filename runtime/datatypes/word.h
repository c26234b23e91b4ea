// word!, set-word!, lit-word!, get-word! and refinement!: the language's names.
//
// All kinds share one cell: header type (15..19; issue! 20 shares the layout),
// payload word 1 the node of the context the word is bound to (0: unbound),
// word 2 its symbol id, word 3 its slot index in that context (-1 until
// resolved; a `self` word bound with -1 stands for the context's self cell).
// Retyping a word keeps its binding.
//
// Reading a bound word's value is one indexed load through its context:
// word_value_cell. Cell pointers returned here are good until the next
// allocation; stack cells stay put.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/context.h"

namespace kem {

// Makes the symbol table and the global context (once).
void words_init();

inline bool any_word_type(uint8_t t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }

// --- making words --------------------------------------------------------------

// Interns the name and gives its global word as the kind asked (caseless:
// a case variant keeps its spelling and shares the slot of the first). While
// start-up word mode is on, a copy also goes to the root block.
Cell word_load(const char* name, uint8_t type = TYPE_WORD);
// Appends the global word of the name to a block; returns the new cell.
Cell* word_load_in(const char* name, const Cell* block, uint8_t type = TYPE_WORD);
// A word! bound to the global context, its symbol added there when new.
Cell* word_make_at(uint32_t symbol, Cell* c);
Cell* word_make_in(uint32_t symbol, const Cell* block);
// Keeps a copy of the word in the root block; nullptr before it exists.
Cell* word_record(const Cell* word);

// While set (during start-up), every word made by word_load or added to the
// global context is also kept in the root block.
extern bool startup_word_mode;
// The datatype id the lexer gives the word's name.
int32_t word_scan_name(const Cell* word);

// An unbound refinement (context 0), kept in the root block.
Cell refinement_load(const char* name);

// --- pushing words -----------------------------------------------------------------

// A copy of word n of a context on the data stack, as the kind asked.
Cell* word_push_local(NodeId ctx, uint32_t n, uint8_t type = TYPE_WORD);
inline Cell* refinement_push_local(NodeId c, uint32_t n) { return word_push_local(c, n, TYPE_REFINEMENT); }

// --- values by context and slot -------------------------------------------------

Cell* word_local_cell(NodeId ctx, uint32_t n);
// Value n of the context's values series.
Cell* word_get_in(NodeId ctx, uint32_t n);
// Pushes a copy of value n; script not-defined (word n) without values.
Cell* word_push_frame_value(NodeId ctx, uint32_t n);
// The three setters give word n of an object its changed mark first.
// Pushes the old value n, then stores the value that was on top before it.
void word_set_local_push_old(NodeId ctx, uint32_t n);
void word_set_local_from_top(NodeId ctx, uint32_t n);

// --- values by word -----------------------------------------------------------------

// The value cell of a word in a context: a `self` word with index -1 gives
// the self cell of its own context. Script no-value for another unresolved
// word, not-in-context for a context without values.
Cell* word_value_cell_in(const Cell* word, NodeId ctx);
// Every word read goes through here: a bound word whose slot exists takes
// the inline path, everything else the full one.
inline Cell* word_value_cell(const Cell* word) {
    const NodeId ctx = word->data1;
    const int32_t index = static_cast<int32_t>(word->data3);
    if (ctx && index >= 0) [[likely]] {
        if (Cell* slot = context_value_slot_checked(ctx, uint32_t(index))) [[likely]] return slot;
    }
    return word_value_cell_in(word, ctx);
}
// Pushes a copy of the value; script no-value when it is unset!.
Cell* word_get(const Cell* word);
Cell* word_push_value_any(const Cell* word);
// Sets the word in its own context, telling an object's change handler.
Cell* word_set(Cell* word, const Cell* value);
// The current call's first argument is a word, its second the value: set,
// and the value becomes the result. Script need-value for unset!.
Cell* word_set_from_arg();
// lit-word/set, set-word/set, get-word/set, refinement/set: the same without
// the unset! test.
Cell* word_set_from_arg_any();
inline Cell* lit_word_set() { return word_set_from_arg_any(); }
// lit-word/get, set-word/get, refinement/get: the value of the word in the
// current call's first argument becomes the result, unset! or not.
Cell* word_get_from_arg();
inline Cell* set_word_get() { return word_get_from_arg(); }
// Resolves an unresolved word in its context (exact lookup; script no-value
// when absent), then stores an integer! in its slot.
int32_t word_set_integer(Cell* word, int32_t value);

// A string! sharing the symbol's cached string (not a copy), pushed.
Cell* word_push_name(const Cell* word);
Cell* word_symbol_cell(const Cell* word);

// --- actions -------------------------------------------------------------------------

Cell* word_make(Cell* proto, Cell* spec, int32_t type);
int32_t word_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t word_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t lit_word_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t set_word_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t get_word_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t refinement_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
// Operators: 0, 1 and 12 ignore case and kind; 2 strict (kind and spelling);
// 9 sameness (also the binding); 10 and 11 let word! match lit-word!, 11
// ignoring case; the others order the names as strings. -2 when the second
// is not a word, or when exactly one of the two is an issue!.
int32_t word_compare(Cell* value1, Cell* value2, CompareOp op);
// index? of the current call's first argument: none! when unresolved.
Cell* word_index_q();

void register_word();
void register_lit_word();
void register_set_word();
void register_get_word();
void register_refinement();

} // namespace kem

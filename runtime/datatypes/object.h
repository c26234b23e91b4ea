// object!: a context with a self value, its class id and its change handlers.
//
// object! (32) cell: payload word 1 the context node (kind 2); word 2 the class
// id (objects made from one spec share it; error objects 1, object_make_at 0);
// word 3 the on-set node: 0, or a block of two pair! cells the runtime keeps
// for itself, one for `on-change*` and one for `on-deep-change*`:
//   x: (field index << 16) | (local slot count & 0xFFFF), index -1 for none;
//   y: the handler's spec node when the count was taken.
// Cell 1 of the context (its self cell) is a copy of the object cell and is
// rewritten whenever the object cell is made or changes. error! (34) and port!
// keep the same layout and reuse these operations.
//
// Functions taking object cells copy them first: the cells may lie in buffers
// that move when anything allocates.
#pragma once
#include "runtime/core/stack.h"
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

constexpr uint32_t FIRST_CLASS_ID = 1000000;
constexpr uint32_t ERROR_CLASS_ID = 1;
// Header bit of an object's context! cell: the object owns series.
constexpr uint32_t CONTEXT_OWNER_FLAG = 0x10000;

inline NodeId object_context(const Cell* o) { return o->data1; }
inline uint32_t object_class_id(const Cell* o) { return o->data2; }
inline NodeId object_on_set(const Cell* o) { return o->data3; }
inline bool any_object_type(uint8_t t) { return t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT; }

// --- fields -------------------------------------------------------------------------

// The word cell at a 0-based index of a context's word list.
Cell* object_word_at(NodeId ctx, uint32_t index);
// Index of the word's symbol in the object (caseless), -1 when absent.
int32_t object_get_word_index(const Cell* obj, const Cell* word);
// The field index of a symbol in an object's context (caseless), or -1.
// Found indexes are kept in a cache keyed by the word list and the symbol:
// a field path finds its field without hashing.
int32_t object_field_index(NodeId ctx, uint32_t symbol);
// Drops the cached field indexes; the collector calls it as it marks, since
// a word list's node freed by a collection may be reused by another.
void object_field_cache_clear();
// The field's value cell, or the shared none cell when absent.
const Cell* object_rs_select(const Cell* obj, const Cell* word);
uint32_t object_count_words(const Cell* obj);
// Whether the word's value (or the value at index of the context) is an
// object! of that class id: compiled paths check their layout still holds.
bool object_unchanged_q(const Cell* word, uint32_t class_id);
void object_clear_changed(NodeId ctx);
// Clears the new-line marker of every cell of a cell series.
void clear_new_lines(NodeId series);

// --- making -------------------------------------------------------------------------

uint32_t object_next_class_id();
// Pushes an object over ctx and writes it into the self cell.
Cell* object_push(NodeId ctx, NodeId on_set, uint32_t class_id);
// Makes c an object with a new empty context for size words, class id 0.
Cell* object_make_at(Cell* c, uint32_t size);
// Re-makes the function in *fn (a cell of a context's values) with its body
// bound to ctx: script bad-func-def when it has no body.
void object_rebind_functions(NodeId values_owner, uint32_t index, NodeId ctx);
// Copies source into dst (a stack cell): a new context with the same words;
// see the make and copy actions for deep, types and fresh handlers.
Cell* object_clone(const Cell* source, Cell* dst, bool deep, Cell* types, bool fresh_handlers);
// Adds every word and value of the source to ctx (series copied deep,
// functions re-made); whether words were added.
bool object_extend_from(NodeId ctx, const Cell* source);
// Series values of src copied deep into dst by position, block copies bound to
// dst; other values copied only with all.
void object_copy_series_from(NodeId src, NodeId dst, bool all);
// construct: a new object (pushed) from an unevaluated spec, on a deep copy
// of proto when one is given.
Cell* object_construct(const Cell* spec, const Cell* proto, bool only);
bool object_construct_fields(NodeId ctx, const Cell* spec, bool only);

// --- change handlers (object_change.cpp) ---------------------------------------------

// The on-set block for the two handlers (index -1: none).
NodeId object_make_on_set(NodeId change_spec, int32_t change_index, int32_t change_count, NodeId deep_spec,
                          int32_t deep_index, int32_t deep_count);
// The on-set node for the handlers a context defines, or 0; script
// bad-field-set when a handler field holds no function.
NodeId object_link_handlers(NodeId ctx);
bool object_on_set_active_q(const Cell* obj);
// Links the handlers of the object (in place) and rewrites its self cell; an
// object with an on-deep-change* handler becomes the owner of its series.
void object_init_events(Cell* obj);
// Runs the object's on-change* handler with word, old and new. Errors leave as
// KemError, pending exits as PendingExit.
void object_call_on_change(const Cell* obj, const Cell* word, const Cell* old_value, const Cell* new_value);
void object_call_on_deep_change(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                                const Cell* new_value, int32_t index, int32_t part);
// A field of obj was assigned: series the object owns are linked again, then
// its on-change* hears of it.
void object_field_assigned(const Cell* obj, const Cell* word, const Cell* old_value, const Cell* new_value);
// Installs the context module's change hook.
void register_object_change();

// --- set and the actions (object_actions.cpp) ------------------------------------------

// set on an object.
void object_set_many(const Cell* obj, const Cell* value, bool any, bool only, bool some);
// The fields as "word: value" text; mold frames them (a line each unless
// flat, indented by level when indent), form writes them bare.
int32_t object_serialize(Cell* obj, Cell* buffer, const MoldArgs& refs, int32_t part, bool indent, int32_t level,
                         bool mold);
// Path access; a missing field pushes unset in get mode at the last element,
// else raises script invalid-path (last element) or unset-path.
Cell* object_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step);

Cell* object_make(Cell* proto, Cell* spec, int32_t type);
Cell* object_reflect(Cell* value, int32_t field_symbol);
int32_t object_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t object_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t object_compare(Cell* value1, Cell* value2, CompareOp op);
Cell* object_copy(Cell* value, Cell* result, const CopyArgs& refs);
Cell* object_put(Cell* target, Cell* key, Cell* value, const PutArgs& refs);
Cell* object_select(Cell* series, Cell* value, const SelectArgs& refs);
Cell* object_modify(Cell* target, Cell* field, Cell* value, const ModifyArgs& refs);

void register_object();

} // namespace kem

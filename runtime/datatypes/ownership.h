// Series ownership: which object owns a series reachable from its fields, and
// under which field, so that changes inside the series reach the object's
// on-deep-change* handler. (The word-list accessors are context_word_cell and
// context_symbols in context.h.)
//
// The table is keyed by node: the series node (payload word 2) of a series or
// bitset!, the context node (word 1) of an object. Each entry holds three
// cells: the owned value, the owner object and the owner's field word. An
// owned series carries SERIES_OWNED in its buffer flags, so unowned series pay
// one branch in every modifying action.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/series.h"

namespace kem {

// The table's node (0 until ownership_init); the collector marks it as a root
// and purges entries whose keys or owners died.
extern NodeId ownership_table;

void ownership_init();
// Links the value and everything reachable in it to the owner under word,
// then flags the owner's context as an owner.
void ownership_bind(const Cell* value, const Cell* owner, const Cell* word);
// Removes the owner links of the value and of what is nested in it.
void ownership_unbind(const Cell* value);
// Calls the owner's on-deep-change* when the value (a series, bitset! or
// object!) has an owner with change handlers; whether it did. new_value may
// be null (none).
bool ownership_check(const Cell* value, const Cell* action, const Cell* new_value, int32_t index, int32_t part);
// The owner cell of the node's entry (the field word follows it), or null.
Cell* ownership_find_owner(NodeId node);
// reflect value 'owned: the owner object of a series or bitset!, or none.
void ownership_reflect_owned(const Cell* value, Cell* out);
// modify value 'owned: none lets the value and what is nested in it go; a
// block [owner word] makes that object its owner under that word. Anything
// else, or a block whose first value is no object, changes nothing.
void ownership_modify_owned(const Cell* value, const Cell* spec);
// ownership_check for a series action, naming it by its change word.
bool ownership_check_change(const Cell* series, ChangeWord word, const Cell* value, int32_t index, int32_t part);

} // namespace kem

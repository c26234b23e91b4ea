// routine!: the library's low-level routines, C++ functions registered as
// values with their spec.
//
// routine! (29) cell: header type 29, ROUTINE_CELLS when made with the flag
// set, the arity (word! items of the spec) in bits 25-29; payload word 1 the
// context made from the spec, word 2 the spec node, word 3 the node of a
// five-cell extras block [body or none, argument list (unset until cached),
// integer! entry in the routine table, unset (the value itself once an op!
// wraps it), integer! extra argument].
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

// A routine's body. Its arguments are the cells from `args` on, in spec order
// (routine_get_arity of them); it returns the cell holding its result, or
// nullptr for unset.
using RoutineFn = Cell* (*)(Cell* args);

// A routine as a module offers it for start-up to bind to a global word.
struct RoutineEntry {
    const char* name;
    const char* spec;  // Kem source of its spec block
    RoutineFn fn;
};

constexpr uint32_t ROUTINE_CELLS = 0x8000;
constexpr uint32_t ROUTINE_ARITY_SHIFT = 25;
constexpr uint32_t ROUTINE_ARITY_MASK = 0x3E000000;
constexpr uint32_t ROUTINE_MAX_ARITY = 31;

// Adds a body to the routine table; its entry number, from 1.
uint32_t routine_table_add(RoutineFn fn);
// The body of a routine value; nullptr when its entry names none.
RoutineFn routine_entry(const Cell* routine);

// Makes a routine! and pushes it: spec (copied first when its position is
// past its head), body or nullptr for none, routine table entry, extra
// argument, flag (sets ROUTINE_CELLS). Returns the pushed cell.
Cell* routine_push(const Cell* spec, const Cell* body, uint32_t entry, int32_t extra, bool flag);
// Adds fn to the table and pushes the routine! of that spec, as the boot
// code makes its routines (no body, extra -1, flag 0).
Cell* routine_register(const Cell* spec, RoutineFn fn);

uint32_t routine_get_arity(const Cell* routine);
// Counts the word! items of the spec from its head (at most 31) into the header.
void routine_set_arity(Cell* routine);

int32_t routine_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t routine_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t routine_compare(Cell* value1, Cell* value2, CompareOp op);

void register_routine();

} // namespace kem

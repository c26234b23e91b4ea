// native!, action! and op!: built-in functions as values, and the operators
// that call a two-argument callable infix.
//
// native! (21) / action! (22) cell: payload word 1 the entry's number, from
// 1: the index in the native table, or the action slot; word 2 the node of
// the spec block (read from its head); word 3 the node of a two-cell extra
// block [a context! cell of an empty function context, the argument list
// (none until the first call builds it)].
//
// op! (23) cell: a copy of the wrapped callable's cell whose header is
// 23 | (wrapped type id << 16), so words 1..3 are the wrapped value's: for a
// native or action its number, for a function! or routine! its context node;
// then the spec node and the extra node. A wrapped function or routine also
// keeps a copy of itself in the fourth cell of its extras block.
//
// Every callable (native!, action!, op!, function!, routine!) keeps its spec
// node in word 2 and its extras node in word 3, and the argument list in the
// second extras cell.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

constexpr uint32_t NATIVE_TABLE_SIZE = 120;

// How many entries the native table holds (numbered from 1). The natives
// module keeps it current as it fills the table; making a native! refuses a
// number beyond it.
extern uint32_t native_table_count;

inline bool any_callable_type(uint8_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// --- native! and action! -------------------------------------------------------

// Writes a native! or action! (type 21 or 22) of entry `number` over the spec
// block into out; the spec is kept from its head. No range check: the boot
// code knows its tables.
Cell* native_make_at(Cell* out, uint8_t type, uint32_t number, const Cell* spec);
Cell* native_push(uint32_t index, const Cell* spec);

// The native! and action! values start-up made, kept by number for the rest
// of the run: how a native reads its arguments follows its spec, so one read
// from outside data stands for the value start-up made, never for a new one
// over a spec from outside. native_kept gives nullptr when none was kept.
void native_keep(const Cell* value);
const Cell* native_kept(uint8_t type, uint32_t number);
Cell* action_push(uint32_t slot, const Cell* spec);
// The native table index or action slot, from 1.
inline uint32_t native_number(const Cell* c) { return c->data1; }

// --- op! ---------------------------------------------------------------------------

inline uint8_t op_wrapped_type(const Cell* op) { return static_cast<uint8_t>((op->header >> 16) & 0xFF); }
// Bits 8-15 of an op!'s header: the direct operation the evaluator computes
// for it without a call (0: none), fixed when the op is made, so that using
// an operator reads one byte instead of working it out each time.
inline uint8_t op_direct(const Cell* op) { return static_cast<uint8_t>(op->header >> 8); }
// The header of an op! wrapping the callable.
uint32_t op_header(const Cell* callable);
// The evaluator's rule for which direct operation an op over (wrapped,
// number) stands for; until it is set, none does.
void set_op_direct_rule(uint8_t (*rule)(uint8_t wrapped, uint32_t number));
// The callable an op calls: the wrapped function! or routine! itself (with
// its header flags), or the op retyped to native! or action!.
Cell op_callable(const Cell* op);
// Whether a spec block (read from its position) describes a binary
// operator: two arguments, the first a plain word, nothing but /local or
// /extern after them.
bool op_spec_binary(const Cell* spec);

// --- shared by every callable ------------------------------------------------------

// The spec block at its head.
inline Cell callable_spec(const Cell* callable) { return Cell{TYPE_BLOCK, 0, callable->data2, 0}; }
inline NodeId callable_extras(const Cell* callable) { return callable->data3; }
// Cell n of the extras block; good until the next allocation.
inline Cell* callable_extra_cell(const Cell* callable, uint32_t n) {
    return node_buffer(callable->data3)->cell_head() + n;
}

// --- actions ---------------------------------------------------------------------------

Cell* native_make(Cell* proto, Cell* spec, int32_t type);
Cell* op_make(Cell* proto, Cell* spec, int32_t type);
Cell* native_reflect(Cell* value, int32_t field_symbol);
int32_t native_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t native_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t op_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t native_compare(Cell* value1, Cell* value2, CompareOp op);

void register_native();
void register_action();
void register_op();

} // namespace kem

// block!: a series of 16-byte cells, the list that program text and data are
// made of. paren!, hash! and the path types share its layout and most of its row.
//
// Cell pointers into a block's buffer are good only until the next allocation
// that may grow that buffer: keep the block cell (node and position) or a cell
// index across allocations and re-derive the pointer.
#pragma once
#include <cstdint>
#include <vector>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/series.h"

namespace kem {

// --- direct accessors (rs) ---------------------------------------------------

// Cells from the position to the tail; negative when the position is past the tail.
inline int32_t block_rs_length(const Cell* blk) {
    const SeriesBuffer* b = series_buffer(blk);
    return int32_t(b->used() >> 4) - series_position(blk);
}
// Cells from the head to the tail.
inline uint32_t block_full_length(const Cell* blk) { return series_buffer(blk)->used() >> 4; }
// The cell at the position; a position outside head..tail is clamped in the
// cell first.
Cell* block_rs_head(Cell* blk);
// Just past the last cell.
inline Cell* block_rs_tail(const Cell* blk) { return series_buffer(blk)->cell_tail(); }
// The cell `index` cells from the head (no check).
inline Cell* block_rs_abs_at(const Cell* blk, uint32_t index) { return series_buffer(blk)->cell_head() + index; }
// Tail = head + index cells.
void block_set_tail_at(const Cell* blk, uint32_t index);

// The cells from the position to the tail (at most limit of them when it is not
// negative), copied out of the buffer, so that writing to any buffer (the
// block's own included) cannot disturb them.
std::vector<Cell> block_cells_copy(const Cell* blk, int64_t limit = -1);

// --- appending and inserting ---------------------------------------------------

// Appends a copy of value at the tail (the value may lie in the block itself)
// and returns the new cell.
Cell* block_append_cell(const Cell* blk, const Cell* value);
// Drops the last cell; a position past the new tail is clamped to it.
void block_remove_last(Cell* blk);
// Appends copies of the source's cells from its position to its tail.
void block_append_all(const Cell* target, const Cell* source);
// Inserts a copy of value at the position (at the head with at_head), then
// with advance moves the position past it. Returns blk.
Cell* block_insert_value(Cell* blk, const Cell* value, bool advance, bool at_head);
// Inserts the source's cells from its position, keeping their order.
void block_insert_all(Cell* blk, const Cell* source);

// --- lookups -----------------------------------------------------------------------

// The cell after the first cell from the position equal to value (compare
// find equality), or the shared none cell when there is none.
const Cell* block_select_value(const Cell* blk, Cell* value);
// The same for words: only word!, set-word!, lit-word! and get-word! cells
// take part; without case_ spellings that differ in letter case are equal.
const Cell* block_select_word(const Cell* blk, Cell* word, bool case_);
// Removes the first cell equal to value from the position (from the head with
// from_head). Answers -1 when nothing matched, 1 when the removed cell was at or
// before the position, 0 when it was after it.
int32_t block_remove_value(Cell* blk, Cell* value, bool from_head);

// --- making ---------------------------------------------------------------------------

// An empty block with room for n cells (n below 1 counts as 1) made in cell c.
Cell* block_make_at(Cell* c, int32_t n);
// As block_make_at with every cell of the capacity set to unset!; with heap
// the buffer lives on the process heap and never moves.
Cell* block_make_filled_at(Cell* c, int32_t n, bool heap);
// A new empty block of room n in a new cell appended to parent (heap buffer
// for the filled variant); returns that cell.
Cell* block_make_in(const Cell* parent, int32_t n);
// Pushes a new empty block with room for n cells (1 when n is 0).
Cell* block_push_only(int32_t n);
// Pushes a new block of the source's type holding copies of its cells from the
// position. With deep, nested block! values are cloned too (and with any_block
// also paren! and paths); script no-cycle for a block that contains itself.
Cell* block_clone(const Cell* blk, bool deep, bool any_block);
// block_clone into a given cell instead of a pushed one.
Cell* block_clone_at(Cell* out, const Cell* blk, bool deep, bool any_block);

// --- actions ----------------------------------------------------------------------------

Cell* block_make(Cell* proto, Cell* spec, int32_t type);
Cell* block_to(Cell* proto, Cell* spec, int32_t type);
int32_t block_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t block_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
// The cells of a block, molded with separators and new-line markers (no
// brackets); shared by block! and paren!.
int32_t block_mold_each(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t block_compare(Cell* value1, Cell* value2, CompareOp op);
int32_t block_compare_each(Cell* value1, Cell* value2, CompareOp op);
Cell* block_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step);
// Path access with an explicit case flag (the action entry ignores case).
Cell* block_eval_path_case(Cell* parent, Cell* element, Cell* value, Cell* path, bool case_);

Cell* block_find(Cell* series, Cell* value, const FindArgs& refs);
Cell* block_select(Cell* series, Cell* value, const SelectArgs& refs);
Cell* block_put(Cell* series, Cell* key, Cell* value, const PutArgs& refs);
// append and insert: part is a cell count of the value (-1 for all), dup the
// repeat count; append leaves the series at its head, insert just past the
// new cells.
Cell* block_append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Cell* block_change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* block_take(Cell* series, const TakeArgs& refs);
Cell* block_swap(Cell* series1, Cell* series2);
Cell* block_trim(Cell* series, const TrimArgs& refs);
Cell* block_sort(Cell* series, const SortArgs& refs);

// What the sorts of block!, string! and vector! share. Comparator flags: bit 0
// /reverse, bit 1 whole records, bits 2 and up the record size (whole
// records) or the field offset.
constexpr uint32_t SORT_REVERSE = 1;
constexpr uint32_t SORT_ALL = 2;
// Resolves /part, /skip and the comparator into the range [*pos, *pos + *n)
// of records of *size units and the flags; false when there is nothing to sort.
bool sort_prepare(Cell* series, int32_t length, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
                  int32_t* pos, int32_t* n, int32_t* size, uint32_t* flags);
// Calls a Kem comparator with two arguments and maps its answer to an order:
// true, a positive number or any other value 1; false, none or a negative
// number -1. An exit aimed outside the sort leaves as PendingExit.
int32_t sort_call_comparator(const Cell* fn, const Cell* first, const Cell* second);
// The default sort of records of size cells whose cell at field is an
// integer! in every record, or a string of one kind in every record, by keys
// resolved once; false, with nothing changed, for any other records.
bool block_sort_by_keys(Cell* cells, uint32_t records, uint32_t size, uint32_t field, bool reverse, bool case_,
                        bool stable);
Cell* block_copy(Cell* series, Cell* result, const CopyArgs& refs);
// Replaces in place each cell of the cell buffer `node` at indexes start,
// start + step, ... below end (from the head) whose type is in types (a
// typeset! or a datatype!) and that is a series, bitset!, object!, error! or
// map!, by its copy (deep, with the same types, when deep is set).
void block_copy_types(NodeId node, uint32_t start, uint32_t end, uint32_t step, bool deep, Cell* types);

// Whether a type is in a typeset!, or is the type a datatype! names.
bool block_types_match(const Cell* types, uint8_t type);

void register_block();

} // namespace kem

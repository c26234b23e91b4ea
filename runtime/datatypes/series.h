// series!: the abstract parent of every series type. Its row holds the actions
// that work on any series buffer in units (16-byte cells, 1/2/4-byte code
// points, bytes): navigation, pick and poke, clear, remove, reverse, move, and
// the cores of copy and take that block! and string! build on.
//
// A position (payload word 1) is a signed index in units from the buffer's head;
// it may lie past the tail after the series shrank. Every function says how it
// treats such positions; modifying actions never write outside head..tail.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

// --- buffer access ---------------------------------------------------------

inline SeriesBuffer* series_buffer(const Cell* s) { return node_buffer(series_node(s)); }
inline int32_t series_position(const Cell* s) { return static_cast<int32_t>(s->data1); }
inline void set_series_position(Cell* s, int64_t pos) { s->data1 = static_cast<uint32_t>(static_cast<int32_t>(pos)); }
// log2 of the unit size: 0, 1, 2 or 4.
inline uint32_t unit_shift(const SeriesBuffer* b) {
    uint32_t u = b->unit();
    return u ? static_cast<uint32_t>(__builtin_ctz(u)) : 0;
}
inline uint32_t unit_bytes(const SeriesBuffer* b) { return b->unit() ? b->unit() : 1; }
// Cell `offset` from the head of a block-kind series (no check). The pointer is
// good until the next allocation.
inline Cell* series_cell_at(const Cell* s, uint32_t offset) { return series_buffer(s)->cell_head() + offset; }

// True when the position is at or past the tail.
bool series_at_tail(const Cell* s);
// Units in the whole buffer, head to tail (an image's pixels).
uint32_t series_unit_count(const Cell* s);
// Adds n to the position when that stays at or before the tail; answers
// whether the new position would be at or past the tail.
bool series_advance(Cell* s, int32_t n);
// Units from the position (or the head) to the tail. A negative position counts
// as 0; a position past the tail is clamped in the cell and gives 0.
int32_t series_length_at(Cell* s, bool from_head);
// The core of at and skip: the series in the current call's result cell, the
// offset in the next argument cell. Script invalid-arg for a non-integer offset.
int32_t series_move_position(bool at);

// The count a /part argument gives for series s: an integer! as is, a position
// in the same buffer (same type) as the distance from s's position; anything
// else raises script invalid-refine-arg naming part.
int64_t series_part_count(const Cell* s, const Cell* part);

// The words `part` and `skip` that errors about those refinements' arguments
// name. The runtime word table stores them once symbols exist; they are none!
// before that.
extern Cell word_part;
extern Cell word_skip;

// The unit at `offset` from the head as a value, written into out: the cell of
// a block kind, an integer! byte of a binary!, a char! of a string kind.
void series_element_at(const Cell* series, uint32_t offset, Cell* out);
// Removes count units at offset from the head, closing the gap (the caller
// keeps offset + count within the tail).
void series_delete_units(Cell* series, uint32_t offset, uint32_t count);

// --- change notification ---------------------------------------------------

// The words a series' owner hears: each action's own word before the change,
// its past tense after it.
enum class ChangeWord : uint8_t {
    append, appended, insert, inserted, change, changed, clear, cleared, move, moved, poke, poked,
    put, put_ed, remove, removed, random, randomized, reverse, reversed, sort, sorted, swap, swaped,
    take, taken, trim, trimmed, uppercase, lowercase,
};

// Tells the owner object of the series about a change. Reached only for
// buffers flagged SERIES_OWNED, so an unowned series pays one branch. Answers
// whether an owner was told; the after-change call is made only then.
bool series_notify_owner_slow(const Cell* series, ChangeWord word, const Cell* value, int32_t index, int32_t part);
inline bool series_notify_owner(const Cell* series, ChangeWord word, const Cell* value = nullptr, int32_t index = -1,
                                int32_t part = -1) {
    SeriesBuffer* b = series_buffer(series);
    // Every change passes here: what was derived from the contents goes.
    series_changed(b);
    if (!(b->flags & SERIES_OWNED)) [[likely]]
        return false;
    return series_notify_owner_slow(series, word, value, index, part);
}

// --- actions of the series! row (also called directly) ---------------------

// Navigation: the series is the current call's result cell, changed in place.
Cell* series_head();
Cell* series_tail();
Cell* series_back();
Cell* series_next();
Cell* series_at();
Cell* series_skip();
Cell* series_head_q();
Cell* series_tail_q();
Cell* series_index_q();
int32_t series_length_q(Cell* series);

// The element at index (1 = the position, negative counts back from it): the
// cell itself in a block, a char! or integer! written into `series` otherwise,
// the shared none cell outside the series.
Cell* series_pick(Cell* series, int32_t index, Cell* boxed);
// Writes data at index; script out-of-range outside the series. Answers data.
Cell* series_poke(Cell* series, int32_t index, Cell* data, Cell* boxed);
Cell* series_clear(Cell* series);
Cell* series_remove(Cell* series, const RemoveArgs& refs);
Cell* series_reverse(Cell* series, const ReverseArgs& refs);
// Shuffles the units from the position in place; /only picks one element (as
// pick converts it, none! for an empty range); /seed seeds the generator from
// the units and leaves the series cell unset!.
Cell* series_random(Cell* series, const RandomArgs& refs);
// Moves units from origin to target; answers target (origin when a range
// moved forward within one buffer has too few units after the target).
Cell* series_move(Cell* origin, Cell* target, const MoveArgs& refs);

// Copy core: a shallow copy of the units from the position (or the /part
// range) into `result`, a new buffer at position 0. Answers result.
Cell* series_copy(Cell* series, Cell* result, const CopyArgs& refs);
// Take core: removes units from the series. With /part the answer is a new
// series of the source's type pushed on the data stack; without it the one
// taken element itself is pushed (converted as pick converts). When nothing
// follows the position the series cell becomes none! and is the answer.
Cell* series_take(Cell* series, const TakeArgs& refs);
// The owner of a series: reflect and modify with the field owned.
Cell* series_reflect(Cell* series, int32_t field);
Cell* series_modify(Cell* series, Cell* field, Cell* value, const ModifyArgs& refs);

void register_series();

} // namespace kem

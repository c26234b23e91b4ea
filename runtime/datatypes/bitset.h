// bitset!: a set of non-negative integers (most often code points), held as a
// bit array that grows on demand.
//
// Cell: payload word 2 the node of a byte series (unit 1); words 1 and 3 are
// unused. Bit n lives in byte n >> 3 under the mask 0x80 >> (n & 7). The
// stored bits are the membership itself; every bit beyond the array is a
// member exactly when the buffer carries SERIES_COMPLEMENT. Every operation
// keeps that reading, so a complemented set behaves as the set it stands for.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/series.h"

namespace kem {

// Bit numbers must stay below this, so that length? (bits) fits an integer!.
constexpr int64_t BITSET_BIT_LIMIT = 0x7FFFFFF8;

enum BitsetOp : int32_t { BITSET_MEASURE = 0, BITSET_SET = 1, BITSET_TEST = 2, BITSET_CLEAR = 3 };
// Which error an unusable spec value raises: bad-make-arg, bad-to-arg, or
// invalid-arg for the other actions.
enum BitsetErrors : int32_t { BITSET_MAKE_ERRORS = 0, BITSET_TO_ERRORS = 1, BITSET_ACTION_ERRORS = 2 };

inline bool bitset_complemented(const Cell* bs) { return (series_buffer(bs)->flags & SERIES_COMPLEMENT) != 0; }
// Bytes in the bit array.
inline uint32_t bitset_byte_count(const Cell* bs) { return series_buffer(bs)->used(); }
// The first byte of the array and just past the last; good until the next allocation.
inline uint8_t* bitset_rs_head(const Cell* bs) { return series_buffer(bs)->head_ptr(); }
inline uint8_t* bitset_rs_tail(const Cell* bs) { return series_buffer(bs)->tail_ptr(); }
// Whether bit n lies inside the array.
inline bool bitset_bit_in_range_q(const Cell* bs, int64_t n) {
    return n >= 0 && (n >> 3) < int64_t(bitset_byte_count(bs));
}
// Whether n is a member (a negative n answers as a bit beyond the array).
bool bitset_member_q(const Cell* bs, int64_t n);

// Grows the array to hold bit n; the new bytes are 0x00, or 0xFF on a
// complemented set, so no membership changes. Script out-of-range naming
// `value` (an integer! of n when null) for n from BITSET_BIT_LIMIT.
void bitset_ensure_bit(const Cell* bs, int64_t n, const Cell* value);
// Inverts every byte of the array in place.
void bitset_invert_bytes(const Cell* bs);
// A new bitset of `bytes` bytes of 0x00 (of 0xFF and complemented) made in c.
Cell* bitset_make_at(Cell* c, uint32_t bytes, bool complemented);

// Applies a spec (char!, integer!, float!, string!, block! with ranges such as
// [#"a" - #"z"]) to a bitset with one of BitsetOp. Answers: measure and set,
// the bytes the spec needs ((highest bit + 8) >> 3, at least 1); test, 1 when
// every bit the spec names is a member, else 0; clear, 0. Nested: the raw
// answer of one value inside a spec (the highest bit for measure and set).
// A measure needs no bitset (null).
int64_t bitset_process(const Cell* spec, const Cell* bitset, int32_t op, bool nested, int32_t errors);
// A new bitset from a spec, pushed on the data stack (mode 0 make, 1 to). A
// block starting with the word `not` makes the complement of the rest.
Cell* bitset_make_from(const Cell* spec, int32_t mode);

// The combination of two bitsets into out (a new bitset): op 5 or and 9
// union, 6 and~, 10 intersect, 7 xor and 12 difference, 11 exclude. The member
// test of the result is the operation on the member tests of the operands,
// for every integer.
void bitset_combine(const Cell* a, const Cell* b, int32_t op, Cell* out);
// The same on the current call's two arguments, the result replacing the
// first; op 8 leaves the first as it is. Script invalid-type when the second
// argument is not a bitset!.
Cell* bitset_do_bitwise(int32_t op);

// --- actions -----------------------------------------------------------------------

Cell* bitset_make(Cell* proto, Cell* spec, int32_t type);
Cell* bitset_to(Cell* proto, Cell* spec, int32_t type);
int32_t bitset_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t bitset_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t bitset_compare(Cell* value1, Cell* value2, CompareOp op);
Cell* bitset_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step);
Cell* bitset_complement(Cell* value);
Cell* bitset_negate(Cell* value);
Cell* bitset_and();
Cell* bitset_or();
Cell* bitset_xor();
Cell* bitset_append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Cell* bitset_clear(Cell* series);
Cell* bitset_copy(Cell* value, Cell* result, const CopyArgs& refs);
Cell* bitset_find(Cell* series, Cell* value, const FindArgs& refs);
int32_t bitset_length_q(Cell* series);
// The spec is `boxed` (the index value itself).
Cell* bitset_pick(Cell* series, int32_t index, Cell* boxed);
Cell* bitset_poke(Cell* series, int32_t index, Cell* data, Cell* boxed);
Cell* bitset_remove(Cell* series, const RemoveArgs& refs);

void register_bitset();

} // namespace kem
